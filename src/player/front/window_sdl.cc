// The player window on POSIX systems with SDL2: an SDL window and renderer,
// the display buffer as plain memory presented through a streaming texture
// in the buffer's own pixel format, the keys and window events forwarded to
// the portable handlers. SDL has no text output, so the statistics line
// goes to the window title instead of a strip above the picture.
//
// The window is resizable: the renderer's logical size is the laid-out
// window size, so the picture scales to any window or to the desktop's full
// screen keeping its aspect ratio, with black bars.
#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/front/window.h"

#include "base/engine_memory.h"
#include "display/display_memory.h"
#include "player/player_state.h"
#include "player/player_system.h"
#include "player/seek_keys.h"
#include "player/window_events.h"
#include "sound/sound_drivers.h"
#include "sound/sound_sdl.h"
#include "vorn/movie.h"

namespace {

SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
SDL_Rect g_picture = {0, 0, 0, 0};  // where the last present put the picture
bool g_quit_posted = false;
bool g_fullscreen = false;
int g_layout_width = 0, g_layout_height = 0;
DisplayBackend g_backend;

bool IsOffscreenDriver(const char* driver) {
  return driver && (!std::strcmp(driver, "dummy") || !std::strcmp(driver, "offscreen"));
}

bool Headless() { return IsOffscreenDriver(SDL_GetCurrentVideoDriver()); }

ScreenSize SdlScreenSize() {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) return {mode.w, mode.h};
  return {1024, 768};
}

// ---- Display back end: memory plus a texture -------------------------------------
int SdlDibCreate(DisplayBuffer* b) {
  if (!DisplayMemoryDibCreate(b)) return 0;
  // The memory holds B, G, R, X bytes: 32-bit XRGB words on little-endian machines.
  SDL_Texture* texture =
      SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                        static_cast<int>(b->width), static_cast<int>(b->height));
  if (!texture) {
    DisplayMemoryDestroy(b);
    return 0;
  }
  b->extra = texture;
  return 1;
}

void SdlDestroy(DisplayBuffer* b) {
  if (b->extra) SDL_DestroyTexture(static_cast<SDL_Texture*>(b->extra));
  b->extra = nullptr;
  b->surface = nullptr;
  DisplayMemoryDestroy(b);
}

void UploadTexture(DisplayBuffer* b, SDL_Texture* texture);

// The whole picture is presented each time: the renderer keeps no earlier frame.
void SdlPresent(DisplayBuffer* b, const MovieRect*, int) {
  auto* texture = static_cast<SDL_Texture*>(b->extra);
  if (!texture || !g_renderer) return;
  UploadTexture(b, texture);
  SDL_Rect dst = {b->x_offset, b->y_offset, static_cast<int>(b->presented_width),
                  static_cast<int>(b->presented_height)};
  g_picture = dst;
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderCopy(g_renderer, texture, nullptr, &dst);
  SDL_RenderPresent(g_renderer);
}

// The off-screen styles as textures: YV12, YUY2 and UYVY (6 to 8) and RGB
// (9, 10), each written by the copy in its own format and scaled by the
// renderer. There is no screen surface to write into and no overlay.
int g_texture_refs = 0;
int TexturesOpen(void*, int) {
  ++g_texture_refs;
  return 1;
}
void TexturesRelease() { --g_texture_refs; }
int TextureRefs() { return g_texture_refs; }
int NotLockable(DisplayBuffer*) { return 0; }

constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

int SdlSurfaceCreate(DisplayBuffer* b, uint32_t style, DisplayPixelFormat* pf) {
  if (style < STYLE_YV12_OFFSCREEN || b->width % 2 || b->height % 2) return 0;
  Uint32 format;
  uint32_t pitch, bytes;
  *pf = {};
  if (style == STYLE_YV12_OFFSCREEN) {
    format = SDL_PIXELFORMAT_YV12;
    pf->fourcc = FourCc('Y', 'V', '1', '2');
    pitch = (b->width + 7) & ~7u;
    bytes = pitch * b->height * 3 / 2;
  } else if (style <= STYLE_UYVY_OFFSCREEN) {
    const bool yuy2 = style == STYLE_YUY2_OFFSCREEN;
    format = yuy2 ? SDL_PIXELFORMAT_YUY2 : SDL_PIXELFORMAT_UYVY;
    pf->fourcc = yuy2 ? FourCc('Y', 'U', 'Y', '2') : FourCc('U', 'Y', 'V', 'Y');
    pitch = (b->width * 2 + 7) & ~7u;
    bytes = pitch * b->height;
  } else {
    format = SDL_PIXELFORMAT_RGB888;
    *pf = {0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
    pitch = b->width * 4;
    bytes = pitch * b->height;
  }
  SDL_Texture* texture = SDL_CreateTexture(g_renderer, format, SDL_TEXTUREACCESS_STREAMING,
                                           static_cast<int>(b->width), static_cast<int>(b->height));
  auto* memory = texture ? static_cast<uint8_t*>(EngineAlloc(bytes)) : nullptr;
  if (!memory) {
    if (texture) SDL_DestroyTexture(texture);
    return 0;
  }
  b->extra = texture;
  b->surface = texture;
  b->dib_bits = memory;
  b->dib_pitch = static_cast<int32_t>(pitch);
  return 1;
}

void UploadTexture(DisplayBuffer* b, SDL_Texture* texture) {
  if (b->style != STYLE_YV12_OFFSCREEN) {
    SDL_UpdateTexture(texture, nullptr, b->dib_bits, b->dib_pitch);
    return;
  }
  // Luma, then the V plane, then the U plane, at half the pitch.
  const int pitch = b->dib_pitch, half = pitch / 2;
  const uint8_t* y = b->dib_bits;
  const uint8_t* v = y + static_cast<size_t>(pitch) * b->height;
  const uint8_t* u = v + static_cast<size_t>(half) * (b->height / 2);
  SDL_UpdateYUVTexture(texture, nullptr, y, pitch, u, half, v, half);
}

void SdlAttach(DisplayBuffer* b) {
  b->client_x_offset = b->client_y_offset = 0;
  b->frame_width = b->frame_height = 0;  // SDL sizes the client area itself
}

void SdlOrigin(void*, int32_t* x, int32_t* y) {
  int wx = 0, wy = 0;
  if (g_window) SDL_GetWindowPosition(g_window, &wx, &wy);
  *x = wx;
  *y = wy;
}

void InstallBackend() {
  g_backend = *DisplayMemoryBackend();
  g_backend.direct_draw_open = TexturesOpen;
  g_backend.direct_draw_release = TexturesRelease;
  g_backend.direct_draw_refs = TextureRefs;
  g_backend.primary_lockable = NotLockable;
  g_backend.surface_create = SdlSurfaceCreate;
  g_backend.dib_create = SdlDibCreate;
  g_backend.surface_destroy = SdlDestroy;
  g_backend.present = SdlPresent;
  g_backend.window_attach = SdlAttach;
  g_backend.client_origin = SdlOrigin;
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0)
    DisplayMemorySetScreen(
        {static_cast<uint32_t>(mode.w), static_cast<uint32_t>(mode.h), 32, 4, 0, CAP_ALL});
  DisplaySetBackend(&g_backend);
}

// ---- Window ops ----------------------------------------------------------------------
constexpr const char* kNoDisplay =
    "vornplay: no display to open a window on (%s); set DISPLAY, or play without a window:\n"
    "  vorntool play --headless MOVIE\n";

// A display failure ends the player: SDL's off-screen drivers, which it
// falls back on when nothing else works, are used only when asked for by
// name (SDL_VIDEODRIVER=dummy or offscreen).
// SDL_Init with the complaints of the display libraries it tries on the
// way held back: the player says in one line of its own what went wrong.
int InitVideoQuietly() {
  std::fflush(stderr);
  const int saved = dup(2);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && null >= 0) dup2(null, 2);
  if (null >= 0) close(null);
  const int result = SDL_Init(SDL_INIT_VIDEO);
  if (saved >= 0) {
    dup2(saved, 2);
    close(saved);
  }
  return result;
}

bool RegisterClass(const PlayerOptions*) {
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (InitVideoQuietly() != 0) {
    std::fprintf(stderr, kNoDisplay, SDL_GetError());
    return false;
  }
  std::atexit(SDL_Quit);
  if (Headless() && !IsOffscreenDriver(asked)) {
    char why[96];
    std::snprintf(why, sizeof(why), "only SDL's '%s' video driver started", SDL_GetCurrentVideoDriver());
    std::fprintf(stderr, kNoDisplay, why);
    return false;
  }
  // Full-screen sizes (/W-1 /H-1) refer to the real desktop.
  PlayerSystemHooks()->screen_size = SdlScreenSize;
  return true;
}

void* Create(PlayerState* player) {
  const PlayerOptions* o = player->options;
  Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE;
  if (o->window_style != 0) flags |= SDL_WINDOW_BORDERLESS;
  if (o->topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  g_window = SDL_CreateWindow("Vorn Video Player", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              32, 32, flags);
  if (!g_window) return nullptr;
  if (Headless()) SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  g_renderer = SDL_CreateRenderer(g_window, -1, 0);
  if (!g_renderer) {
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
    return nullptr;
  }
  if (o->hide_cursor) SDL_ShowCursor(SDL_DISABLE);
  g_quit_posted = false;
  InstallBackend();
  return g_window;
}

int KeyChar(SDL_Keycode key) {
  switch (key) {
    case SDLK_SPACE:
      return ' ';
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return '\r';
    case SDLK_PERIOD:
    case SDLK_KP_PERIOD:
      return '.';
    case SDLK_ESCAPE:
      return 27;
    case SDLK_q:
      return 'q';
    case SDLK_f:
      return 'f';
    default:
      return 0;
  }
}

// Keys that may repeat while held: volume characters and moves.
int VolumeChar(SDL_Keycode key) {
  switch (key) {
    case SDLK_PLUS:
    case SDLK_KP_PLUS:
    case SDLK_EQUALS:  // '+' without the shift key
      return '+';
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
      return '-';
    case SDLK_0:
    case SDLK_KP_0:
      return '0';
    case SDLK_9:
    case SDLK_KP_9:
      return '9';
    case SDLK_m:
      return 'm';
    default:
      return 0;
  }
}

int NavigationKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_LEFT:
      return PLAYER_KEY_LEFT;
    case SDLK_RIGHT:
      return PLAYER_KEY_RIGHT;
    case SDLK_DOWN:
      return PLAYER_KEY_DOWN;
    case SDLK_UP:
      return PLAYER_KEY_UP;
    case SDLK_HOME:
      return PLAYER_KEY_HOME;
    case SDLK_PAGEUP:
      return PLAYER_KEY_PAGE_UP;
    case SDLK_PAGEDOWN:
      return PLAYER_KEY_PAGE_DOWN;
    default:
      return 0;
  }
}

void OnKey(PlayerState* player, int c);

void KeyDown(PlayerState* player, const SDL_KeyboardEvent& e) {
  const SDL_Keycode key = e.keysym.sym;
  if (int c = VolumeChar(key)) {
    PlayerOnChar(player, c);
  } else if (int k = NavigationKey(key)) {
    PlayerOnKey(player, k);
  } else if (int ch = KeyChar(key); ch && !e.repeat) {
    OnKey(player, ch);
  }
}

// A click on the picture pauses and resumes; elsewhere only the logo's
// page opens.
void Click(PlayerState* player, int x, int y) {
  const SDL_Point at = {x, y};
  if (SDL_PointInRect(&at, &g_picture))
    PlayerOnPictureClick(player);
  else if (player->logo_mode)
    PlayerOnClick(player);
}

void Paint(PlayerState* player) {
  if (PlayerOnPaintBegin(player)) {
    SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
    SDL_RenderClear(g_renderer);
    SDL_RenderPresent(g_renderer);
  }
  PlayerOnPaintEnd(player);
}

void Destroy(PlayerState* player);

// A borderless window over the whole desktop and back; the logical size
// keeps the picture's proportions either way. The window itself is made
// borderless and moved over the display: window managers treat such a
// window as full screen, and without a window manager (a bare X server)
// it is the only way that works, where a full-screen request goes
// unanswered. The window comes back where it was and as large as it was.
int g_windowed_x = 0, g_windowed_y = 0, g_windowed_width = 0, g_windowed_height = 0;

void SetFullscreen(PlayerState* player, bool on) {
  if (!g_window || on == g_fullscreen) return;
  if (on) {
    SDL_Rect bounds;
    const int index = SDL_GetWindowDisplayIndex(g_window);
    if (SDL_GetDisplayBounds(index < 0 ? 0 : index, &bounds) != 0) return;
    SDL_GetWindowPosition(g_window, &g_windowed_x, &g_windowed_y);
    SDL_GetWindowSize(g_window, &g_windowed_width, &g_windowed_height);
    g_fullscreen = true;
    SDL_SetWindowBordered(g_window, SDL_FALSE);
    SDL_SetWindowPosition(g_window, bounds.x, bounds.y);
    SDL_SetWindowSize(g_window, bounds.w, bounds.h);
    SDL_RaiseWindow(g_window);
    return;
  }
  g_fullscreen = false;
  SDL_SetWindowBordered(g_window, player->options->window_style == 0 ? SDL_TRUE : SDL_FALSE);
  // A window as large as the screen (/W-1 /H-1) comes back at the movie's
  // own size rather than as a framed copy of the full screen.
  const ScreenSize screen = SdlScreenSize();
  const DisplayBuffer* d = player->display;
  if (d && g_windowed_width >= screen.width && g_windowed_height >= screen.height) {
    SDL_SetWindowSize(g_window, static_cast<int>(d->width), static_cast<int>(d->height));
    SDL_SetWindowPosition(g_window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  } else {
    SDL_SetWindowSize(g_window, g_windowed_width, g_windowed_height);
    SDL_SetWindowPosition(g_window, g_windowed_x, g_windowed_y);
  }
}

void OnKey(PlayerState* player, int c) {
  if (c == 'q') {
    PlayerOnQuitKey(player);
  } else if (c == 'f') {
    SetFullscreen(player, !g_fullscreen);
  } else {
    PlayerOnChar(player, c);
  }
}

void WindowEvent(PlayerState* player, const SDL_WindowEvent& e) {
  switch (e.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      PlayerOnFocus(player, true);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      PlayerOnFocus(player, false);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      Paint(player);
      break;
    case SDL_WINDOWEVENT_MOVED:
      PlayerOnPosChanged(player);
      break;
    case SDL_WINDOWEVENT_CLOSE:
      Destroy(player);
      break;
    default:
      break;
  }
}

bool Pump(PlayerState* player) {
  SDL_Event e;
  while (!g_quit_posted && SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) {
      Destroy(player);
    } else if (e.type == SDL_KEYDOWN) {
      KeyDown(player, e.key);
    } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT &&
               e.button.clicks == 2) {
      SetFullscreen(player, !g_fullscreen);
    } else if (e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT) {
      Click(player, e.button.x, e.button.y);
    } else if (e.type == SDL_DROPFILE) {
      if (e.drop.file && !PlayerOnDropFile(player, e.drop.file))
        std::fprintf(stderr, "vornplay: cannot play the dropped '%s' now\n", e.drop.file);
      SDL_free(e.drop.file);
    } else if (e.type == SDL_WINDOWEVENT) {
      WindowEvent(player, e.window);
    }
  }
  return !g_quit_posted;
}

void Layout(PlayerState* player, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!g_window) return;
  int32_t ax = x, ay = y;
  PlayerOnPosChanging(player, &ax, &ay);
  g_layout_width = width;
  g_layout_height = height;
  if (g_renderer) SDL_RenderSetLogicalSize(g_renderer, width, height);
  if (g_fullscreen) return;
  SDL_SetWindowSize(g_window, width, height);
  SDL_SetWindowPosition(g_window, ax, ay);
}

void Show(PlayerState* player) {
  if (!g_window) return;
  SDL_ShowWindow(g_window);
  SDL_RaiseWindow(g_window);
  // A window as large as the desktop (/W-1 /H-1, --fullscreen) is the full screen.
  const ScreenSize screen = SdlScreenSize();
  if (g_layout_width >= screen.width && g_layout_height >= screen.height) SetFullscreen(player, true);
  // Window systems without focus events (the dummy driver) still play.
  PlayerOnFocus(player, true);
}

void Hide(PlayerState*) {
  if (g_window) SDL_HideWindow(g_window);
}

// The quit message of the loop; the window and renderer stay until exit
// because the display buffers still hold textures of the renderer.
void Destroy(PlayerState* player) {
  Hide(player);
  g_quit_posted = true;
}

void FillBlack(PlayerState*) {
  if (!g_renderer) return;
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderPresent(g_renderer);
}

void Invalidate(PlayerState*, int32_t, int32_t, int32_t, int32_t) {
  SDL_Event e;
  std::memset(&e, 0, sizeof(e));
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_EXPOSED;
  SDL_PushEvent(&e);
}

void TopLeft(PlayerState*, int32_t* x, int32_t* y) {
  int wx = 0, wy = 0;
  if (g_window) SDL_GetWindowPosition(g_window, &wx, &wy);
  *x = wx;
  *y = wy;
}

// No strip: the line goes to the title.
void TextExtent(PlayerState*, const char*, int32_t* width, int32_t* height) { *width = *height = 0; }

void DrawStrip(PlayerState*, const char* text, int32_t, int32_t, int32_t, int32_t) {
  if (g_window) SDL_SetWindowTitle(g_window, text);
}

void UpdateAll(PlayerState*) {}

void WarnOnStderr(PlayerState*, const char* text) { std::fprintf(stderr, "%s\n", text); }

void SetTitle(PlayerState* player, const char* title) {
  // With the statistics line the title is the line.
  if (g_window && !player->options->show_stats) SDL_SetWindowTitle(g_window, title);
}

const PlayerWindowOps kSdlOps = {
    RegisterClass, Create,     Pump,    Layout,     Show,      Hide,      Destroy,
    FillBlack,     Invalidate, TopLeft, TextExtent, DrawStrip, UpdateAll, SetTitle, WarnOnStderr,
};

}  // namespace

const char* PlayerSelectSoundPosix(const char* program) {
  static char note[64];
  if (!SoundDriverSelect(SoundSdlDriver, 0)) {
    std::fprintf(stderr, "%s: no sound (%s); playing without sound\n", program, SoundSdlLastError());
    return "none";
  }
  std::snprintf(note, sizeof(note), "SDL %s", SoundSdlBackendName());
  return note;
}

const PlayerWindowOps* PlayerFrontEnd() { return &kSdlOps; }
