// The player's options record: what the switches asked for, read from the
// command text by parse_switches.h.
#pragma once
#include <cstdint>


// Capacity of the command text and of the saved copy of the name list.
inline constexpr uint32_t kCommandTextSize = 1024;
// Window position that means "centre on the screen".
inline constexpr int32_t WINDOW_POS_CENTRE = -3000;
// Display open flag: switch the screen to the requested mode (display flags bit 23).
inline constexpr uint32_t kDisplayModeChangeFlag = 0x00800000;
// Highest blitting style the display knows (0 = automatic).
inline constexpr int32_t kBlitStyleMax = 10;

struct PlayerOptions {
  int32_t plays_left;         // plays of the current movie still allowed; 0 = endless
  int32_t list_plays_left;    // plays of the whole list still allowed
  int32_t parent_window;      // /#: owner of the player window
  int32_t rate_num, rate_den; // /F; -1 = no override
  int32_t track_id;           // /T; 0 = none
  int32_t read_speed;         // /M, bytes per second; 0 = none
  int32_t io_buffer_size;     // /E, bytes; -1 = none
  int32_t disabled_controls;  // /U: 1 pause, 2 skip, 4 quit
  int32_t topmost;            // /I value / 100
  int32_t window_style;       // /I value % 100: 0 normal, 1 no caption, 2 no frame
  int32_t use_wave_out;       // /Z
  int32_t show_summary;       // /S
  int32_t show_stats;         // /Q
  int32_t keep_playing_unfocused;  // /J
  int32_t black_background;   // /R
  int32_t hide_cursor;        // /C
  uint32_t open_flags;        // handed to MovieOpen
  uint32_t display_flags;     // handed to the display buffer's open
  int32_t x, y;               // window position; WINDOW_POS_CENTRE = centre
  int32_t width_num, width_den;    // /W stretch request
  int32_t height_num, height_den;  // /H stretch request
  int32_t screen_width, screen_height;
  // The screen mode /D asks the display to switch to (0 = none requested).
  int32_t mode_width, mode_height, mode_depth;
};

void PlayerOptionsInit(PlayerOptions* options);
