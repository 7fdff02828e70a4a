// The Windows help box: every help line as written, on a 1024 x 768 screen.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "player/front/help_box.h"
#include "player/help_text.h"

namespace {

TEST(HelpBox, HoldsTheTextExactlyAndFitsTheScreen) {
  HWND box = static_cast<HWND>(HelpBoxCreate(PlayerHelpText(), kHelpCaption));
  ASSERT_NE(box, nullptr);
  static char shown[8192];
  EXPECT_EQ(std::string(HelpBoxText(box, shown, sizeof(shown))), PlayerHelpText());
  char caption[64];
  GetWindowTextA(box, caption, sizeof(caption));
  EXPECT_STREQ(caption, kHelpCaption);
  RECT r;
  ASSERT_TRUE(GetWindowRect(box, &r));
  EXPECT_GE(r.left, 0);
  EXPECT_GE(r.top, 0);
  EXPECT_LE(r.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_LE(r.bottom, GetSystemMetrics(SM_CYSCREEN)) << "the box is taller than the screen";
  // No line wraps: the text control is exactly as many lines high as the text has.
  HWND text = GetDlgItem(box, 100);
  ASSERT_NE(text, nullptr);
  RECT t;
  GetClientRect(text, &t);
  HDC dc = GetDC(text);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  RECT wrapped = t;
  DrawTextA(dc, PlayerHelpText(), -1, &wrapped,
            DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(text, dc);
  int lines = 0;
  for (const char* c = PlayerHelpText(); *c; c++) lines += *c == '\n';
  EXPECT_EQ(wrapped.bottom - wrapped.top, lines * metrics.tmHeight) << "a line wrapped";
  DestroyWindow(box);
}

}  // namespace
#endif  // _WIN32
