// What the display buffer needs from the window system, as a table of
// operations: the Windows back end (DirectDraw loaded at run time, GDI), the
// plain memory back end of systems without one, the SDL front end's, and the
// fakes of the tests. The style choice, scaling, placement and black fills
// stay in the portable display_buffer.cc.
#pragma once
#include <cstdint>

#include "display/display_buffer.h"

// What the back end knows about the screen (process-wide).
struct DisplayScreen {
  uint32_t width, height;
  uint32_t bits;          // bits per pixel of the screen; 0 = not read yet
  uint32_t bytes;         // bytes per pixel of the screen surface
  uint32_t overlay_caps;  // CAP_* the overlays can do
  uint32_t blit_caps;     // CAP_* the off-screen blits can do
};

// Lock results.
enum : int { DISPLAY_LOCK_FAILED = 0, DISPLAY_LOCK_OK = 1, DISPLAY_LOCK_RESTORED = 2 };

struct DisplayBackend {
  // One DirectDraw reference; 1 when it was taken (DirectDraw usable), 0 when
  // DirectDraw is not available (nothing held).
  int (*direct_draw_open)(void* window, int mode_switch);
  void (*direct_draw_release)();
  int (*direct_draw_refs)();
  // One GDI mode reference; 0 when DirectDraw is open (nothing done).
  int (*gdi_mode_open)(void* window, int mode_switch);
  void (*gdi_mode_release)();
  const DisplayScreen* (*screen)();

  // The surface of a DirectDraw style (1, 3-10) in the movie's size, its
  // pixel format in *format. 0 when it cannot be made (a text may be set).
  int (*surface_create)(DisplayBuffer* buffer, uint32_t style, DisplayPixelFormat* format);
  // Style 1 only: 1 when the primary surface can be locked at all.
  int (*primary_lockable)(DisplayBuffer* buffer);
  // The DIB section: sets dib fields and the format bits in flags; 0 on failure.
  int (*dib_create)(DisplayBuffer* buffer);
  // Releases whatever surface_create or dib_create made.
  void (*surface_destroy)(DisplayBuffer* buffer);

  int (*lock)(DisplayBuffer* buffer, uint8_t** memory, int32_t* pitch);
  void (*unlock)(DisplayBuffer* buffer);
  // The style's presentation of count (> 0) rectangles in movie pixels (null:
  // the whole buffer); the back end scales them with DisplayScaleRect.
  void (*present)(DisplayBuffer* buffer, const MovieRect* rects, int count);

  // Clipper, client offsets and frame size, once the style is chosen.
  void (*window_attach)(DisplayBuffer* buffer);
  // Client origin of the window on the screen.
  void (*client_origin)(void* window, int32_t* x, int32_t* y);
  // Overlay placement; show: 1 show, 0 hide, -1 keep the shown state.
  void (*overlay_place)(DisplayBuffer* buffer, int show);
  // Software cursor handling around a lock of the screen surface.
  int (*cursor_probe)(DisplayBuffer* buffer);
  uint32_t (*cursor_hide_over)(DisplayBuffer* buffer);
  void (*cursor_show)(uint32_t count);
  // Text drawn into the buffer's own surface at a client rectangle, where a
  // window's GDI drawing would not be seen (the primary surface): yellow on
  // black, centred at the top. 0 when the style leaves text to the window.
  int (*draw_text)(DisplayBuffer* buffer, const char* text, int32_t left, int32_t top,
                   int32_t right, int32_t bottom);
};

// The back end in use: the system's unless replaced (tests, SDL front end).
// Null restores the system's.
void DisplaySetBackend(const DisplayBackend* backend);
const DisplayBackend* DisplayCurrentBackend();
// Defined per system (display/win32, display/posix).
const DisplayBackend* DisplaySystemBackend();

// The pending mode request, consumed by the first switch that reads it.
struct DisplayModeRequest {
  uint32_t width, height, depth_code;
};
DisplayModeRequest DisplayTakeModeRequest();
bool DisplayModeRequestComplete();
