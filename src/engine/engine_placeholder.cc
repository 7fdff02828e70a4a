// Placeholder so the engine library exists before its first source lands.
