// Inputs and outputs by name, where "-" stands for standard input or
// standard output, so the tool sits in pipelines of media tools.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

inline bool IsStdio(const char* path) { return path && path[0] == '-' && path[1] == 0; }
// How messages name an input.
inline const char* InputName(const char* path) { return IsStdio(path) ? "standard input" : path; }

// Null when the file cannot be opened. Standard streams are switched to
// binary and never closed by CloseInput/CloseOutput.
std::FILE* OpenInput(const char* path);
std::FILE* OpenOutput(const char* path);
void CloseInput(std::FILE* file);
// Flushes (standard output) or closes; false when anything failed to reach
// its destination.
bool CloseOutput(std::FILE* file);

bool ReadWholeInput(const char* path, std::vector<uint8_t>* bytes);
bool WriteWholeOutput(const char* path, const std::vector<uint8_t>& bytes);
