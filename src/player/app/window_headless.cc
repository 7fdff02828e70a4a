// The player without a window system (POSIX builds without SDL2): the
// "window" exists only as state, the display is the memory back end, and
// the movies play through at their own pace with nothing shown. Useful for
// checking a movie plays to its end.
#include <cstdio>
#include <cstring>

#include "app/player_main.h"

#include "player/window_loop.h"

namespace {

bool g_created = false;
bool g_quit_posted = false;
int g_window_token;

bool RegisterClass(const PlayerOptions*) { return true; }

void* Create(const PlayerOptions*) {
  g_created = true;
  g_quit_posted = false;
  return &g_window_token;
}

bool Pump() { return !g_quit_posted; }
void Layout(int32_t, int32_t, int32_t, int32_t) {}
void Show() { PlayerOnFocus(true); }
void Hide() {}
void Destroy() {
  if (g_created) g_quit_posted = true;
  g_created = false;
}
void FillBlack() {}
void Invalidate(int32_t, int32_t, int32_t, int32_t) {}
void TopLeft(int32_t*, int32_t*) {}
void TextExtent(const char* text, int32_t* width, int32_t* height) {
  *width = static_cast<int32_t>(std::strlen(text)) * 6;
  *height = 13;
}
void DrawStrip(const char*, int32_t, int32_t, int32_t, int32_t) {}
void UpdateAll() {}

const PlayerWindowOps kHeadlessOps = {
    RegisterClass, Create,    Pump,    Layout,     Show,      Hide,      Destroy,
    FillBlack,     Invalidate, TopLeft, TextExtent, DrawStrip, UpdateAll, nullptr,
};

}  // namespace

const PlayerWindowOps* PlayerFrontEnd() { return &kHeadlessOps; }

const char* PlayerSelectSoundPosix(const char* program) {
  std::fprintf(stderr, "%s: built without SDL2: playing without sound\n", program);
  return "none";
}
