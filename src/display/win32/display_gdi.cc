// GDI side of the Windows display back end: screen-mode switches through
// the display settings, the DIB section style, window geometry, the cursor,
// and the back end's table.
#include <cstring>

#include "base/engine_memory.h"
#include "convert/copy_to_buffer.h"
#include "display/win32/display_win32.h"
#include "engine/movie.h"

namespace {

DisplayWin32State g_state;

void ReadScreenGdi(DisplayWin32State& s) {
  s.screen.width = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
  s.screen.height = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));
  s.screen.bits = Win32ScreenDepth();
  s.screen.bytes = s.screen.bits / 8;
}

bool ChangeMode(uint32_t width, uint32_t height, uint32_t depth) {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof(mode));
  mode.dmSize = sizeof(mode);
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  if (depth) {
    mode.dmBitsPerPel = depth;
    mode.dmFields |= DM_BITSPERPEL;
  }
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

void SwitchModeGdi(DisplayWin32State& s, const DisplayModeRequest& r) {
  uint32_t depths[3];
  uint32_t n = DisplayDepthList(r.depth_code, depths);
  for (uint32_t i = 0; i < n; ++i) {
    if (!ChangeMode(r.width, r.height, depths[i])) continue;
    s.gdi_mode_changed = true;
    if (Win32ScreenDepth() == depths[i]) return;
    ChangeDisplaySettingsA(nullptr, 0);  // accepted but reported otherwise: undo
  }
  // The resolution at least, at whatever depth the system picks.
  if (ChangeMode(r.width, r.height, 0)) s.gdi_mode_changed = true;
}

int GdiModeOpen(void*, int mode_switch) {
  DisplayWin32State& s = g_state;
  if (s.direct_draw_refs > 0) return 0;
  if (mode_switch && DisplayModeRequestComplete()) SwitchModeGdi(s, DisplayTakeModeRequest());
  ReadScreenGdi(s);
  ++s.gdi_refs;
  return 1;
}

void GdiModeRelease() {
  DisplayWin32State& s = g_state;
  if (s.gdi_refs <= 0 || --s.gdi_refs > 0) return;
  if (s.gdi_mode_changed) ChangeDisplaySettingsA(nullptr, 0);  // back to the registry's mode
  s.gdi_mode_changed = false;
}

int DirectDrawRefs() { return g_state.direct_draw_refs; }
const DisplayScreen* Screen() { return &g_state.screen; }

struct DibHeader {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

// The screen's own 16-bit layout, asked of a 1 x 1 compatible bitmap; the
// second description call fills in the masks.
bool ScreenIs565(HDC dc) {
  HBITMAP probe = CreateCompatibleBitmap(dc, 1, 1);
  if (!probe) return false;
  DibHeader info;
  std::memset(&info, 0, sizeof(info));
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  BITMAPINFO* bi = reinterpret_cast<BITMAPINFO*>(&info);
  GetDIBits(dc, probe, 0, 1, nullptr, bi, DIB_RGB_COLORS);
  GetDIBits(dc, probe, 0, 1, nullptr, bi, DIB_RGB_COLORS);
  DeleteObject(probe);
  return info.header.biCompression == BI_BITFIELDS && info.masks[0] == 0xF800;
}

int DibCreate(DisplayBuffer* b) {
  const uint32_t bytes = g_state.screen.bytes;
  if (bytes < 2 || bytes > 4) return 0;
  auto* info = static_cast<DibHeader*>(EngineAlloc(sizeof(DibHeader)));
  if (!info) return 0;
  std::memset(info, 0, sizeof(*info));
  // Lines padded to a multiple of 32 bytes.
  uint32_t padded = b->width;
  while ((padded * bytes) % 32) ++padded;
  HWND window = static_cast<HWND>(b->window);
  HDC window_dc = GetDC(window);
  uint32_t format;
  info->header.biSize = sizeof(BITMAPINFOHEADER);
  info->header.biWidth = static_cast<LONG>(padded);
  info->header.biHeight = -static_cast<LONG>(b->height);  // top-down
  info->header.biPlanes = 1;
  info->header.biBitCount = static_cast<WORD>(8 * bytes);
  info->header.biCompression = bytes == 3 ? BI_RGB : BI_BITFIELDS;
  if (bytes >= 3) {
    info->masks[0] = 0xFF0000, info->masks[1] = 0xFF00, info->masks[2] = 0xFF;
    format = bytes == 3 ? COPY_BGR24 : COPY_BGRX32;
  } else if (ScreenIs565(window_dc)) {
    info->masks[0] = 0xF800, info->masks[1] = 0x07E0, info->masks[2] = 0x001F;
    format = COPY_RGB565;
  } else {
    info->masks[0] = 0x7C00, info->masks[1] = 0x03E0, info->masks[2] = 0x001F;
    format = COPY_RGB555;
  }
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(window_dc, reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS,
                                 &bits, nullptr, 0);
  HDC memory_dc = dib ? CreateCompatibleDC(window_dc) : nullptr;
  ReleaseDC(window, window_dc);
  if (!dib || !memory_dc || !bits) {
    if (dib) DeleteObject(dib);
    if (memory_dc) DeleteDC(memory_dc);
    EngineFree(info);
    return 0;
  }
  b->dib = dib;
  b->dib_bits = static_cast<uint8_t*>(bits);
  b->dib_pitch = static_cast<int32_t>((padded * bytes + 3) & ~3u);
  b->dib_header = info;
  b->memory_dc = memory_dc;
  b->old_bitmap = SelectObject(memory_dc, dib);
  b->flags = (b->flags & ~DISPLAY_FORMAT_MASK) | format;
  return 1;
}

void SurfaceDestroy(DisplayBuffer* b) {
  if (b->style != STYLE_DIB) {
    Win32SurfaceRelease(b);
    return;
  }
  if (b->memory_dc) {
    SelectObject(static_cast<HDC>(b->memory_dc), static_cast<HGDIOBJ>(b->old_bitmap));
    DeleteDC(static_cast<HDC>(b->memory_dc));
  }
  if (b->dib) DeleteObject(static_cast<HGDIOBJ>(b->dib));
  EngineFree(b->dib_header);
  b->dib = b->memory_dc = b->old_bitmap = b->dib_header = nullptr;
  b->dib_bits = nullptr;
}

int Lock(DisplayBuffer* b, uint8_t** memory, int32_t* pitch) {
  if (b->style != STYLE_DIB) return Win32SurfaceLock(b, memory, pitch);
  if (!b->dib_bits) return DISPLAY_LOCK_FAILED;
  GdiFlush();  // GDI may still be reading the section
  *memory = b->dib_bits;
  *pitch = b->dib_pitch;
  return DISPLAY_LOCK_OK;
}

void Unlock(DisplayBuffer* b) {
  if (b->style != STYLE_DIB) Win32SurfaceUnlock(b);
}

void DibPresent(DisplayBuffer* b, const MovieRect* rects, int count) {
  HWND window = static_cast<HWND>(b->window);
  HDC dc = GetDC(window);
  SetStretchBltMode(dc, COLORONCOLOR);
  HDC memory_dc = static_cast<HDC>(b->memory_dc);
  const MovieRect whole = {0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height)};
  for (int i = 0; i < count; ++i) {
    const MovieRect& r = rects ? rects[i] : whole;
    MovieRect d = DisplayScaleRect(b, r);
    StretchBlt(dc, b->x_offset + d.x, b->y_offset + d.y, d.width, d.height, memory_dc, r.x, r.y,
               r.width, r.height, SRCCOPY);
  }
  ReleaseDC(window, dc);
}

void Present(DisplayBuffer* b, const MovieRect* rects, int count) {
  if (b->style == STYLE_DIB)
    DibPresent(b, rects, count);
  else
    Win32SurfacePresent(b, rects, count);
}

void WindowAttach(DisplayBuffer* b) {
  Win32ClipperAttach(b);
  HWND window = static_cast<HWND>(b->window);
  RECT outer, client;
  POINT origin = {0, 0};
  if (!window || !GetWindowRect(window, &outer) || !GetClientRect(window, &client)) return;
  ClientToScreen(window, &origin);
  b->client_x_offset = origin.x - outer.left;
  b->client_y_offset = origin.y - outer.top;
  b->frame_width = static_cast<uint32_t>((outer.right - outer.left) - client.right);
  b->frame_height = static_cast<uint32_t>((outer.bottom - outer.top) - client.bottom);
}

void ClientOrigin(void* window, int32_t* x, int32_t* y) {
  POINT origin = {0, 0};
  if (window) ClientToScreen(static_cast<HWND>(window), &origin);
  *x = origin.x;
  *y = origin.y;
}

void OverlayPlace(DisplayBuffer* b, int show) {
  if (b->is_overlay && b->surface) Win32OverlayPlace(b, show);
}

uint32_t CursorHideOver(DisplayBuffer* b) {
  POINT at;
  if (!GetCursorPos(&at)) return 0;
  const int32_t w = GetSystemMetrics(SM_CXCURSOR), h = GetSystemMetrics(SM_CYCURSOR);
  if (!DisplayCursorOverlaps(b, at.x, at.y, w, h)) return 0;
  uint32_t count = 0;
  while (ShowCursor(FALSE) >= 0) ++count;
  return count + 1;
}

void CursorShow(uint32_t count) {
  while (count--) ShowCursor(TRUE);
}

const DisplayBackend kWin32Backend = {
    Win32DirectDrawOpen, Win32DirectDrawRelease, DirectDrawRefs, GdiModeOpen,  GdiModeRelease,
    Screen,              Win32SurfaceCreate,     Win32PrimaryLockable, DibCreate, SurfaceDestroy,
    Lock,                Unlock,                 Present,        WindowAttach, ClientOrigin,
    OverlayPlace,        Win32CursorProbe,       CursorHideOver, CursorShow,
    Win32DrawText,
};

}  // namespace

DisplayWin32State& Win32Display() { return g_state; }

const DisplayBackend* DisplaySystemBackend() { return &kWin32Backend; }
