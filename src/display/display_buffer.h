// The display buffer: the surface that each frame is copied into, and the
// way it reaches the screen inside the player's window (one of ten blitting
// styles), with the screen-mode, scaling, placement and cursor handling the
// styles share.
#pragma once
#include <cstdint>

#include "vorn/movie.h"

// ---- Open flags and result bits (one 32-bit word) ----------------------------
enum : uint32_t {
  DISPLAY_FORMAT_MASK = 0x0000000F,   // result: destination format for the copy
  DISPLAY_STYLE_MASK = 0x0000001F,    // open: 0 automatic, 1 to 10 a style
  DISPLAY_MODE_CHANGE = 0x00800000,   // open: switch to the requested screen mode
  // DISPLAY_DIRECT and DISPLAY_SCALED (results: the copy lands where it is
  // seen; presented with stretching) come from vorn/movie.h, for the
  // engine's rectangles read them.
  DISPLAY_REDRAW = 0x80000000,        // result: the next copy must copy everything
  DISPLAY_CAP_MASK = 0xFF000000,      // open: required scaling capabilities
};

// ---- Scaling capabilities (top byte) -------------------------------------------
// A bit for any factor always comes with the bit for integer factors.
enum : uint32_t {
  CAP_STRETCH_X_INT = 0x80000000,
  CAP_STRETCH_X = 0x40000000,
  CAP_SHRINK_X_INT = 0x20000000,
  CAP_SHRINK_X = 0x10000000,
  CAP_STRETCH_Y_INT = 0x08000000,
  CAP_STRETCH_Y = 0x04000000,
  CAP_SHRINK_Y_INT = 0x02000000,
  CAP_SHRINK_Y = 0x01000000,
  CAP_ALL = 0xFF000000,
};

// ---- Blitting styles -------------------------------------------------------------
enum : uint32_t {
  STYLE_AUTOMATIC = 0,
  STYLE_PRIMARY = 1,
  STYLE_DIB = 2,
  STYLE_YV12_OVERLAY = 3,
  STYLE_YUY2_OVERLAY = 4,
  STYLE_UYVY_OVERLAY = 5,
  STYLE_YV12_OFFSCREEN = 6,
  STYLE_YUY2_OFFSCREEN = 7,
  STYLE_UYVY_OFFSCREEN = 8,
  STYLE_RGB_VIDEO_OFFSCREEN = 9,
  STYLE_RGB_SYSTEM_OFFSCREEN = 10,
  STYLE_COUNT = 11,
};

inline bool StyleIsOverlay(uint32_t style) { return style >= 3 && style <= 5; }
inline bool StyleIsOffscreen(uint32_t style) { return style >= 6 && style <= 10; }

struct DisplayBuffer {
  uint32_t width, height;                 // the movie's size
  uint32_t window_width, window_height;   // outer window size around the presented size
  uint32_t flags;                         // format and result bits
  uint8_t* bits;                          // locked destination, null outside a lock
  int32_t pitch;
  int32_t client_x_offset, client_y_offset;  // client origin inside the window
  uint32_t screen_width, screen_height, screen_bits;
  uint32_t frame_width, frame_height;     // window size minus client size
  uint32_t caps;                          // scaling the style can do
  uint32_t presented_width, presented_height;
  void* surface;                          // the surface the buffer locks; null for the DIB
  void* clipper;
  int32_t screen_x, screen_y;             // client origin on the screen plus the offset
  int32_t x_offset, y_offset;             // picture position in the client area
  void* window;
  uint32_t is_overlay, is_offscreen, overlay_shown;
  uint32_t software_cursor, cursor_hidden;
  uint8_t* surface_memory;                // as returned by the surface lock
  uint32_t style;
  uint32_t is_primary;
  uint32_t holds_direct_draw, holds_gdi_mode;
  // The DIB style's GDI objects (the back end's types behind void).
  void* dib;
  uint8_t* dib_bits;
  int32_t dib_pitch;
  void* dib_header;
  void* memory_dc;
  void* old_bitmap;
  // Back-end data that has no place above (the SDL front end's texture...).
  void* extra;
  // The scaling the open was asked to support (CAP_* bits of its flags).
  uint32_t required_caps;
};

// ---- Operations -------------------------------------------------------------------
// Null with DisplayLastError() set when no style can be used.
DisplayBuffer* DisplayBufferOpen(void* window, uint32_t width, uint32_t height, uint32_t flags);
void DisplayBufferClose(DisplayBuffer* buffer);
int DisplayBufferLock(DisplayBuffer* buffer);
int DisplayBufferUnlock(DisplayBuffer* buffer);
// Presents count rectangles (movie pixels), or the whole buffer for a null list.
int DisplayBufferBlit(DisplayBuffer* buffer, const MovieRect* rects, int count);
int DisplayBufferClear(DisplayBuffer* buffer);
// Draws a line of text (yellow on black, centred at the top of the client
// rectangle) into the buffer's surface when the style needs it there; 0 when
// the caller draws it on the window itself.
int DisplayBufferDrawText(DisplayBuffer* buffer, const char* text, int32_t left, int32_t top,
                          int32_t right, int32_t bottom);
const char* DisplayBufferStyleName(const DisplayBuffer* buffer);
const char* DisplayLastError();
void DisplaySetLastError(const char* text);

// Presented size (0 = the screen's); 1 when the style can present it.
int DisplayBufferSetScale(DisplayBuffer* buffer, uint32_t width, uint32_t height);
// Picture position inside the client area.
void DisplayBufferSetOffset(DisplayBuffer* buffer, int32_t x, int32_t y);
// Adjusts a proposed window position so the client's first pixel is aligned.
void DisplayBufferAlignWindow(const DisplayBuffer* buffer, int32_t* x, int32_t* y);

// The screen mode the first mode switch goes to (/D): resolution size and
// depth code (16, 24, 32, 8, or 1-3 for the ordered choices). Width 0 = none.
void DisplaySetModeRequest(uint32_t width, uint32_t height, uint32_t depth_code);

// ---- Pure rules shared by the back ends (tested on their own) ---------------------
struct DisplayPixelFormat {
  uint32_t fourcc;  // 0 for RGB
  uint32_t bits;
  uint32_t red, green, blue, alpha;
};
// Destination format for a surface's pixel format: 0 unusable (8 bits), -1 unsupported.
int32_t DisplayFormatFromPixel(const DisplayPixelFormat& pf);
// The capability a presented size needs in one direction (0 = none); int_bit
// is the integer-stretch bit of that direction (CAP_STRETCH_X_INT or _Y_INT).
uint32_t DisplayScaleNeed(uint32_t presented, uint32_t movie, uint32_t int_bit);
// Black for new surfaces and DisplayBufferClear, by destination format.
void DisplayFillBlack(uint8_t* bits, int32_t pitch, uint32_t width, uint32_t height,
                      uint32_t format, uint32_t screen_bytes);
// The depths a depth code tries, in order; returns the count (0 for none).
uint32_t DisplayDepthList(uint32_t depth_code, uint32_t depths[3]);
// A rectangle of movie pixels scaled to the presented size (64-bit products).
MovieRect DisplayScaleRect(const DisplayBuffer* buffer, const MovieRect& r);
// Overlay source and destination after clipping the destination to the
// screen; false when nothing is left.
struct DisplayOverlayRects {
  int32_t src_left, src_top, src_right, src_bottom;
  int32_t dst_left, dst_top, dst_right, dst_bottom;
};
bool DisplayOverlayClip(const DisplayBuffer* buffer, DisplayOverlayRects* out);
// Whether a cursor rectangle meets the buffer's screen rectangle.
bool DisplayCursorOverlaps(const DisplayBuffer* buffer, int32_t x, int32_t y, int32_t w,
                           int32_t h);
