// The player's entry behind the operating system's own entry point.
#pragma once

// Runs the player on the process's argument text; returns the exit code:
// 0 after a normal end, 1 after an error or the help box.
int PlayerMain(const char* args);
