// Placeholder so the input library exists before its first source lands.
