// Placeholder so the sound library exists before its first source lands.
