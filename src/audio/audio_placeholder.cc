// Placeholder so the audio library exists before its first source lands.
