// What really reaches the screen under the Windows back end: a window of our
// own, a display buffer in it, and the primary surface read back with a
// read-only lock (a screenshot could show a composed image that the
// program's own surfaces do not hold).
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>

#include "display/display_buffer.h"
#include "display/win32/display_win32.h"

namespace {

LRESULT CALLBACK QuietWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

struct Rgb {
  uint8_t r, g, b;
};

class ScreenReadBack : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = QuietWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VornReadBack";
    RegisterClassA(&wc);
    window = CreateWindowExA(0, "VornReadBack", "", WS_POPUP | WS_VISIBLE, 96, 80, 320, 240,
                             nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Pump();
  }
  void TearDown() override {
    DisplayBufferClose(display);
    if (window) DestroyWindow(window);
    Pump();
    UnregisterClassA("VornReadBack", GetModuleHandleA(nullptr));
  }
  // Opens the style for a 64 x 48 movie placed at (x, y) in the client area.
  bool Open(uint32_t style, int32_t x, int32_t y) {
    display = DisplayBufferOpen(window, 64, 48, style);
    if (!display) return false;
    DisplayBufferSetScale(display, 64, 48);
    DisplayBufferSetOffset(display, x, y);
    return true;
  }
  // One frame of a light grey in the buffer's own format, presented whole.
  void GreyFrame() {
    ASSERT_TRUE(DisplayBufferLock(display));
    uint8_t* bits = display->bits;
    const int32_t pitch = display->pitch;
    const uint32_t w = display->width, h = display->height;
    switch (display->flags & DISPLAY_FORMAT_MASK) {
      case 13:  // Y U Y V
        for (uint32_t y = 0; y < h; y++)
          for (uint32_t x = 0; x < w * 2; x++) bits[y * pitch + x] = x % 2 ? 128 : 200;
        break;
      case 14:  // U Y V Y
        for (uint32_t y = 0; y < h; y++)
          for (uint32_t x = 0; x < w * 2; x++) bits[y * pitch + x] = x % 2 ? 200 : 128;
        break;
      case 15:  // luma plane, then the two quarter-size chroma planes
        for (uint32_t y = 0; y < h; y++) std::memset(bits + y * pitch, 200, w);
        for (uint32_t y = 0; y < h; y++) std::memset(bits + h * pitch + y * (pitch / 2), 128, w / 2);
        break;
      default:  // RGB of the screen's depth
        for (uint32_t y = 0; y < h; y++) std::memset(bits + y * pitch, 200, w * 4);
        break;
    }
    DisplayBufferUnlock(display);
    DisplayBufferBlit(display, nullptr, 1);
    Pump();
  }
  // The screen pixel at client (x, y), read from the primary surface.
  bool ScreenPixel(int32_t x, int32_t y, Rgb* out) {
    IDirectDrawSurface* primary = Win32Display().primary;
    if (!primary) return false;
    POINT at = {x, y};
    ClientToScreen(window, &at);
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (FAILED(primary->Lock(nullptr, &desc, DDLOCK_READONLY | DDLOCK_WAIT, nullptr))) return false;
    const uint32_t bytes = desc.ddpfPixelFormat.dwRGBBitCount / 8;
    const uint8_t* p = static_cast<const uint8_t*>(desc.lpSurface) + desc.lPitch * at.y + at.x * bytes;
    if (bytes == 4 || bytes == 3) {
      *out = {p[2], p[1], p[0]};
    } else {  // 5-6-5
      const uint16_t v = static_cast<uint16_t>(p[0] | p[1] << 8);
      *out = {static_cast<uint8_t>((v >> 11) << 3), static_cast<uint8_t>(((v >> 5) & 63) << 2),
              static_cast<uint8_t>((v & 31) << 3)};
    }
    primary->Unlock(desc.lpSurface);
    return true;
  }
  bool IsGrey(const Rgb& c) { return c.r > 120 && c.g > 120 && c.b > 120; }

  HWND window = nullptr;
  DisplayBuffer* display = nullptr;
};

TEST_F(ScreenReadBack, StatisticsTextStaysOnThePrimarySurfaceAfterFrames) {
  if (!Open(STYLE_PRIMARY, 0, 16)) GTEST_SKIP() << "no primary surface: " << DisplayLastError();
  ASSERT_EQ(DisplayBufferDrawText(display, "Fr: 1, FPS: 30.0, Buf: 100%", 0, 0, 300, 16), 1);
  for (int frame = 0; frame < 3; frame++) GreyFrame();
  int yellow = 0;
  for (int32_t x = 0; x < 300; x++)
    for (int32_t y = 0; y < 16; y++) {
      Rgb c;
      ASSERT_TRUE(ScreenPixel(x, y, &c));
      yellow += c.r > 200 && c.g > 200 && c.b < 60;
    }
  EXPECT_GT(yellow, 30) << "the strip's text is not on the screen";
  Rgb picture;
  ASSERT_TRUE(ScreenPixel(32, 16 + 24, &picture));
  EXPECT_TRUE(IsGrey(picture)) << "the frame is not on the screen either";
}

// Every DirectDraw style that blits shows the picture where it belongs when
// the client area is larger than the picture and the picture sits inside it.
// (The DIB style draws through the window's DC, which an emulated primary
// surface does not hold, so it cannot be read back this way.)
class StyleReadBack : public ScreenReadBack, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StyleReadBack, PictureShowsInALargerClientArea) {
  const uint32_t style = GetParam();
  // The primary surface must exist for the read-back: hold it with a
  // primary-style buffer of the same window, placed out of the way.
  DisplayBuffer* holder = DisplayBufferOpen(window, 8, 8, STYLE_PRIMARY);
  if (!holder) GTEST_SKIP() << "no primary surface: " << DisplayLastError();
  if (!Open(style, 40, 30)) {
    DisplayBufferClose(holder);
    GTEST_SKIP() << "style " << style << ": " << DisplayLastError();
  }
  GreyFrame();
  Rgb inside, outside;
  ASSERT_TRUE(ScreenPixel(40 + 32, 30 + 24, &inside));
  ASSERT_TRUE(ScreenPixel(40 + 70, 30 + 24, &outside));
  EXPECT_TRUE(IsGrey(inside)) << DisplayBufferStyleName(display) << ": " << int(inside.r) << ","
                              << int(inside.g) << "," << int(inside.b);
  EXPECT_FALSE(IsGrey(outside)) << DisplayBufferStyleName(display) << " drew past the picture";
  DisplayBufferClose(display);
  display = nullptr;
  DisplayBufferClose(holder);
}

INSTANTIATE_TEST_SUITE_P(Styles, StyleReadBack,
                         ::testing::Values(STYLE_YV12_OFFSCREEN, STYLE_YUY2_OFFSCREEN,
                                           STYLE_UYVY_OFFSCREEN, STYLE_RGB_VIDEO_OFFSCREEN,
                                           STYLE_RGB_SYSTEM_OFFSCREEN));

// Overlays are chosen only where the device says it shows them: elsewhere an
// explicit overlay style fails with the text of a failed choice, and the
// automatic choice takes something that shows.
TEST_F(ScreenReadBack, OverlaysOnlyWhereTheDeviceShowsThem) {
  DisplayBuffer* holder = DisplayBufferOpen(window, 8, 8, STYLE_PRIMARY);
  if (!holder) GTEST_SKIP() << "no DirectDraw: " << DisplayLastError();
  DDCAPS caps;
  std::memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(caps);
  ASSERT_TRUE(SUCCEEDED(Win32Display().direct_draw->GetCaps(&caps, nullptr)));
  const bool shows = (caps.dwCaps & DDCAPS_OVERLAY) && caps.dwMaxVisibleOverlays > 0 &&
                     (caps.dwCKeyCaps & DDCKEYCAPS_DESTOVERLAY);
  for (uint32_t style : {STYLE_YV12_OVERLAY, STYLE_YUY2_OVERLAY, STYLE_UYVY_OVERLAY}) {
    display = DisplayBufferOpen(window, 64, 48, style);
    if (shows) {
      EXPECT_NE(display, nullptr) << style << ": " << DisplayLastError();
    } else {
      EXPECT_EQ(display, nullptr) << style;
      EXPECT_STREQ(DisplayLastError(), Win32Display().screen.bits <= 8
                                           ? "256 color mode not supported."
                                           : "No capable blitting style available.");
    }
    DisplayBufferClose(display);
    display = nullptr;
  }
  // The automatic choice takes no overlay that never shows.
  display = DisplayBufferOpen(window, 64, 48, STYLE_AUTOMATIC);
  ASSERT_NE(display, nullptr) << DisplayLastError();
  if (!shows) EXPECT_FALSE(display->is_overlay);
  DisplayBufferClose(holder);
}

TEST_F(ScreenReadBack, CursorProbeRunsOnceForTheSameScreenAndCursor) {
  const uint32_t before = Win32CursorProbeRuns();
  for (int i = 0; i < 3; i++) {
    DisplayBuffer* d = DisplayBufferOpen(window, 64, 48, STYLE_PRIMARY);
    if (!d) GTEST_SKIP() << "no primary surface: " << DisplayLastError();
    DisplayBufferClose(d);
  }
  EXPECT_LE(Win32CursorProbeRuns() - before, 1u);
}

}  // namespace
#endif  // _WIN32
