// Writing the embedded command line into a player executable (vorntool bundle).
#pragma once
#include <cstddef>
#include <cstdint>

// Writes text into the embedded command line of an executable image in
// memory: string 1 of a Windows executable's string table (UTF-16) or the
// marked array of a POSIX executable, the rest filled with '~'. False with a
// message when the image has no such place or text does not fit.
bool EmbeddedCommandPatch(uint8_t* image, size_t size, const char* text, char* error,
                          uint32_t error_size);
