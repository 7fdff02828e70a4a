// The help box on Windows. The system's message box limits its width to a
// share of the screen and wraps the longer help lines, which made it taller
// than a 768-line screen; this box is as wide as the longest line, so every
// line stands as written.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "player/front/help_box.h"

namespace {

constexpr const char* kBoxClass = "VornHelpBox";
constexpr int kMargin = 12;
constexpr int kIconGap = 12;
constexpr int kButtonWidth = 75, kButtonHeight = 23;
constexpr int kTextId = 100;

HFONT g_font = nullptr;

HFONT MessageFont() {
  if (g_font) return g_font;
  NONCLIENTMETRICSA metrics;
  std::memset(&metrics, 0, sizeof(metrics));
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
    g_font = CreateFontIndirectA(&metrics.lfMessageFont);
  if (!g_font) g_font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  return g_font;
}

// The size the text takes in the message font: tabs expanded, no wrapping.
SIZE TextSize(const char* text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, MessageFont());
  RECT r = {0, 0, 0, 0};
  DrawTextA(dc, text, -1, &r, DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return {r.right - r.left, r.bottom - r.top};
}

LRESULT CALLBACK HelpBoxProc(HWND box, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) DestroyWindow(box);
      return 0;
    case WM_CLOSE:
      DestroyWindow(box);
      return 0;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
      return DefWindowProcA(box, message, w, l);
  }
}

HWND Child(HWND box, const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
           int id) {
  HWND child = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, box,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)),
                               GetModuleHandleA(nullptr), nullptr);
  if (child) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont()), FALSE);
  return child;
}

}  // namespace

void* HelpBoxCreate(const char* text, const char* caption) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = HelpBoxProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kBoxClass;
  RegisterClassA(&wc);  // fails harmlessly when a previous box registered it

  const SIZE text_size = TextSize(text);
  const int icon = GetSystemMetrics(SM_CXICON);
  const int text_left = kMargin + icon + kIconGap;
  const int client_w = text_left + text_size.cx + kMargin;
  const int client_h = kMargin + text_size.cy + kMargin + kButtonHeight + kMargin;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
  RECT frame = {0, 0, client_w, client_h};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  HWND box = CreateWindowExA(ex_style, kBoxClass, caption, style, x > 0 ? x : 0, y > 0 ? y : 0, w,
                             h, nullptr, nullptr, instance, nullptr);
  if (!box) return nullptr;
  HWND picture = Child(box, "STATIC", "", SS_ICON, kMargin, kMargin, icon, icon, 0);
  if (picture)
    SendMessageA(picture, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_INFORMATION))),
                 0);
  Child(box, "STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX, text_left, kMargin, text_size.cx,
        text_size.cy, kTextId);
  Child(box, "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, (client_w - kButtonWidth) / 2,
        client_h - kMargin - kButtonHeight, kButtonWidth, kButtonHeight, IDOK);
  return box;
}

const char* HelpBoxText(void* box, char* dest, uint32_t size) {
  dest[0] = 0;
  HWND text = GetDlgItem(static_cast<HWND>(box), kTextId);
  if (text) GetWindowTextA(text, dest, static_cast<int>(size));
  return dest;
}

void HelpBoxShow(const char* text, const char* caption) {
  // Unattended runs (VORN_ANSWER) answer boxes without showing them.
  const char* answer = std::getenv("VORN_ANSWER");
  HWND box = answer && answer[0] ? nullptr : static_cast<HWND>(HelpBoxCreate(text, caption));
  if (!box) {
    MessageBoxShow(text, caption, MESSAGE_INFO);
    return;
  }
  ShowWindow(box, SW_SHOWNORMAL);
  SetForegroundWindow(box);
  SetFocus(GetDlgItem(box, IDOK));
  MSG msg;
  while (IsWindow(box) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(box, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
