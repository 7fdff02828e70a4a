// The memory back end: a "DIB" of plain memory in the 32-bit BGRX format and
// no DirectDraw. Systems without a window system of their own use it (the
// pictures go nowhere), and front ends that present the memory themselves
// (SDL) start from its table.
#include "display/display_memory.h"

#include "base/engine_memory.h"
#include "convert/copy_to_buffer.h"

namespace {

DisplayScreen g_screen = {1024, 768, 32, 4, 0, 0};
int g_gdi_refs = 0;

int NoDirectDraw(void*, int) { return 0; }
void Nothing() {}
int NoRefs() { return 0; }
int GdiOpen(void*, int) {
  ++g_gdi_refs;
  return 1;
}
void GdiRelease() {
  if (g_gdi_refs > 0) --g_gdi_refs;
}
const DisplayScreen* Screen() { return &g_screen; }
int NoSurface(DisplayBuffer*, uint32_t, DisplayPixelFormat*) { return 0; }
int NotLockable(DisplayBuffer*) { return 0; }

}  // namespace

int DisplayMemoryDibCreate(DisplayBuffer* b) {
  // Lines padded to 32 bytes like a DIB section's.
  const uint32_t padded = (b->width + 7) & ~7u;
  const uint64_t bytes = uint64_t{padded} * 4 * b->height;
  if (bytes > 0x40000000u) return 0;
  auto* memory = static_cast<uint8_t*>(EngineAlloc(static_cast<uint32_t>(bytes)));
  if (!memory) return 0;
  b->dib_bits = memory;
  b->dib_pitch = static_cast<int32_t>(padded * 4);
  b->flags = (b->flags & ~DISPLAY_FORMAT_MASK) | COPY_BGRX32;
  return 1;
}

void DisplayMemoryDestroy(DisplayBuffer* b) {
  EngineFree(b->dib_bits);
  b->dib_bits = nullptr;
}

int DisplayMemoryLock(DisplayBuffer* b, uint8_t** memory, int32_t* pitch) {
  if (!b->dib_bits) return DISPLAY_LOCK_FAILED;
  *memory = b->dib_bits;
  *pitch = b->dib_pitch;
  return DISPLAY_LOCK_OK;
}

namespace {

void NoUnlock(DisplayBuffer*) {}
void NoPresent(DisplayBuffer*, const MovieRect*, int) {}
void NoAttach(DisplayBuffer*) {}
void Origin(void*, int32_t* x, int32_t* y) { *x = *y = 0; }
void NoPlace(DisplayBuffer*, int) {}
int NoCursor(DisplayBuffer*) { return 0; }
uint32_t NoHide(DisplayBuffer*) { return 0; }
void NoShow(uint32_t) {}

constexpr DisplayBackend kMemoryBackend = {
    NoDirectDraw, Nothing,        NoRefs,        GdiOpen,    GdiRelease, Screen,  NoSurface,
    NotLockable,  DisplayMemoryDibCreate, DisplayMemoryDestroy, DisplayMemoryLock, NoUnlock,
    NoPresent,    NoAttach,       Origin,        NoPlace,    NoCursor,   NoHide,  NoShow,
    nullptr,
};

}  // namespace

const DisplayBackend* DisplayMemoryBackend() { return &kMemoryBackend; }
void DisplayMemorySetScreen(const DisplayScreen& screen) { g_screen = screen; }
