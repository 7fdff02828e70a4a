// Placeholder so the video library exists before its first source lands.
