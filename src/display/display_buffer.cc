// The display buffer: choosing a blitting style, locking, presenting,
// scaling and placement, over the back end's operations.
#include "display/display_buffer.h"

#include <cstdio>
#include <cstring>

#include "base/engine_memory.h"
#include "display/display_backend.h"
#include "vorn/movie.h"

namespace {

const DisplayBackend* g_backend = nullptr;
char g_error[256];
DisplayModeRequest g_request;

constexpr const char* kStyleNames[STYLE_COUNT] = {
    "Automatic",
    "DirectDraw primary surface",
    "DIB Section",
    "DirectDraw YV12 overlay",
    "DirectDraw YUY2 overlay",
    "DirectDraw UYVY overlay",
    "DirectDraw YV12 off-screen surface",
    "DirectDraw YUY2 off-screen surface",
    "DirectDraw UYVY off-screen surface",
    "DirectDraw RGB off-screen video surface",
    "DirectDraw RGB off-screen system surface",
};

constexpr const char* kNoDirectDraw = "DirectDraw is not available";
constexpr const char* kNoStyle = "No capable blitting style available.";
constexpr const char* kVideoMode = "Video mode not supported.";
constexpr const char* kNoDib = "Unable to create DIBSection.";
constexpr const char* k256Colours = "256 color mode not supported.";

const DisplayBackend* Backend() { return g_backend ? g_backend : DisplaySystemBackend(); }

void SetError(const char* text) { std::snprintf(g_error, sizeof(g_error), "%s", text); }

uint32_t CapsNeeded(const DisplayBuffer* b) { return b->required_caps; }

// Fills a freshly made surface with black through a lock of its own.
void ClearSurface(DisplayBuffer* b) {
  uint8_t* memory = nullptr;
  int32_t pitch = 0;
  if (Backend()->lock(b, &memory, &pitch) == DISPLAY_LOCK_FAILED) return;
  DisplayFillBlack(memory, pitch, b->width, b->height, b->flags & DISPLAY_FORMAT_MASK,
                   Backend()->screen()->bytes);
  Backend()->unlock(b);
}

void SetFormat(DisplayBuffer* b, int32_t format, uint32_t extra) {
  b->flags = static_cast<uint32_t>(format) | extra;
}

bool TryPrimary(DisplayBuffer* b) {
  const DisplayBackend* be = Backend();
  if (CapsNeeded(b) || !be->primary_lockable(b)) return false;
  DisplayPixelFormat pf{};
  if (!be->surface_create(b, STYLE_PRIMARY, &pf)) return false;
  int32_t format = DisplayFormatFromPixel(pf);
  if (format <= 0) {
    if (format < 0) SetError(kVideoMode);
    be->surface_destroy(b);
    return false;
  }
  SetFormat(b, format, DISPLAY_DIRECT);
  b->is_primary = 1;
  b->caps = 0;
  b->software_cursor = static_cast<uint32_t>(be->cursor_probe(b));
  return true;
}

bool TrySurface(DisplayBuffer* b, uint32_t style) {
  const DisplayBackend* be = Backend();
  const bool overlay = StyleIsOverlay(style);
  const uint32_t caps = overlay ? be->screen()->overlay_caps : be->screen()->blit_caps;
  if (CapsNeeded(b) & ~caps) return false;
  // A YUV picture blitted into a palette of 256 colours comes out black: the
  // YUV off-screen styles need a screen of true colours. (An overlay has its
  // own colour key for 8-bit screens, and the device says whether it shows.)
  const uint32_t bits = be->screen()->bits;
  if (style <= STYLE_UYVY_OFFSCREEN && !overlay && bits && bits <= 8) return false;
  DisplayPixelFormat pf{};
  if (!be->surface_create(b, style, &pf)) return false;
  int32_t format = DisplayFormatFromPixel(pf);
  if (format <= 0) {  // an RGB surface in a format the copy cannot write
    if (format < 0) SetError(kVideoMode);
    be->surface_destroy(b);
    return false;
  }
  b->caps = caps;
  b->is_overlay = overlay;
  b->is_offscreen = !overlay;
  SetFormat(b, format, overlay ? uint32_t{DISPLAY_DIRECT} : (CapsNeeded(b) ? uint32_t{DISPLAY_SCALED} : 0u));
  ClearSurface(b);
  return true;
}

bool TryDib(DisplayBuffer* b, int mode_switch) {
  const DisplayBackend* be = Backend();
  b->style = STYLE_DIB;
  if (!b->holds_direct_draw && !b->holds_gdi_mode)
    b->holds_gdi_mode = static_cast<uint32_t>(be->gdi_mode_open(b->window, mode_switch));
  const DisplayScreen* screen = be->screen();
  bool made = screen->bytes >= 2 && be->dib_create(b);
  if (!made) {
    SetError(screen->bytes < 2 ? k256Colours : kNoDib);
    return false;
  }
  b->caps = CAP_ALL;
  SetFormat(b, static_cast<int32_t>(b->flags & DISPLAY_FORMAT_MASK),
            CapsNeeded(b) ? uint32_t{DISPLAY_SCALED} : 0u);
  return true;
}

bool TryStyle(DisplayBuffer* b, uint32_t style, int mode_switch) {
  b->style = style;
  if (style == STYLE_DIB) return TryDib(b, mode_switch);
  if (style == STYLE_PRIMARY) return TryPrimary(b);
  return TrySurface(b, style);
}

void SetFinalError() {
  const DisplayScreen* screen = Backend()->screen();
  SetError(screen->bits && screen->bits <= 8 ? k256Colours : kNoStyle);
}

// The automatic order: primary, DIB, then 3 to 10 while DirectDraw is held.
bool ChooseAutomatic(DisplayBuffer* b, int mode_switch) {
  if (!b->holds_direct_draw) {
    g_error[0] = 0;
    if (TryDib(b, mode_switch)) return true;
    SetFinalError();
    return false;
  }
  for (uint32_t style = STYLE_PRIMARY; style < STYLE_COUNT; ++style) {
    g_error[0] = 0;
    if (TryStyle(b, style, mode_switch)) return true;
  }
  SetFinalError();
  return false;
}

bool ChooseExplicit(DisplayBuffer* b, uint32_t style, int mode_switch) {
  g_error[0] = 0;
  if (style != STYLE_DIB && !b->holds_direct_draw) {
    SetError(kNoDirectDraw);
    return false;
  }
  if (TryStyle(b, style, mode_switch)) return true;
  if (!g_error[0]) SetFinalError();
  return false;
}

void ReleaseReferences(DisplayBuffer* b) {
  if (b->holds_direct_draw) Backend()->direct_draw_release();
  if (b->holds_gdi_mode) Backend()->gdi_mode_release();
  b->holds_direct_draw = b->holds_gdi_mode = 0;
}

void BuildRecord(DisplayBuffer* b) {
  const DisplayBackend* be = Backend();
  const DisplayScreen* screen = be->screen();
  b->screen_width = screen->width;
  b->screen_height = screen->height;
  b->screen_bits = screen->bits;
  be->window_attach(b);
  DisplayBufferSetOffset(b, 0, 0);
  b->presented_width = b->width;
  b->presented_height = b->height;
  DisplayBufferSetScale(b, b->width, b->height);
}

}  // namespace

void DisplaySetBackend(const DisplayBackend* backend) { g_backend = backend; }
const DisplayBackend* DisplayCurrentBackend() { return Backend(); }

const char* DisplayLastError() { return g_error; }
void DisplaySetLastError(const char* text) { SetError(text ? text : ""); }

void DisplaySetModeRequest(uint32_t width, uint32_t height, uint32_t depth_code) {
  g_request = {width, height, depth_code};
}

DisplayModeRequest DisplayTakeModeRequest() {
  DisplayModeRequest r = g_request;
  g_request = {};
  return r;
}

bool DisplayModeRequestComplete() {
  return g_request.width && g_request.height && g_request.depth_code;
}

DisplayBuffer* DisplayBufferOpen(void* window, uint32_t width, uint32_t height, uint32_t flags) {
  if (width == 0 || height == 0) return nullptr;
  auto* b = static_cast<DisplayBuffer*>(EngineAlloc(sizeof(DisplayBuffer)));
  if (!b) {
    SetError(kNoStyle);
    return nullptr;
  }
  std::memset(b, 0, sizeof(*b));
  b->width = width;
  b->height = height;
  b->window = window;
  b->required_caps = flags & DISPLAY_CAP_MASK;
  const uint32_t style = (flags & DISPLAY_STYLE_MASK) < STYLE_COUNT ? flags & DISPLAY_STYLE_MASK : 0;
  const int mode_switch = (flags & DISPLAY_MODE_CHANGE) ? 1 : 0;
  const DisplayBackend* be = Backend();

  bool ok;
  if (style == STYLE_DIB) {
    // With DirectDraw already open elsewhere, its reference does the mode switch.
    if (be->direct_draw_refs() > 0)
      b->holds_direct_draw = static_cast<uint32_t>(be->direct_draw_open(window, mode_switch));
    g_error[0] = 0;
    ok = TryDib(b, mode_switch);
  } else {
    b->holds_direct_draw = static_cast<uint32_t>(be->direct_draw_open(window, mode_switch));
    ok = style == STYLE_AUTOMATIC ? ChooseAutomatic(b, mode_switch)
                                  : ChooseExplicit(b, style, mode_switch);
  }
  if (!ok) {
    ReleaseReferences(b);
    EngineFree(b);
    return nullptr;
  }
  BuildRecord(b);
  return b;
}

void DisplayBufferClose(DisplayBuffer* b) {
  if (!b) return;
  Backend()->surface_destroy(b);
  ReleaseReferences(b);
  std::memset(b, 0, sizeof(*b));
  EngineFree(b);
}

int DisplayBufferLock(DisplayBuffer* b) {
  const DisplayBackend* be = Backend();
  if (b->style != STYLE_DIB && b->software_cursor) b->cursor_hidden = be->cursor_hide_over(b);
  uint8_t* memory = nullptr;
  int32_t pitch = 0;
  int got = be->lock(b, &memory, &pitch);
  if (got != DISPLAY_LOCK_OK) b->flags |= DISPLAY_REDRAW;
  if (got == DISPLAY_LOCK_FAILED) {
    be->cursor_show(b->cursor_hidden);
    b->cursor_hidden = 0;
    return 0;
  }
  b->surface_memory = memory;
  b->pitch = pitch;
  b->bits = memory;
  if (b->is_primary)
    b->bits = memory + static_cast<intptr_t>(b->screen_y) * pitch +
              static_cast<intptr_t>(b->screen_x) * be->screen()->bytes;
  return 1;
}

int DisplayBufferUnlock(DisplayBuffer* b) {
  const DisplayBackend* be = Backend();
  be->unlock(b);
  be->cursor_show(b->cursor_hidden);
  b->cursor_hidden = 0;
  b->bits = nullptr;
  b->pitch = 0;
  b->surface_memory = nullptr;
  if (b->is_overlay) be->overlay_place(b, 1);
  b->flags &= ~DISPLAY_REDRAW;
  return 1;
}

int DisplayBufferBlit(DisplayBuffer* b, const MovieRect* rects, int count) {
  if (!b || count <= 0 || b->is_primary) return 1;
  Backend()->present(b, rects, rects ? (count < MOVIE_RECT_COUNT ? count : MOVIE_RECT_COUNT) : 1);
  return 1;
}

int DisplayBufferClear(DisplayBuffer* b) {
  if (!DisplayBufferLock(b)) return 0;
  DisplayFillBlack(b->bits, b->pitch, b->width, b->height, b->flags & DISPLAY_FORMAT_MASK,
                   Backend()->screen()->bytes);
  DisplayBufferUnlock(b);
  return 1;
}

int DisplayBufferDrawText(DisplayBuffer* b, const char* text, int32_t left, int32_t top,
                          int32_t right, int32_t bottom) {
  if (!b || !text || !Backend()->draw_text) return 0;
  return Backend()->draw_text(b, text, left, top, right, bottom);
}

const char* DisplayBufferStyleName(const DisplayBuffer* b) {
  static char name[64];
  std::snprintf(name, sizeof(name), "%s", b && b->style < STYLE_COUNT ? kStyleNames[b->style] : "");
  return name;
}

int DisplayBufferSetScale(DisplayBuffer* b, uint32_t width, uint32_t height) {
  if (width == 0) width = b->screen_width;
  if (height == 0) height = b->screen_height;
  int result = 1;
  uint32_t need = DisplayScaleNeed(width, b->width, CAP_STRETCH_X_INT);
  if (need == 0 || (b->caps & need))
    b->presented_width = width;
  else
    result = 0;
  need = DisplayScaleNeed(height, b->height, CAP_STRETCH_Y_INT);
  if (need == 0 || (b->caps & need))
    b->presented_height = height;
  else
    result = 0;
  b->window_width = b->presented_width + b->frame_width;
  b->window_height = b->presented_height + b->frame_height;
  return result;
}

void DisplayBufferSetOffset(DisplayBuffer* b, int32_t x, int32_t y) {
  int32_t cx = 0, cy = 0;
  Backend()->client_origin(b->window, &cx, &cy);
  b->screen_x = cx + x;
  b->screen_y = cy + y;
  b->x_offset = x;
  b->y_offset = y;
  b->flags |= DISPLAY_REDRAW;
  if (b->is_overlay) Backend()->overlay_place(b, -1);
}

void DisplayBufferAlignWindow(const DisplayBuffer* b, int32_t* x, int32_t* y) {
  const uint32_t bytes = Backend()->screen()->bytes;
  int32_t cx = *x + b->client_x_offset;
  int32_t cy = *y + b->client_y_offset;
  if (b->is_primary) {
    // Writing straight into screen memory: the picture must stay on the screen.
    const int32_t sw = static_cast<int32_t>(b->screen_width), sh = static_cast<int32_t>(b->screen_height);
    if (cx + static_cast<int32_t>(b->width) > sw) cx = sw - static_cast<int32_t>(b->width);
    if (cx < 0) cx = 0;
    if (cy + static_cast<int32_t>(b->height) > sh) cy = sh - static_cast<int32_t>(b->height);
    if (cy < 0) cy = 0;
  }
  // The client's first pixel on an 8-byte boundary of screen memory (4-byte
  // pixels: 2, 3-byte: 8, else 4 pixels); rounding up works for negatives too.
  const int32_t align = bytes == 4 ? 2 : bytes == 3 ? 8 : 4;
  cx = (cx + align - 1) & ~(align - 1);
  *x = cx - b->client_x_offset;
  *y = cy - b->client_y_offset;
}
