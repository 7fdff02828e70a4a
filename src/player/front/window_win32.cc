// The player window on Windows: window class "VornWin", the window, the
// message pump and the window procedure, which forwards to the portable
// handlers of window_events.h and seek_keys.h with the player the window
// was made for (kept in the window's user data).
#include <windows.h>

#include <cstring>

#include "player/front/window.h"
#include "player/player_state.h"
#include "player/seek_keys.h"
#include "player/window_events.h"

namespace {

constexpr int kIconId = 101;
constexpr int kBlankCursorId = 101;
constexpr const char* kClassName = "VornWin";
constexpr int kCreateAttempts = 5;
constexpr DWORD kCreateRetryMs = 200;

HWND g_window = nullptr;

LRESULT OnPaint(PlayerState* player, HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (PlayerOnPaintBegin(player)) PatBlt(dc, 0, 0, 4096, 4096, BLACKNESS);
  PlayerOnPaintEnd(player);
  EndPaint(window, &ps);
  return 0;
}

void OnPosChanging(PlayerState* player, WINDOWPOS* pos) {
  if (pos->flags & SWP_NOMOVE) return;
  int32_t x = pos->x, y = pos->y;
  PlayerOnPosChanging(player, &x, &y);
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

// The player the window was made for: CreateWindowExA hands it over with
// WM_NCCREATE, the first message that carries it.
PlayerState* WindowPlayer(HWND window, UINT message, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* player = static_cast<PlayerState*>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(player));
    return player;
  }
  return reinterpret_cast<PlayerState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  PlayerState* player = WindowPlayer(window, message, l);
  if (message == WM_DESTROY) {
    g_window = nullptr;
    PostQuitMessage(0);
    return 0;
  }
  // Messages before WM_NCCREATE (WM_GETMINMAXINFO) have no player yet.
  if (!player) return DefWindowProcA(window, message, w, l);
  switch (message) {
    case WM_SETFOCUS:
      PlayerOnFocus(player, true);
      break;
    case WM_KILLFOCUS:
      PlayerOnFocus(player, false);
      break;
    case WM_PAINT:
      return OnPaint(player, window);
    case WM_ERASEBKGND:
      return 1;
    case WM_WINDOWPOSCHANGING:
      OnPosChanging(player, reinterpret_cast<WINDOWPOS*>(l));
      break;
    case WM_WINDOWPOSCHANGED:
      PlayerOnPosChanged(player);
      break;
    case WM_CHAR:
      PlayerOnChar(player, static_cast<int>(w));
      return 1;
    case WM_KEYDOWN:
      if (int key = NavigationKey(w)) {
        PlayerOnKey(player, key);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      PlayerOnClick(player);
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

void* CreatePlayerWindow(PlayerState* player) {
  const PlayerOptions* o = player->options;
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
                               GetModuleHandleA(nullptr), player);
    // An owner window given with /# that does not exist fails every time.
    if (g_window || (o->parent_window && !IsWindow(reinterpret_cast<HWND>(intptr_t{o->parent_window}))))
      break;
  }
  return g_window;
}

bool Pump(PlayerState*) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

void Layout(PlayerState*, int32_t x, int32_t y, int32_t width, int32_t height) {
  SetWindowPos(g_window, nullptr, x, y, width, height, 0);
  SendMessageA(g_window, WM_NCPAINT, 1, 0);
}

void Show(PlayerState*) { ShowWindow(g_window, SW_SHOWNORMAL); }
void Hide(PlayerState*) {
  if (g_window) ShowWindow(g_window, SW_HIDE);
}
void Destroy(PlayerState*) {
  if (g_window) DestroyWindow(g_window);
}

void FillBlack(PlayerState*) {
  HDC dc = GetDC(g_window);
  PatBlt(dc, 0, 0, 4096, 4096, BLACKNESS);
  ReleaseDC(g_window, dc);
}

void Invalidate(PlayerState*, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  RECT r = {left, top, right, bottom};
  InvalidateRect(g_window, &r, FALSE);
}

void TopLeft(PlayerState*, int32_t* x, int32_t* y) {
  RECT r;
  if (!g_window || !GetWindowRect(g_window, &r)) return;
  *x = r.left;
  *y = r.top;
}

void TextExtent(PlayerState*, const char* text, int32_t* width, int32_t* height) {
  HDC dc = GetDC(g_window);
  SIZE size = {0, 0};
  GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  ReleaseDC(g_window, dc);
  *width = size.cx;
  *height = size.cy;
}

void DrawStrip(PlayerState*, const char* text, int32_t left, int32_t top, int32_t right,
               int32_t bottom) {
  HDC dc = GetDC(g_window);
  RECT r = {left, top, right, bottom};
  SetTextColor(dc, RGB(255, 255, 0));
  SetBkColor(dc, RGB(0, 0, 0));
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  ExtTextOutA(dc, right / 2, top, ETO_OPAQUE, &r, text, static_cast<UINT>(std::strlen(text)),
              nullptr);
  ReleaseDC(g_window, dc);
}

void UpdateAll(PlayerState*) { UpdateWindow(nullptr); }

const PlayerWindowOps kWin32Ops = {
    RegisterPlayerClass, CreatePlayerWindow, Pump,      Layout,     Show,     Hide,
    Destroy,             FillBlack,          Invalidate, TopLeft,   TextExtent, DrawStrip,
    UpdateAll, nullptr,
};

}  // namespace

const PlayerWindowOps* PlayerFrontEnd() { return &kWin32Ops; }
