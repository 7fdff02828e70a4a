// Choosing a blitting style, references, locking and presenting, through a
// fake back end whose surfaces, DirectDraw and screen are set per test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "display/display_backend.h"
#include "engine/movie.h"

namespace {

struct Fake {
  bool direct_draw = true;
  int direct_draw_refs = 0;
  int gdi_refs = 0;
  int mode_switch_asked = 0;
  DisplayScreen screen = {1024, 768, 32, 4, CAP_ALL, CAP_ALL};
  bool primary_lockable = true;
  bool dib_ok = true;
  // Per style: whether its surface can be made and the format it reports.
  bool surface_ok[STYLE_COUNT] = {false, true, false, true, true, true, true, true, true, true, true};
  DisplayPixelFormat format[STYLE_COUNT] = {};
  std::vector<uint32_t> tried;
  int surfaces_alive = 0;
  int lock_result = DISPLAY_LOCK_OK;
  std::vector<uint8_t> memory = std::vector<uint8_t>(4 << 20, 0xEE);
  std::vector<std::vector<MovieRect>> presented;
  int32_t origin_x = 0, origin_y = 0;
};
Fake* g_fake;

int DdOpen(void*, int mode_switch) {
  g_fake->mode_switch_asked += mode_switch;
  if (!g_fake->direct_draw) return 0;
  ++g_fake->direct_draw_refs;
  return 1;
}
void DdRelease() { --g_fake->direct_draw_refs; }
int DdRefs() { return g_fake->direct_draw_refs; }
int GdiOpen(void*, int mode_switch) {
  g_fake->mode_switch_asked += mode_switch;
  if (g_fake->direct_draw_refs) return 0;
  ++g_fake->gdi_refs;
  return 1;
}
void GdiRelease() { --g_fake->gdi_refs; }
const DisplayScreen* Screen() { return &g_fake->screen; }
int SurfaceCreate(DisplayBuffer* b, uint32_t style, DisplayPixelFormat* pf) {
  g_fake->tried.push_back(style);
  if (!g_fake->surface_ok[style]) return 0;
  *pf = g_fake->format[style];
  b->surface = &g_fake->memory;
  ++g_fake->surfaces_alive;
  return 1;
}
int PrimaryLockable(DisplayBuffer*) { return g_fake->primary_lockable; }
int DibCreate(DisplayBuffer* b) {
  g_fake->tried.push_back(STYLE_DIB);
  if (!g_fake->dib_ok) return 0;
  b->flags = (b->flags & ~DISPLAY_FORMAT_MASK) | COPY_BGRX32;
  b->dib_bits = g_fake->memory.data();
  ++g_fake->surfaces_alive;
  return 1;
}
void SurfaceDestroy(DisplayBuffer* b) {
  if (b->surface || b->dib_bits) --g_fake->surfaces_alive;
  b->surface = nullptr;
  b->dib_bits = nullptr;
}
int Lock(DisplayBuffer*, uint8_t** memory, int32_t* pitch) {
  if (g_fake->lock_result == DISPLAY_LOCK_FAILED) return DISPLAY_LOCK_FAILED;
  *memory = g_fake->memory.data();
  *pitch = 4096;
  return g_fake->lock_result;
}
void Unlock(DisplayBuffer*) {}
void Present(DisplayBuffer* b, const MovieRect* rects, int count) {
  std::vector<MovieRect> list;
  for (int i = 0; i < count; ++i)
    list.push_back(rects ? rects[i]
                         : MovieRect{0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height)});
  g_fake->presented.push_back(list);
}
void Attach(DisplayBuffer* b) {
  b->client_x_offset = 3, b->client_y_offset = 22;
  b->frame_width = 6, b->frame_height = 25;
}
void Origin(void*, int32_t* x, int32_t* y) { *x = g_fake->origin_x, *y = g_fake->origin_y; }
void Place(DisplayBuffer*, int) {}
int Probe(DisplayBuffer*) { return 0; }
uint32_t Hide(DisplayBuffer*) { return 0; }
void Show(uint32_t) {}

constexpr DisplayBackend kFakeBackend = {
    DdOpen, DdRelease, DdRefs, GdiOpen, GdiRelease, Screen, SurfaceCreate, PrimaryLockable,
    DibCreate, SurfaceDestroy, Lock, Unlock, Present, Attach, Origin, Place, Probe, Hide, Show,
    nullptr,
};

class DisplayOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = &fake;
    const DisplayPixelFormat bgrx = {0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
    fake.format[STYLE_PRIMARY] = bgrx;
    fake.format[STYLE_YV12_OVERLAY] = fake.format[STYLE_YV12_OFFSCREEN] = {0x32315659, 0, 0, 0, 0, 0};
    fake.format[STYLE_YUY2_OVERLAY] = fake.format[STYLE_YUY2_OFFSCREEN] = {0x32595559, 0, 0, 0, 0, 0};
    fake.format[STYLE_UYVY_OVERLAY] = fake.format[STYLE_UYVY_OFFSCREEN] = {0x59565955, 0, 0, 0, 0, 0};
    fake.format[STYLE_RGB_VIDEO_OFFSCREEN] = fake.format[STYLE_RGB_SYSTEM_OFFSCREEN] = bgrx;
    DisplaySetBackend(&kFakeBackend);
  }
  void TearDown() override {
    DisplaySetBackend(nullptr);
    g_fake = nullptr;
  }
  // Every reference and surface an open took is given back by its close or failure.
  void ExpectNothingHeld() {
    EXPECT_EQ(fake.direct_draw_refs, 0);
    EXPECT_EQ(fake.gdi_refs, 0);
    EXPECT_EQ(fake.surfaces_alive, 0);
  }
  Fake fake;
};

TEST_F(DisplayOpen, AutomaticTakesThePrimarySurfaceFirst) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, STYLE_PRIMARY);
  EXPECT_EQ(b->flags & DISPLAY_FORMAT_MASK, COPY_BGRX32);
  EXPECT_TRUE(b->flags & DISPLAY_DIRECT);
  EXPECT_STREQ(DisplayBufferStyleName(b), "DirectDraw primary surface");
  EXPECT_EQ(b->window_width, 326u);  // presented size plus the frame
  EXPECT_EQ(b->window_height, 265u);
  DisplayBufferClose(b);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, AutomaticGoesPrimaryDibThenOverlaysAndOffscreens) {
  fake.primary_lockable = false;
  fake.dib_ok = false;
  fake.surface_ok[STYLE_YV12_OVERLAY] = fake.surface_ok[STYLE_YUY2_OVERLAY] = false;
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, STYLE_UYVY_OVERLAY);
  EXPECT_EQ(fake.tried, (std::vector<uint32_t>{STYLE_DIB, 3, 4, 5}));
  EXPECT_EQ(b->flags & DISPLAY_FORMAT_MASK, COPY_UYVY);
  EXPECT_TRUE(b->is_overlay);
  // The new overlay was cleared to black: U 80 Y 00.
  EXPECT_EQ(fake.memory[0], 0x80);
  EXPECT_EQ(fake.memory[1], 0x00);
  DisplayBufferClose(b);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, AnExplicitStyleFailsAtOnceWithTheFinalText) {
  fake.surface_ok[STYLE_YV12_OFFSCREEN] = false;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, STYLE_YV12_OFFSCREEN), nullptr);
  EXPECT_STREQ(DisplayLastError(), "No capable blitting style available.");
  EXPECT_EQ(fake.tried, (std::vector<uint32_t>{STYLE_YV12_OFFSCREEN}));
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, ExplicitStylesNeedDirectDraw) {
  fake.direct_draw = false;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, STYLE_YUY2_OVERLAY), nullptr);
  EXPECT_STREQ(DisplayLastError(), "DirectDraw is not available");
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, STYLE_DIB);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(fake.gdi_refs, 1);
  DisplayBufferClose(b);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, EightBitScreenWithoutDirectDrawSaysSo) {
  fake.direct_draw = false;
  fake.screen.bits = 8;
  fake.screen.bytes = 1;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, 0), nullptr);
  EXPECT_STREQ(DisplayLastError(), "256 color mode not supported.");
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, STYLE_DIB), nullptr);
  EXPECT_STREQ(DisplayLastError(), "256 color mode not supported.");
  ExpectNothingHeld();
}

// An 8-bit screen where the device shows no overlay: the primary surface
// cannot take the copy, the DIB section needs two bytes a pixel, the RGB
// off-screen surfaces come in the screen's 8 bits and YUV ones would be
// blitted black into the palette. Nothing is left, and the text says why.
TEST_F(DisplayOpen, EightBitScreenWithDirectDrawButNoOverlayIsRefused) {
  fake.screen.bits = 8;
  fake.screen.bytes = 1;
  const DisplayPixelFormat palette = {0, 8, 0, 0, 0, 0};
  fake.format[STYLE_PRIMARY] = palette;
  fake.format[STYLE_RGB_VIDEO_OFFSCREEN] = fake.format[STYLE_RGB_SYSTEM_OFFSCREEN] = palette;
  fake.surface_ok[STYLE_YV12_OVERLAY] = fake.surface_ok[STYLE_YUY2_OVERLAY] = false;
  fake.surface_ok[STYLE_UYVY_OVERLAY] = false;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, 0), nullptr);
  EXPECT_STREQ(DisplayLastError(), "256 color mode not supported.");
  for (uint32_t style : {STYLE_YV12_OFFSCREEN, STYLE_YUY2_OFFSCREEN, STYLE_UYVY_OFFSCREEN}) {
    EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, style), nullptr) << style;
    EXPECT_STREQ(DisplayLastError(), "256 color mode not supported.");
  }
  ExpectNothingHeld();
  // On a true-colour screen the same surfaces are fine.
  fake.screen.bits = 32;
  fake.screen.bytes = 4;
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, STYLE_YV12_OFFSCREEN);
  EXPECT_NE(b, nullptr);
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, DibFailureTextsAndAutomaticFallBackWithoutDirectDraw) {
  fake.dib_ok = false;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, STYLE_DIB), nullptr);
  EXPECT_STREQ(DisplayLastError(), "Unable to create DIBSection.");
  fake.direct_draw = false;
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 240, 0), nullptr);
  EXPECT_STREQ(DisplayLastError(), "No capable blitting style available.");
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, RequiredShrinkRulesOutOverlaysThatOnlyStretch) {
  fake.screen.overlay_caps = CAP_STRETCH_X | CAP_STRETCH_X_INT | CAP_STRETCH_Y | CAP_STRETCH_Y_INT;
  fake.dib_ok = false;
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, CAP_SHRINK_X);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->style, STYLE_YV12_OFFSCREEN);
  EXPECT_TRUE(b->flags & DISPLAY_SCALED);
  EXPECT_EQ(b->flags, COPY_YV12 | uint32_t{DISPLAY_SCALED} | uint32_t{DISPLAY_REDRAW})
      << "the required capabilities do not stay in the result flags";
  // Neither the primary (no scaling) nor an overlay surface was even made.
  EXPECT_EQ(fake.tried, (std::vector<uint32_t>{STYLE_DIB, STYLE_YV12_OFFSCREEN}));
  DisplayBufferClose(b);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, RgbOffscreenInAnUnusableFormatIsDiscarded) {
  fake.format[STYLE_RGB_VIDEO_OFFSCREEN] = {0, 8, 0, 0, 0, 0};
  EXPECT_EQ(DisplayBufferOpen(nullptr, 64, 64, STYLE_RGB_VIDEO_OFFSCREEN), nullptr);
  EXPECT_STREQ(DisplayLastError(), "No capable blitting style available.");
  fake.format[STYLE_RGB_SYSTEM_OFFSCREEN] = {0, 16, 0x1F, 0x7E0, 0xF800, 0};
  EXPECT_EQ(DisplayBufferOpen(nullptr, 64, 64, STYLE_RGB_SYSTEM_OFFSCREEN), nullptr);
  EXPECT_STREQ(DisplayLastError(), "Video mode not supported.");
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, ZeroSizeYieldsNothing) {
  EXPECT_EQ(DisplayBufferOpen(nullptr, 0, 240, 0), nullptr);
  EXPECT_EQ(DisplayBufferOpen(nullptr, 320, 0, 0), nullptr);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, DibWithDirectDrawOpenElsewhereTakesADirectDrawReference) {
  DisplayBuffer* first = DisplayBufferOpen(nullptr, 32, 32, STYLE_PRIMARY);
  ASSERT_NE(first, nullptr);
  DisplayBuffer* dib = DisplayBufferOpen(nullptr, 32, 32, uint32_t{STYLE_DIB} | uint32_t{DISPLAY_MODE_CHANGE});
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(fake.direct_draw_refs, 2);
  EXPECT_EQ(fake.gdi_refs, 0);
  DisplayBufferClose(first);
  DisplayBufferClose(dib);
  ExpectNothingHeld();
}

TEST_F(DisplayOpen, LockFailureAsksForAFullCopyAndUnlockClearsIt) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 64, 48, STYLE_YUY2_OFFSCREEN);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(DisplayBufferLock(b));
  DisplayBufferUnlock(b);
  EXPECT_FALSE(b->flags & DISPLAY_REDRAW);
  fake.lock_result = DISPLAY_LOCK_FAILED;
  EXPECT_FALSE(DisplayBufferLock(b));
  EXPECT_TRUE(b->flags & DISPLAY_REDRAW);
  EXPECT_EQ(b->bits, nullptr);
  fake.lock_result = DISPLAY_LOCK_RESTORED;
  ASSERT_TRUE(DisplayBufferLock(b));
  EXPECT_TRUE(b->flags & DISPLAY_REDRAW) << "a restored surface must be copied whole";
  DisplayBufferUnlock(b);
  EXPECT_FALSE(b->flags & DISPLAY_REDRAW);
  EXPECT_EQ(b->bits, nullptr);
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, PrimaryLockPointsAtTheWindowsScreenPosition) {
  fake.origin_x = 100, fake.origin_y = 50;
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 64, 48, STYLE_PRIMARY);
  ASSERT_NE(b, nullptr);
  DisplayBufferSetOffset(b, 8, 2);
  EXPECT_EQ(b->screen_x, 108);
  EXPECT_EQ(b->screen_y, 52);
  ASSERT_TRUE(DisplayBufferLock(b));
  EXPECT_EQ(b->bits, fake.memory.data() + 52 * 4096 + 108 * 4);
  DisplayBufferUnlock(b);
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, BlitPresentsNothingForCountZeroAndAllForANullList) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 64, 48, STYLE_DIB);
  ASSERT_NE(b, nullptr);
  MovieRect r = {16, 0, 16, 16};
  DisplayBufferBlit(b, &r, 0);
  EXPECT_TRUE(fake.presented.empty());
  DisplayBufferBlit(b, nullptr, 1);
  ASSERT_EQ(fake.presented.size(), 1u);
  EXPECT_EQ(fake.presented[0][0].width, 64);
  EXPECT_EQ(fake.presented[0][0].height, 48);
  DisplayBufferClose(b);
  // The primary surface shows the copy itself: nothing to present.
  b = DisplayBufferOpen(nullptr, 64, 48, STYLE_PRIMARY);
  DisplayBufferBlit(b, nullptr, 1);
  EXPECT_EQ(fake.presented.size(), 1u);
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, ScaleNeedsTheStylesCapability) {
  fake.screen.blit_caps = CAP_STRETCH_X_INT | CAP_STRETCH_Y_INT;
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 320, 240, STYLE_RGB_VIDEO_OFFSCREEN);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(DisplayBufferSetScale(b, 640, 240), 1);
  EXPECT_EQ(b->presented_width, 640u);
  EXPECT_EQ(DisplayBufferSetScale(b, 480, 480), 0);
  EXPECT_EQ(b->presented_width, 640u) << "a refused width keeps its value";
  EXPECT_EQ(b->presented_height, 480u);
  EXPECT_EQ(b->window_width, 646u);
  EXPECT_EQ(DisplayBufferSetScale(b, 0, 0), 0) << "0 means the screen: 1024 is no integer stretch";
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, AlignWindowPutsTheClientOnAnEightByteBoundary) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 64, 48, STYLE_DIB);
  ASSERT_NE(b, nullptr);  // client offset 3, 22
  struct Case {
    uint32_t bytes;
    int32_t x, expect_client_x;
  } cases[] = {{2, 98, 104}, {2, 97, 100}, {4, 98, 102}, {3, 98, 104}, {4, -6, -2}, {2, -6, 0}};
  for (const Case& c : cases) {
    fake.screen.bytes = c.bytes;
    int32_t x = c.x, y = 7;
    DisplayBufferAlignWindow(b, &x, &y);
    EXPECT_EQ(x + 3, c.expect_client_x) << c.bytes << " bytes, client x " << c.x + 3;
    EXPECT_EQ(y, 7) << "y is not aligned";
  }
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, AlignWindowKeepsThePrimaryOnTheScreen) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 64, 48, STYLE_PRIMARY);
  ASSERT_NE(b, nullptr);
  int32_t x = 1000, y = 740;
  DisplayBufferAlignWindow(b, &x, &y);
  EXPECT_EQ(x + 3, 1024 - 64);
  EXPECT_EQ(y + 22, 768 - 48);
  x = -50, y = -50;
  DisplayBufferAlignWindow(b, &x, &y);
  EXPECT_EQ(x + 3, 0);
  EXPECT_EQ(y + 22, 0);
  DisplayBufferClose(b);
}

TEST_F(DisplayOpen, ClearFillsBlackThroughALock) {
  DisplayBuffer* b = DisplayBufferOpen(nullptr, 4, 2, STYLE_YUY2_OFFSCREEN);
  ASSERT_NE(b, nullptr);
  std::fill(fake.memory.begin(), fake.memory.end(), 0x33);
  ASSERT_EQ(DisplayBufferClear(b), 1);
  EXPECT_EQ(fake.memory[0], 0x00);
  EXPECT_EQ(fake.memory[1], 0x80);
  EXPECT_EQ(fake.memory[8], 0x33) << "only the width of each line";
  fake.lock_result = DISPLAY_LOCK_FAILED;
  EXPECT_EQ(DisplayBufferClear(b), 0);
  DisplayBufferClose(b);
}

}  // namespace
