// Placeholder so the convert library exists before its first source lands.
