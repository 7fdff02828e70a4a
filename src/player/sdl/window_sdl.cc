// The player window on POSIX systems with SDL2: an SDL window and renderer,
// the display buffer as plain memory presented through a streaming texture
// in the buffer's own pixel format, the keys and window events forwarded to
// the portable handlers. SDL has no text output, so the statistics line
// goes to the window title instead of a strip above the picture.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "display/display_memory.h"
#include "engine/engine_memory.h"
#include "engine/movie.h"
#include "player/window_loop.h"

namespace {

SDL_Window* g_window = nullptr;
SDL_Renderer* g_renderer = nullptr;
SDL_Rect g_picture = {0, 0, 0, 0};  // where the last present put the picture
bool g_quit_posted = false;
DisplayBackend g_backend;

bool Headless() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && (!std::strcmp(driver, "dummy") || !std::strcmp(driver, "offscreen"));
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
bool RegisterClass(const PlayerOptions*) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
    return false;
  }
  std::atexit(SDL_Quit);
  return true;
}

void* Create(const PlayerOptions* o) {
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (o->window_style != 0) flags |= SDL_WINDOW_BORDERLESS;
  if (o->topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  g_window = SDL_CreateWindow("Vorn Video Player", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              32, 32, flags);
  if (!g_window) return nullptr;
  if (Headless()) SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
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

void KeyDown(const SDL_KeyboardEvent& e) {
  const SDL_Keycode key = e.keysym.sym;
  if (int c = VolumeChar(key)) {
    PlayerOnChar(c);
  } else if (int k = NavigationKey(key)) {
    PlayerOnKey(k);
  } else if (int ch = KeyChar(key); ch && !e.repeat) {
    PlayerOnChar(ch);
  }
}

// A click on the picture pauses and resumes; elsewhere only the logo's
// page opens.
void Click(int x, int y) {
  const SDL_Point at = {x, y};
  if (SDL_PointInRect(&at, &g_picture))
    PlayerOnPictureClick();
  else if (Player()->logo_mode)
    PlayerOnClick();
}

void Paint() {
  if (PlayerOnPaintBegin()) {
    SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
    SDL_RenderClear(g_renderer);
    SDL_RenderPresent(g_renderer);
  }
  PlayerOnPaintEnd();
}

void Destroy();

void WindowEvent(const SDL_WindowEvent& e) {
  switch (e.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      PlayerOnFocus(true);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      PlayerOnFocus(false);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      Paint();
      break;
    case SDL_WINDOWEVENT_MOVED:
      PlayerOnPosChanged();
      break;
    case SDL_WINDOWEVENT_CLOSE:
      Destroy();
      break;
    default:
      break;
  }
}

bool Pump() {
  SDL_Event e;
  while (!g_quit_posted && SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) {
      Destroy();
    } else if (e.type == SDL_KEYDOWN) {
      KeyDown(e.key);
    } else if (e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT) {
      Click(e.button.x, e.button.y);
    } else if (e.type == SDL_WINDOWEVENT) {
      WindowEvent(e.window);
    }
  }
  return !g_quit_posted;
}

void Layout(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!g_window) return;
  int32_t ax = x, ay = y;
  PlayerOnPosChanging(&ax, &ay);
  SDL_SetWindowSize(g_window, width, height);
  SDL_SetWindowPosition(g_window, ax, ay);
}

void Show() {
  if (!g_window) return;
  SDL_ShowWindow(g_window);
  SDL_RaiseWindow(g_window);
  // Window systems without focus events (the dummy driver) still play.
  PlayerOnFocus(true);
}

void Hide() {
  if (g_window) SDL_HideWindow(g_window);
}

// The quit message of the loop; the window and renderer stay until exit
// because the display buffers still hold textures of the renderer.
void Destroy() {
  Hide();
  g_quit_posted = true;
}

void FillBlack() {
  if (!g_renderer) return;
  SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
  SDL_RenderClear(g_renderer);
  SDL_RenderPresent(g_renderer);
}

void Invalidate(int32_t, int32_t, int32_t, int32_t) {
  SDL_Event e;
  std::memset(&e, 0, sizeof(e));
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_EXPOSED;
  SDL_PushEvent(&e);
}

void TopLeft(int32_t* x, int32_t* y) {
  int wx = 0, wy = 0;
  if (g_window) SDL_GetWindowPosition(g_window, &wx, &wy);
  *x = wx;
  *y = wy;
}

// No strip: the line goes to the title.
void TextExtent(const char*, int32_t* width, int32_t* height) { *width = *height = 0; }

void DrawStrip(const char* text, int32_t, int32_t, int32_t, int32_t) {
  if (g_window) SDL_SetWindowTitle(g_window, text);
}

void UpdateAll() {}

const PlayerWindowOps kSdlOps = {
    RegisterClass, Create,     Pump,    Layout,     Show,      Hide,      Destroy,
    FillBlack,     Invalidate, TopLeft, TextExtent, DrawStrip, UpdateAll,
};

}  // namespace

const PlayerWindowOps* PlayerFrontEnd() { return &kSdlOps; }
