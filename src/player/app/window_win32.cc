// The player window on Windows: window class "VornWin", the window, the
// message pump and the window procedure, which forwards to the portable
// handlers of window_loop.h.
#include <windows.h>

#include <cstring>

#include "player/window_loop.h"

namespace {

constexpr int kIconId = 101;
constexpr int kBlankCursorId = 101;
constexpr const char* kClassName = "VornWin";
constexpr int kCreateAttempts = 5;
constexpr DWORD kCreateRetryMs = 200;

HWND g_window = nullptr;

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (PlayerOnPaintBegin()) PatBlt(dc, 0, 0, 4096, 4096, BLACKNESS);
  PlayerOnPaintEnd();
  EndPaint(window, &ps);
  return 0;
}

void OnPosChanging(WINDOWPOS* pos) {
  if (pos->flags & SWP_NOMOVE) return;
  int32_t x = pos->x, y = pos->y;
  PlayerOnPosChanging(&x, &y);
  pos->x = x;
  pos->y = y;
}

// The keys that move in the movie; they bring no WM_CHAR.
int NavigationKey(WPARAM virtual_key) {
  switch (virtual_key) {
    case VK_LEFT:
      return PLAYER_KEY_LEFT;
    case VK_RIGHT:
      return PLAYER_KEY_RIGHT;
    case VK_DOWN:
      return PLAYER_KEY_DOWN;
    case VK_UP:
      return PLAYER_KEY_UP;
    case VK_HOME:
      return PLAYER_KEY_HOME;
    case VK_PRIOR:
      return PLAYER_KEY_PAGE_UP;
    case VK_NEXT:
      return PLAYER_KEY_PAGE_DOWN;
    default:
      return 0;
  }
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_DESTROY:
      g_window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SETFOCUS:
      PlayerOnFocus(true);
      break;
    case WM_KILLFOCUS:
      PlayerOnFocus(false);
      break;
    case WM_PAINT:
      return OnPaint(window);
    case WM_ERASEBKGND:
      return 1;
    case WM_WINDOWPOSCHANGING:
      OnPosChanging(reinterpret_cast<WINDOWPOS*>(l));
      break;
    case WM_WINDOWPOSCHANGED:
      PlayerOnPosChanged();
      break;
    case WM_CHAR:
      PlayerOnChar(static_cast<int>(w));
      return 1;
    case WM_KEYDOWN:
      if (int key = NavigationKey(w)) {
        PlayerOnKey(key);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      PlayerOnClick();
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, w, l);
}

bool RegisterPlayerClass(const PlayerOptions* o) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc;
  std::memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = PlayerWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
  wc.hCursor = o->hide_cursor ? LoadCursorA(instance, MAKEINTRESOURCEA(kBlankCursorId))
                              : LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = kClassName;
  return RegisterClassA(&wc) != 0;
}

void* CreatePlayerWindow(const PlayerOptions* o) {
  DWORD ex_style = 0;
  if (o->topmost) ex_style |= WS_EX_TOPMOST;
  if (o->window_style != 2) ex_style |= WS_EX_DLGMODALFRAME;
  DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
  if (o->window_style == 0) style |= WS_CAPTION;
  // The first window of a process needs the desktop window, which a loaded
  // system (or an emulator starting its desktop process) may not have ready
  // yet: creation then fails once and works a moment later. A few tries, a
  // little apart, before "Error creating window." is shown.
  for (int attempt = 0; attempt < kCreateAttempts; attempt++) {
    if (attempt) Sleep(kCreateRetryMs);
    g_window = CreateWindowExA(ex_style, kClassName, "Vorn Video Player", style, CW_USEDEFAULT,
                               CW_USEDEFAULT, 32, 32,
                               reinterpret_cast<HWND>(intptr_t{o->parent_window}), nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    // An owner window given with /# that does not exist fails every time.
    if (g_window || (o->parent_window && !IsWindow(reinterpret_cast<HWND>(intptr_t{o->parent_window}))))
      break;
  }
  return g_window;
}

bool Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void Layout(int32_t x, int32_t y, int32_t width, int32_t height) {
  SetWindowPos(g_window, nullptr, x, y, width, height, 0);
  SendMessageA(g_window, WM_NCPAINT, 1, 0);
}

void Show() { ShowWindow(g_window, SW_SHOWNORMAL); }
void Hide() {
  if (g_window) ShowWindow(g_window, SW_HIDE);
}
void Destroy() {
  if (g_window) DestroyWindow(g_window);
}

void FillBlack() {
  HDC dc = GetDC(g_window);
  PatBlt(dc, 0, 0, 4096, 4096, BLACKNESS);
  ReleaseDC(g_window, dc);
}

void Invalidate(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  RECT r = {left, top, right, bottom};
  InvalidateRect(g_window, &r, FALSE);
}

void TopLeft(int32_t* x, int32_t* y) {
  RECT r;
  if (!g_window || !GetWindowRect(g_window, &r)) return;
  *x = r.left;
  *y = r.top;
}

void TextExtent(const char* text, int32_t* width, int32_t* height) {
  HDC dc = GetDC(g_window);
  SIZE size = {0, 0};
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  ReleaseDC(g_window, dc);
  *width = size.cx;
  *height = size.cy;
}

void DrawStrip(const char* text, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  HDC dc = GetDC(g_window);
  RECT r = {left, top, right, bottom};
  SetTextColor(dc, RGB(255, 255, 0));
  SetBkColor(dc, RGB(0, 0, 0));
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  ExtTextOutA(dc, right / 2, top, ETO_OPAQUE, &r, text, static_cast<UINT>(std::strlen(text)),
              nullptr);
  ReleaseDC(g_window, dc);
}

void UpdateAll() { UpdateWindow(nullptr); }

const PlayerWindowOps kWin32Ops = {
    RegisterPlayerClass, CreatePlayerWindow, Pump,      Layout,     Show,     Hide,
    Destroy,             FillBlack,          Invalidate, TopLeft,   TextExtent, DrawStrip,
    UpdateAll, nullptr,
};

}  // namespace

const PlayerWindowOps* PlayerFrontEnd() { return &kWin32Ops; }
