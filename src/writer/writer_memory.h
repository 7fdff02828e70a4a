// The encoder's large allocations (the encoder records with their frame
// buffers) ask here first, so tests can refuse them one by one; a refusal
// makes the encode fail with "Out of memory." instead of ending the process.
#pragma once
#include <cstddef>

// hook(bytes) returns false to refuse. Null (the default) allows everything.
using WriterAllocHook = bool (*)(size_t bytes);
void WriterSetAllocHook(WriterAllocHook hook);

// Asks the hook; a refusal is remembered until WriterTakeRefusal.
bool WriterMayAllocate(size_t bytes);
// Whether an allocation was refused since the last call; clears the note.
bool WriterTakeRefusal();

inline constexpr const char* kWriterOutOfMemory = "Out of memory.";
