// The memory back end (see display_memory.cc) and its parts, for front ends
// that present the memory themselves.
#pragma once
#include <cstdint>

#include "display/display_backend.h"

const DisplayBackend* DisplayMemoryBackend();
// The screen the memory back end reports (1024 x 768 x 32 until set).
void DisplayMemorySetScreen(const DisplayScreen& screen);
int DisplayMemoryDibCreate(DisplayBuffer* buffer);
void DisplayMemoryDestroy(DisplayBuffer* buffer);
int DisplayMemoryLock(DisplayBuffer* buffer, uint8_t** memory, int32_t* pitch);
