// The player's state: one record per player window, made by the front end's
// entry (front/player_main.cc) and handed to every portable function that
// plays, and the operations by which a window system (Win32, SDL, or none)
// plugs in. The front ends forward their events to the handlers of
// window_events.h and seek_keys.h with the same record.
#pragma once
#include <cstdint>

#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/names.h"
#include "player/player_options.h"
#include "player/summary_text.h"

struct Movie;
struct DisplayBuffer;
struct PlayerState;

// Every operation but register_class gets the player it works for.
struct PlayerWindowOps {
  // Registers the window class (icon, cursor: invisible with hide_cursor).
  bool (*register_class)(const PlayerOptions* options);
  // Creates the player window for player->options; its handle is returned
  // (null on failure). The window's events go to this player.
  void* (*create)(PlayerState* player);
  // Handles every waiting message; false once the quit message arrived.
  bool (*pump)(PlayerState* player);
  // Moves and sizes the window, then repaints its frame.
  void (*layout)(PlayerState* player, int32_t x, int32_t y, int32_t width, int32_t height);
  void (*show)(PlayerState* player);
  void (*hide)(PlayerState* player);
  void (*destroy)(PlayerState* player);
  // Fills the whole client area with black.
  void (*fill_black)(PlayerState* player);
  // Marks a client rectangle for a paint without erasing.
  void (*invalidate)(PlayerState* player, int32_t left, int32_t top, int32_t right,
                     int32_t bottom);
  void (*top_left)(PlayerState* player, int32_t* x, int32_t* y);
  void (*text_extent)(PlayerState* player, const char* text, int32_t* width, int32_t* height);
  // Yellow on black, centred at the top of the strip rectangle.
  void (*draw_strip)(PlayerState* player, const char* text, int32_t left, int32_t top,
                     int32_t right, int32_t bottom);
  // Lets pending paints happen before a message box.
  void (*update_all)(PlayerState* player);
  // Sets the window's title; null where the title is fixed (Windows).
  void (*set_title)(PlayerState* player, const char* title);
  // One warning line for a console; null where there is none (Windows).
  void (*warn)(PlayerState* player, const char* text);
};

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

// Resets the state for a run with options and the window system's ops.
void PlayerStateInit(PlayerState* player, PlayerOptions* options, const PlayerWindowOps* ops);
