// Shared state of the Windows display back end: DirectDraw (loaded at run
// time from DDRAW.DLL) in display_ddraw.cc, GDI in display_gdi.cc.
#pragma once
#include <windows.h>
#include <ddraw.h>

#include "display/display_backend.h"

struct DisplayWin32State {
  // DirectDraw: the library is loaded once; a failed load is not retried.
  HMODULE library;
  bool load_failed;
  HRESULT(WINAPI* create)(GUID*, IDirectDraw**, IUnknown*);
  IDirectDraw* direct_draw;
  IDirectDrawSurface* primary;
  int direct_draw_refs;
  uint32_t colour_key;
  // What the device says it can show: an overlay at all (with a destination
  // colour key, which is how ours is shown), and which FourCC formats.
  bool overlays_shown;
  DWORD fourcc[32];
  DWORD fourcc_count;
  // GDI mode switch.
  int gdi_refs;
  bool gdi_mode_changed;
  DisplayScreen screen;
};

DisplayWin32State& Win32Display();

// Screen depth as GDI reports it (planes x bits per pixel of the screen DC).
uint32_t Win32ScreenDepth();

// DirectDraw side (display_ddraw.cc).
int Win32DirectDrawOpen(void* window, int mode_switch);
void Win32DirectDrawRelease();
int Win32SurfaceCreate(DisplayBuffer* b, uint32_t style, DisplayPixelFormat* format);
int Win32PrimaryLockable(DisplayBuffer* b);
void Win32SurfaceRelease(DisplayBuffer* b);
int Win32SurfaceLock(DisplayBuffer* b, uint8_t** memory, int32_t* pitch);
void Win32SurfaceUnlock(DisplayBuffer* b);
void Win32SurfacePresent(DisplayBuffer* b, const MovieRect* rects, int count);
void Win32OverlayPlace(DisplayBuffer* b, int show);
void Win32ClipperAttach(DisplayBuffer* b);
int Win32CursorProbe(DisplayBuffer* b);
// How many probes really ran (the others were answered from the cache).
uint32_t Win32CursorProbeRuns();
int Win32DrawText(DisplayBuffer* b, const char* text, int32_t left, int32_t top, int32_t right,
                  int32_t bottom);
