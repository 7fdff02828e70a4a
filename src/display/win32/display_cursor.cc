// The cursor-type probe: a cursor that the display driver draws in software
// sits in screen memory, so writing straight into the primary surface under
// it is lost (or leaves trails). The probe writes one byte under the cursor
// and reads it back through GDI with the cursor hidden.
#include <cstring>

#include "display/win32/display_win32.h"

namespace {

// What decides the cursor's kind: the cursor shown over the player window,
// the screen surface and its depth and size. The surface's memory address is
// no part of it: an emulated primary hands out a new address at every lock,
// and the cache then never matched (each probe window costs seconds on a
// bare X server).
struct ProbeCache {
  HCURSOR cursor;
  IDirectDrawSurface* primary;
  uint32_t bits, width, height;
  int result;
  bool valid;
};
ProbeCache g_cache;
uint32_t g_probe_runs = 0;

// The cursor the probe shows: the player window's class cursor, the arrow
// without a window. GetCursor would answer with whatever another window
// last set.
HCURSOR ShownCursor(HWND player) {
  return player ? reinterpret_cast<HCURSOR>(GetClassLongPtrA(player, GCLP_HCURSOR))
                : LoadCursor(nullptr, IDC_ARROW);
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcA(window, message, w, l);
}

// Locks the primary, restoring it while it reports itself lost.
bool LockPrimary(IDirectDrawSurface* primary, DDSURFACEDESC* desc) {
  std::memset(desc, 0, sizeof(*desc));
  desc->dwSize = sizeof(*desc);
  for (int tries = 0; tries < 4; ++tries) {
    HRESULT hr = primary->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
    if (SUCCEEDED(hr)) return true;
    if (hr != DDERR_SURFACELOST || FAILED(primary->Restore())) return false;
  }
  return false;
}

int RunProbe(IDirectDrawSurface* primary, HWND player, POINT at, uint32_t bits) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = ProbeWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = "MouseTypeWind";
  RegisterClassA(&wc);
  HWND probe = CreateWindowExA(WS_EX_TOPMOST, "MouseTypeWind", "", WS_POPUP | WS_VISIBLE,
                               at.x - 16, at.y - 16, 32, 32, nullptr, nullptr, instance, nullptr);
  int shows = 0;
  while (ShowCursor(FALSE) >= 0) --shows;
  --shows;
  HDC dc = GetDC(nullptr);
  COLORREF before = GetPixel(dc, at.x, at.y);
  HCURSOR old = SetCursor(ShownCursor(player));
  while (ShowCursor(TRUE) < 0) ++shows;
  ++shows;
  DDSURFACEDESC desc;
  if (LockPrimary(primary, &desc)) {
    uint8_t* p = static_cast<uint8_t*>(desc.lpSurface) + desc.lPitch * at.y + at.x * bits / 8;
    *p = before == 0 ? 0xFF : 0;
    primary->Unlock(desc.lpSurface);
  }
  while (ShowCursor(FALSE) >= 0) --shows;
  --shows;
  COLORREF after = GetPixel(dc, at.x, at.y);
  int result = after == before ? 1 : 0;
  if (!result) SetPixel(dc, at.x, at.y, before);
  ReleaseDC(nullptr, dc);
  if (probe) DestroyWindow(probe);
  UnregisterClassA("MouseTypeWind", instance);
  // Back to the show count the cursor had.
  for (; shows < 0; ++shows) ShowCursor(TRUE);
  for (; shows > 0; --shows) ShowCursor(FALSE);
  SetCursor(old);
  return result;
}

}  // namespace

int Win32CursorProbe(DisplayBuffer* b) {
  if (!GetSystemMetrics(SM_MOUSEPRESENT)) return 0;
  IDirectDrawSurface* primary = Win32Display().primary;
  if (!primary) return 0;
  DDSURFACEDESC desc;
  if (!LockPrimary(primary, &desc)) return 0;
  primary->Unlock(desc.lpSurface);
  HWND player = static_cast<HWND>(b->window);
  const ProbeCache key = {ShownCursor(player), primary, desc.ddpfPixelFormat.dwRGBBitCount,
                          desc.dwWidth, desc.dwHeight, 0, true};
  if (g_cache.valid && g_cache.cursor == key.cursor && g_cache.primary == key.primary &&
      g_cache.bits == key.bits && g_cache.width == key.width && g_cache.height == key.height)
    return g_cache.result;
  POINT at;
  if (!GetCursorPos(&at)) return 0;
  ++g_probe_runs;
  g_cache = key;
  g_cache.result = RunProbe(primary, player, at, key.bits);
  return g_cache.result;
}

uint32_t Win32CursorProbeRuns() { return g_probe_runs; }
