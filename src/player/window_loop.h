// The player window's portable side: the player state, the main loop that
// paces decoding with short sleeps, the per-frame step, looping, the next
// file, the closing logo and shutdown. The window system (Win32, SDL, or
// none) plugs in through PlayerWindowOps and forwards its events to the
// PlayerOn* handlers.
#pragma once
#include <cstdint>

#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/names.h"
#include "player/player_options.h"

struct Movie;
struct DisplayBuffer;

struct PlayerWindowOps {
  // Registers the window class (icon, cursor: invisible with hide_cursor).
  bool (*register_class)(const PlayerOptions* options);
  // Creates the player window; its handle is returned (null on failure).
  void* (*create)(const PlayerOptions* options);
  // Handles every waiting message; false once the quit message arrived.
  bool (*pump)();
  // Moves and sizes the window, then repaints its frame.
  void (*layout)(int32_t x, int32_t y, int32_t width, int32_t height);
  void (*show)();
  void (*hide)();
  void (*destroy)();
  // Fills the whole client area with black.
  void (*fill_black)();
  // Marks a client rectangle for a paint without erasing.
  void (*invalidate)(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void (*top_left)(int32_t* x, int32_t* y);
  void (*text_extent)(const char* text, int32_t* width, int32_t* height);
  // Yellow on black, centred at the top of the strip rectangle.
  void (*draw_strip)(const char* text, int32_t left, int32_t top, int32_t right, int32_t bottom);
  // Lets pending paints happen before a message box.
  void (*update_all)();
  // Sets the window's title; null where the title is fixed (Windows).
  void (*set_title)(const char* title);
  // One warning line for a console; null where there is none (Windows).
  void (*warn)(const char* text);
};

// The front end of this build (app/window_win32.cc, sdl/window_sdl.cc or
// app/window_headless.cc).
const PlayerWindowOps* PlayerFrontEnd();

struct PlayerState {
  PlayerOptions* options;
  const PlayerWindowOps* ops;
  void* window;
  NameList names;
  Movie* movie;
  DisplayBuffer* display;
  DisplayBuffer* previous_display;
  PlatformFile file_handle;
  int32_t x_offset, y_offset;
  uint32_t presented_width, presented_height;
  uint32_t user_paused;      // 0 or all bits set
  int32_t has_focus;
  int32_t advance_request;
  int32_t quit_request;      // 1: Esc; 2: Esc while the logo shows
  int32_t quitting;
  int32_t logo_mode;
  uint32_t logo_end;
  int32_t no_black_fill;
  uint32_t force_full_copy;  // COPY_ALL after a paint
  int32_t strip_left, strip_top, strip_right, strip_bottom;
  MovieSummary summary;
  // The display the summarised movie was shown with (not the logo's), and
  // the /T track it did not have (0 = none missing).
  SummaryDisplay summary_display;
  char summary_style[64];
  uint32_t missing_track;
  uint32_t volume_percent;   // 0..100 in steps of 10; every movie opens at it
  int32_t muted;             // m: silent, the level kept for unmuting
  char title_position[32];   // the position the title shows
  // The file name of the movie playing, for the title (front ends with set_title).
  char title_name[256];
  // With q: the closing logo ends at once, as after Esc pressed twice.
  int32_t quit_now;
  // The sound line of the summary ("Sound: ..."); null leaves it out.
  const char* sound_note;
  char movie_name[kCommandTextSize];  // the name the current movie was opened by
};

// The process-wide player state (one player window per process).
PlayerState* Player();
// Resets the state for a run with options and the window system's ops.
void PlayerStateInit(PlayerOptions* options, const PlayerWindowOps* ops);

// Plays the named list in the existing window until the quit message;
// returns the exit code. With `exact` the list is an exact list (names.h).
int PlayerRun(const char* names, bool exact = false);

// Sets the title from the movie's file name, its position and the pause
// state (front ends with set_title only): "film.vxn 01:23 / 05:00 (paused) -
// Vorn Video Player". PlayerFrameStep calls it when the position's text changes.
void PlayerUpdateTitle();
// The title text for a file name, a position text (may be empty) and the
// pause state.
void PlayerTitleText(const char* name, const char* position, bool paused, char* title,
                     uint32_t size);
// A movie dropped on the window: it plays at once (the current movie makes
// way, as with the skip key), the rest of the list after it; when skipping
// is disabled it plays after the current one. False when it cannot be
// queued (the logo shows, or the list is full).
bool PlayerOnDropFile(const char* name);
// q: ends the movie and the closing logo at once (Esc pressed twice).
void PlayerOnQuitKey();

// Per-frame step and the logo (exposed for the front ends and tests).
void PlayerFrameStep();
void ShowLogo();
// Takes the summary of the current movie and of the display it is shown with.
void PlayerTakeSummary();

// Presented size in one direction; sets capability bits (bit = 0x10000000
// for the width, 0x1000000 for the height) in *display_flags.
uint32_t StretchSize(int32_t num, int32_t den, uint32_t bit, uint32_t screen, uint32_t movie,
                     uint32_t* display_flags);
// Sizes and places the window and display for the open movie; false after
// the display could not be opened (error shown, window destroyed).
bool PlayerSetUpMovie();
// Adds the statistics strip (with show_stats), moves and sizes the window.
void PlayerLayoutWindow(int32_t width, int32_t height, int32_t x, int32_t y);

// The loop's sleep bookkeeping: idle_ms after sleeping with slept_ms passed.
int32_t PlayerIdleAfterSleep(int32_t idle_ms, uint32_t slept_ms);

// ---- Events from the window system --------------------------------------------
// Characters (WM_CHAR on Windows): Space, Enter, '.', Esc as always; '+' and
// '0' louder, '-' and '9' softer by 10 %, 'm' mute and unmute.
void PlayerOnChar(int key);
// Keys without a character, in the front ends' own terms translated to these.
enum PlayerKey : int {
  PLAYER_KEY_LEFT = 0x101,  // back 5 s
  PLAYER_KEY_RIGHT,         // on 5 s
  PLAYER_KEY_DOWN,          // back 60 s
  PLAYER_KEY_UP,            // on 60 s
  PLAYER_KEY_HOME,          // the first frame
  PLAYER_KEY_PAGE_UP,       // the key frame before the one on screen
  PLAYER_KEY_PAGE_DOWN,     // the next key frame
};
// Moves in the movie (not while the logo shows) and shows the new frame at
// once, also while paused. Time jumps land exactly on the frame (clamped to
// the first and last), key-frame jumps on the key frame.
void PlayerOnKey(int key);
// A left click on the picture (Linux): pauses and resumes as Space does;
// on the closing logo it opens the maker's page like any click.
void PlayerOnPictureClick();
// Hands the current volume (or silence when muted) to the movie's tracks.
void PlayerApplyVolume();
// The volume characters of PlayerOnChar; false for any other character.
bool PlayerOnVolumeChar(int key);
// "01:23 / 05:00": the frame on screen and the length, in the movie's own
// time (h:mm:ss from an hour of length on).
void PlayerPositionText(const Movie* movie, char* text, uint32_t size);
void PlayerOnFocus(bool gained);
// Paint: returns whether the front end must fill the client area with black
// first; the display is blitted whole by the handler.
bool PlayerOnPaintBegin();
void PlayerOnPaintEnd();
void PlayerOnClick();
void PlayerOnPosChanging(int32_t* x, int32_t* y);
void PlayerOnPosChanged();

// ---- Statistics strip (stats_strip.cc) --------------------------------------------
inline constexpr const char* kStatsSample =
    "00:00 / 00:00, Fre: 2000, FPS: 100.0, Buf: 100%, Vid: 55%, Aud: 55%, Blit: 55%, Read: 55%, Back: 55%, "
    "Rate: 1000000";
// The strip's text for a run-time record.
void StatsStripText(const MovieRealtime& r, char* text, uint32_t size);
// Draws the strip for the current movie.
void PlayerDrawStats();
// The playback summary box at shutdown (with show_summary).
void PlayerShowSummary(const char* text);
