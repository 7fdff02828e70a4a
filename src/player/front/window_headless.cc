// The player without a window system (POSIX builds without SDL2): nothing
// could be shown, so the player refuses to start rather than "play" a movie
// nobody sees and report success; vorntool play --headless plays without a
// window on purpose. The operations stay whole for builds that drive them.
#include <cstdio>
#include <cstring>

#include "player/front/window.h"
#include "player/player_state.h"
#include "player/window_events.h"

namespace {

bool g_created = false;
bool g_quit_posted = false;
int g_window_token;

bool RegisterClass(const PlayerOptions*) {
  std::fprintf(stderr,
               "vornplay: built without SDL2, so no window can be shown; install SDL2's\n"
               "development files and rebuild, or play without a window:\n"
               "  vorntool play --headless MOVIE\n");
  return false;
}

void* Create(PlayerState*) {
  g_created = true;
  g_quit_posted = false;
  return &g_window_token;
}

bool Pump(PlayerState*) { return !g_quit_posted; }
void Layout(PlayerState*, int32_t, int32_t, int32_t, int32_t) {}
void Show(PlayerState* player) { PlayerOnFocus(player, true); }
void Hide(PlayerState*) {}
void Destroy(PlayerState*) {
  if (g_created) g_quit_posted = true;
  g_created = false;
}
void FillBlack(PlayerState*) {}
void Invalidate(PlayerState*, int32_t, int32_t, int32_t, int32_t) {}
void TopLeft(PlayerState*, int32_t*, int32_t*) {}
void TextExtent(PlayerState*, const char* text, int32_t* width, int32_t* height) {
  *width = static_cast<int32_t>(std::strlen(text)) * 6;
  *height = 13;
}
void DrawStrip(PlayerState*, const char*, int32_t, int32_t, int32_t, int32_t) {}
void UpdateAll(PlayerState*) {}

void WarnOnStderr(PlayerState*, const char* text) { std::fprintf(stderr, "%s\n", text); }

const PlayerWindowOps kHeadlessOps = {
    RegisterClass, Create,    Pump,    Layout,     Show,      Hide,      Destroy,
    FillBlack,     Invalidate, TopLeft, TextExtent, DrawStrip, UpdateAll, nullptr,   WarnOnStderr,
};

}  // namespace

const PlayerWindowOps* PlayerFrontEnd() { return &kHeadlessOps; }

const char* PlayerSelectSoundPosix(const char* program) {
  std::fprintf(stderr, "%s: built without SDL2: playing without sound\n", program);
  return "none";
}
