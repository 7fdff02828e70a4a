// DirectDraw styles: the process-wide DirectDraw object and primary surface,
// screen-mode switches through DirectDraw, overlays and off-screen surfaces.
#include <cstring>

#include "display/win32/display_win32.h"
#include "engine/movie.h"

namespace {

uint32_t LowestBit(uint32_t v) { return v & (~v + 1); }

constexpr DWORD FourCc(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<uint8_t>(a)) | (static_cast<DWORD>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<DWORD>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<DWORD>(static_cast<uint8_t>(d)) << 24);
}

bool LoadLibraryOnce(DisplayWin32State& s) {
  if (s.create) return true;
  if (s.load_failed) return false;
  // No "insert a disk" boxes while probing for the library.
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  s.library = LoadLibraryA("DDRAW.DLL");
  SetErrorMode(old_mode);
  if (s.library)
    s.create = reinterpret_cast<HRESULT(WINAPI*)(GUID*, IDirectDraw**, IUnknown*)>(
        reinterpret_cast<void*>(GetProcAddress(s.library, "DirectDrawCreate")));
  if (!s.create) s.load_failed = true;
  return s.create != nullptr;
}

// Effect capabilities to the eight CAP_* bits; the any-factor flag brings
// the integer one with it.
uint32_t CapWord(DWORD fx, DWORD sx, DWORD sxn, DWORD kx, DWORD kxn, DWORD sy, DWORD syn, DWORD ky,
                 DWORD kyn) {
  uint32_t w = 0;
  if (fx & sx) w |= CAP_STRETCH_X | CAP_STRETCH_X_INT;
  if (fx & sxn) w |= CAP_STRETCH_X_INT;
  if (fx & kx) w |= CAP_SHRINK_X | CAP_SHRINK_X_INT;
  if (fx & kxn) w |= CAP_SHRINK_X_INT;
  if (fx & sy) w |= CAP_STRETCH_Y | CAP_STRETCH_Y_INT;
  if (fx & syn) w |= CAP_STRETCH_Y_INT;
  if (fx & ky) w |= CAP_SHRINK_Y | CAP_SHRINK_Y_INT;
  if (fx & kyn) w |= CAP_SHRINK_Y_INT;
  return w;
}

void SwitchMode(DisplayWin32State& s, const DisplayModeRequest& r) {
  uint32_t depths[3];
  uint32_t n = DisplayDepthList(r.depth_code, depths);
  for (uint32_t i = 0; i < n; ++i) {
    if (FAILED(s.direct_draw->SetDisplayMode(r.width, r.height, depths[i]))) continue;
    // A depth the driver accepts but reports differently counts as refused.
    if (Win32ScreenDepth() == depths[i]) return;
  }
}

void Probe(DisplayWin32State& s) {
  DDCAPS caps;
  std::memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(caps);
  const bool have_caps = SUCCEEDED(s.direct_draw->GetCaps(&caps, nullptr));
  DWORD fx = have_caps ? caps.dwFXCaps : 0;
  // A device may create overlay surfaces that it never shows (only the
  // colour key would be seen): overlays count only when the device says so.
  s.overlays_shown = have_caps && (caps.dwCaps & DDCAPS_OVERLAY) && caps.dwMaxVisibleOverlays > 0 &&
                     (caps.dwCKeyCaps & DDCKEYCAPS_DESTOVERLAY);
  s.fourcc_count = 32;
  if (FAILED(s.direct_draw->GetFourCCCodes(&s.fourcc_count, s.fourcc)) || s.fourcc_count > 32)
    s.fourcc_count = 0;
  s.screen.overlay_caps =
      CapWord(fx, DDFXCAPS_OVERLAYSTRETCHX, DDFXCAPS_OVERLAYSTRETCHXN, DDFXCAPS_OVERLAYSHRINKX,
              DDFXCAPS_OVERLAYSHRINKXN, DDFXCAPS_OVERLAYSTRETCHY, DDFXCAPS_OVERLAYSTRETCHYN,
              DDFXCAPS_OVERLAYSHRINKY, DDFXCAPS_OVERLAYSHRINKYN);
  s.screen.blit_caps = CapWord(fx, DDFXCAPS_BLTSTRETCHX, DDFXCAPS_BLTSTRETCHXN, DDFXCAPS_BLTSHRINKX,
                               DDFXCAPS_BLTSHRINKXN, DDFXCAPS_BLTSTRETCHY, DDFXCAPS_BLTSTRETCHYN,
                               DDFXCAPS_BLTSHRINKY, DDFXCAPS_BLTSHRINKYN);
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  s.primary->GetSurfaceDesc(&desc);
  const DDPIXELFORMAT& pf = desc.ddpfPixelFormat;
  s.screen.bytes = pf.dwRGBBitCount / 8;
  s.screen.width = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
  s.screen.height = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));
  s.screen.bits = Win32ScreenDepth();
  // The darkest magenta of the screen's format keys the overlay.
  s.colour_key = pf.dwRGBBitCount == 8 ? 253 : LowestBit(pf.dwRBitMask) + LowestBit(pf.dwBBitMask);
}

void ReadFormat(IDirectDrawSurface* surface, DisplayPixelFormat* out) {
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  surface->GetSurfaceDesc(&desc);
  const DDPIXELFORMAT& pf = desc.ddpfPixelFormat;
  *out = {};
  if (pf.dwFlags & DDPF_FOURCC) {
    out->fourcc = pf.dwFourCC;
    return;
  }
  out->bits = pf.dwRGBBitCount;
  out->red = pf.dwRBitMask;
  out->green = pf.dwGBitMask;
  out->blue = pf.dwBBitMask;
  out->alpha = (pf.dwFlags & DDPF_ALPHAPIXELS) ? pf.dwRGBAlphaBitMask : 0;
}

// A YUV surface only in a format the device lists. A device that lists none
// at all is given the benefit of the doubt: the surface's creation decides.
bool FourCcListed(const DisplayWin32State& s, DWORD code) {
  if (s.fourcc_count == 0) return true;
  for (DWORD i = 0; i < s.fourcc_count; i++)
    if (s.fourcc[i] == code) return true;
  return false;
}

IDirectDrawSurface* Surface(DisplayBuffer* b) { return static_cast<IDirectDrawSurface*>(b->surface); }

RECT ToRect(const MovieRect& r, int32_t dx, int32_t dy) {
  return {r.x + dx, r.y + dy, r.x + r.width + dx, r.y + r.height + dy};
}

}  // namespace

uint32_t Win32ScreenDepth() {
  HDC dc = GetDC(nullptr);
  uint32_t bits = static_cast<uint32_t>(GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL));
  ReleaseDC(nullptr, dc);
  return bits;
}

int Win32DirectDrawOpen(void* window, int mode_switch) {
  DisplayWin32State& s = Win32Display();
  if (s.direct_draw_refs > 0) {
    ++s.direct_draw_refs;
    return 1;
  }
  if (!LoadLibraryOnce(s)) return 0;
  if (FAILED(s.create(nullptr, &s.direct_draw, nullptr))) {
    s.direct_draw = nullptr;
    return 0;
  }
  const bool switching = mode_switch && DisplayModeRequestComplete();
  HRESULT hr = s.direct_draw->SetCooperativeLevel(
      static_cast<HWND>(window), switching ? DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN : DDSCL_NORMAL);
  if (FAILED(hr)) {
    s.direct_draw->Release();
    s.direct_draw = nullptr;
    return 0;
  }
  DisplayModeRequest request = DisplayTakeModeRequest();
  if (switching) SwitchMode(s, request);
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (FAILED(s.direct_draw->CreateSurface(&desc, &s.primary, nullptr))) {
    s.primary = nullptr;
    s.direct_draw->Release();
    s.direct_draw = nullptr;
    return 0;
  }
  Probe(s);
  s.direct_draw_refs = 1;
  return 1;
}

void Win32DirectDrawRelease() {
  DisplayWin32State& s = Win32Display();
  if (s.direct_draw_refs <= 0 || --s.direct_draw_refs > 0) return;
  s.primary->Release();
  s.primary = nullptr;
  // Releasing the object also gives back a mode it switched to.
  s.direct_draw->Release();
  s.direct_draw = nullptr;
}

int Win32PrimaryLockable(DisplayBuffer*) {
  DisplayWin32State& s = Win32Display();
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  HRESULT hr = s.primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
  if (SUCCEEDED(hr)) s.primary->Unlock(desc.lpSurface);
  // Only a surface that cannot be locked at all rules the style out.
  return hr != DDERR_CANTLOCKSURFACE;
}

int Win32SurfaceCreate(DisplayBuffer* b, uint32_t style, DisplayPixelFormat* format) {
  DisplayWin32State& s = Win32Display();
  if (style == STYLE_PRIMARY) {
    b->surface = s.primary;
    ReadFormat(s.primary, format);
    return 1;
  }
  static constexpr DWORD kFourCc[3] = {FourCc('Y', 'V', '1', '2'), FourCc('Y', 'U', 'Y', '2'),
                                       FourCc('U', 'Y', 'V', 'Y')};
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  desc.dwWidth = b->width;
  desc.dwHeight = b->height;
  if (StyleIsOverlay(style))
    desc.ddsCaps.dwCaps = DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY;
  else
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN |
                          (style == STYLE_RGB_SYSTEM_OFFSCREEN ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY);
  if (StyleIsOverlay(style) && !s.overlays_shown) return 0;
  if (style <= STYLE_UYVY_OFFSCREEN) {
    if (!FourCcListed(s, kFourCc[(style - STYLE_YV12_OVERLAY) % 3])) return 0;
    desc.dwFlags |= DDSD_PIXELFORMAT;
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = DDPF_FOURCC;
    desc.ddpfPixelFormat.dwFourCC = kFourCc[(style - STYLE_YV12_OVERLAY) % 3];
  }
  IDirectDrawSurface* surface = nullptr;
  if (FAILED(s.direct_draw->CreateSurface(&desc, &surface, nullptr)) || !surface) return 0;
  b->surface = surface;
  ReadFormat(surface, format);
  return 1;
}

void Win32SurfaceRelease(DisplayBuffer* b) {
  DisplayWin32State& s = Win32Display();
  if (b->clipper) {
    static_cast<IDirectDrawClipper*>(b->clipper)->Release();
    b->clipper = nullptr;
  }
  IDirectDrawSurface* surface = Surface(b);
  if (!surface || surface == s.primary) {
    b->surface = nullptr;
    return;
  }
  if (b->is_overlay) surface->UpdateOverlay(nullptr, s.primary, nullptr, DDOVER_HIDE, nullptr);
  surface->Release();
  b->surface = nullptr;
}

int Win32SurfaceLock(DisplayBuffer* b, uint8_t** memory, int32_t* pitch) {
  IDirectDrawSurface* surface = Surface(b);
  DDSURFACEDESC desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  HRESULT hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
  int result = DISPLAY_LOCK_OK;
  if (hr == DDERR_SURFACELOST) {
    if (FAILED(surface->Restore())) return DISPLAY_LOCK_FAILED;
    hr = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    result = DISPLAY_LOCK_RESTORED;
  }
  if (FAILED(hr)) return DISPLAY_LOCK_FAILED;
  *memory = static_cast<uint8_t*>(desc.lpSurface);
  *pitch = static_cast<int32_t>(desc.lPitch);
  b->surface_memory = *memory;
  return result;
}

void Win32SurfaceUnlock(DisplayBuffer* b) { Surface(b)->Unlock(b->surface_memory); }

void Win32SurfacePresent(DisplayBuffer* b, const MovieRect* rects, int count) {
  DisplayWin32State& s = Win32Display();
  IDirectDrawClipper* clipper = static_cast<IDirectDrawClipper*>(b->clipper);
  s.primary->SetClipper(clipper);
  const MovieRect whole = {0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height)};
  for (int i = 0; i < count; ++i) {
    const MovieRect& r = rects ? rects[i] : whole;
    if (b->is_overlay) {
      // The colour key shows the overlay through the primary, pixel for pixel.
      MovieRect area = rects ? r
                             : MovieRect{0, 0, static_cast<int32_t>(b->presented_width),
                                         static_cast<int32_t>(b->presented_height)};
      RECT dst = ToRect(area, b->screen_x, b->screen_y);
      DDBLTFX fx;
      std::memset(&fx, 0, sizeof(fx));
      fx.dwSize = sizeof(fx);
      fx.dwFillColor = s.colour_key;
      s.primary->Blt(&dst, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    } else {
      RECT src = ToRect(r, 0, 0);
      RECT dst = ToRect(DisplayScaleRect(b, r), b->screen_x, b->screen_y);
      s.primary->Blt(&dst, Surface(b), &src, DDBLT_WAIT, nullptr);
    }
  }
  s.primary->SetClipper(nullptr);
}

void Win32OverlayPlace(DisplayBuffer* b, int show) {
  DisplayWin32State& s = Win32Display();
  if (show < 0) show = static_cast<int>(b->overlay_shown);
  DisplayOverlayRects o;
  if (IsWindowVisible(static_cast<HWND>(b->window)) && DisplayOverlayClip(b, &o)) {
    RECT src = {o.src_left, o.src_top, o.src_right, o.src_bottom};
    RECT dst = {o.dst_left, o.dst_top, o.dst_right, o.dst_bottom};
    DDOVERLAYFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dckDestColorkey.dwColorSpaceLowValue = s.colour_key;
    fx.dckDestColorkey.dwColorSpaceHighValue = s.colour_key;
    DWORD flags = (show ? DDOVER_SHOW : DDOVER_HIDE) | DDOVER_KEYDESTOVERRIDE;
    Surface(b)->UpdateOverlay(&src, s.primary, &dst, flags, &fx);
    b->overlay_shown = static_cast<uint32_t>(show);
    return;
  }
  Surface(b)->UpdateOverlay(nullptr, s.primary, nullptr, DDOVER_HIDE, nullptr);
  b->overlay_shown = 0;
}

void Win32ClipperAttach(DisplayBuffer* b) {
  DisplayWin32State& s = Win32Display();
  if (b->style == STYLE_DIB || !s.direct_draw) return;
  IDirectDrawClipper* clipper = nullptr;
  if (FAILED(s.direct_draw->CreateClipper(0, &clipper, nullptr)) || !clipper) return;
  clipper->SetHWnd(0, static_cast<HWND>(b->window));
  b->clipper = clipper;
}

// The primary surface is the screen itself: what the window's DC draws there
// may be overwritten by the next unlock of the primary (an emulated primary
// presents its own copy of the screen), so text beside the picture is drawn
// through the surface's DC instead, at the client rectangle's screen place.
int Win32DrawText(DisplayBuffer* b, const char* text, int32_t left, int32_t top, int32_t right,
                  int32_t bottom) {
  IDirectDrawSurface* primary = Win32Display().primary;
  if (!b->is_primary || !primary) return 0;
  HDC dc = nullptr;
  if (FAILED(primary->GetDC(&dc)) || !dc) return 0;
  const int32_t client_x = b->screen_x - b->x_offset, client_y = b->screen_y - b->y_offset;
  RECT r = {left + client_x, top + client_y, right + client_x, bottom + client_y};
  SetTextColor(dc, RGB(255, 255, 0));
  SetBkColor(dc, RGB(0, 0, 0));
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  ExtTextOutA(dc, client_x + right / 2, r.top, ETO_OPAQUE, &r, text,
              static_cast<UINT>(std::strlen(text)), nullptr);
  primary->ReleaseDC(dc);
  return 1;
}
