// ParseSwitches: the fixed order in which the switches are read. Each reader
// takes only the first occurrence, so the order decides which of two
// overlapping forms wins (/L as a number before /L as a flag, and so on).
#include "player/parse_switches.h"

#include <cstdio>
#include <cstring>

#include "player/player_system.h"
#include "player/switch_readers.h"
#include "vorn/movie.h"

namespace {

struct Resolution {
  int32_t width, height;
};

// /D value % 100, from 1.
constexpr Resolution kDisplayResolutions[] = {
    {320, 200}, {320, 240}, {320, 400}, {400, 300},  {480, 360},  {512, 384},   {640, 400},
    {640, 480}, {800, 600}, {960, 720}, {1024, 768}, {1152, 864}, {1280, 1024},
};
constexpr int32_t kResolutionCount = sizeof(kDisplayResolutions) / sizeof(kDisplayResolutions[0]);

// /D value / 100 -> the depth code the display's mode switch understands:
// plain depths 16, 24, 32, 8, then 1 = at least high colour, 2 = true colour
// preferred, 3 = true colour only.
constexpr int32_t kDepthCodes[] = {16, 24, 32, 8, 1, 2, 3};
constexpr int32_t kDepthChoiceCount = sizeof(kDepthCodes) / sizeof(kDepthCodes[0]);

constexpr uint32_t kQuickPlaySize = 257;  // 256 characters and the NUL

bool AppendQuickPlay(char* text, char* error, uint32_t error_size) {
  char value[kQuickPlaySize] = {};
  PlayerSystemHooks()->profile_get(kProfileSection, "VornQuickPlay", "", value, sizeof(value));
  value[kQuickPlaySize - 1] = 0;
  if (!value[0]) return true;
  // A blank keeps the value from running into a name at the end of the text.
  if (!CommandTextAppend(text, " ") || !CommandTextAppend(text, value)) {
    std::snprintf(error, error_size,
                  "The command line with the VornQuickPlay switches is too long "
                  "(at most %u characters).",
                  kCommandTextSize - 1);
    return false;
  }
  return true;
}

void ReadPlaybackSwitches(char* text, PlayerOptions* o) {
  int32_t plays = TakeNumberSwitch(text, 'L', -0x7FFFFFFF - 1);
  if (plays != -0x7FFFFFFF - 1)
    o->plays_left = plays;
  else if (TakeFlagSwitch(text, 'L'))
    o->plays_left = 0;

  o->parent_window = TakeNumberSwitch(text, '#', 0);

  Ratio rate = TakeRatioSwitch(text, 'F', -1, -1);
  o->rate_num = rate.num;
  o->rate_den = rate.den;
  bool fast = false;
  if (rate.num == -1 && rate.den == -1 && TakeFlagSwitch(text, 'F')) {
    o->rate_num = o->rate_den = 0;
    fast = true;
  }
  if (fast || (o->rate_num != -1 && o->rate_den != -1)) o->open_flags |= OPEN_FRAME_RATE;

  o->track_id = TakeNumberSwitch(text, 'T', 0);
  if (o->track_id) o->open_flags |= OPEN_TRACKS;
  o->read_speed = TakeNumberSwitch(text, 'M', 0);
  if (o->read_speed) o->open_flags |= OPEN_READ_SPEED;
  o->io_buffer_size = TakeNumberSwitch(text, 'E', -1);
  if (o->io_buffer_size != -1) o->open_flags |= OPEN_IO_SIZE;
}

void ReadWindowSwitches(char* text, PlayerOptions* o) {
  o->disabled_controls = TakeNumberSwitch(text, 'U', 0);
  int32_t style = TakeNumberSwitch(text, 'I', 0);
  o->topmost = style / 100;
  o->window_style = style % 100;

  o->use_wave_out = TakeFlagSwitch(text, 'Z');
  o->show_summary = TakeFlagSwitch(text, 'S');
  o->show_stats = TakeFlagSwitch(text, 'Q');
  o->keep_playing_unfocused = TakeFlagSwitch(text, 'J');
  o->black_background = TakeFlagSwitch(text, 'R');
  if (o->black_background) o->window_style = 2;
  o->hide_cursor = TakeFlagSwitch(text, 'C');

  if (TakeFlagSwitch(text, 'N')) o->open_flags |= OPEN_NO_SKIP;
  if (TakeFlagSwitch(text, 'G')) o->open_flags |= OPEN_NO_FILL;
  if (TakeFlagSwitch(text, 'P')) o->open_flags |= OPEN_PRELOAD;
  if (TakeFlagSwitch(text, 'K')) o->open_flags |= OPEN_NO_THREAD;

  int32_t display = TakeNumberSwitch(text, 'A', 0);
  if (display / 100 == 1) o->open_flags |= OPEN_GRAYSCALE;
  // 7 forces no scaling even when the movie asks for one; a negative mode
  // would spill into the flags above the field, so it means none.
  int32_t scale = display % 100;
  if (scale > 7) scale = 7;
  if (scale < 0) scale = 0;
  o->open_flags |= static_cast<uint32_t>(scale) << OPEN_SCALE_SHIFT;

  o->x = TakeNumberSwitch(text, 'X', WINDOW_POS_CENTRE);
  o->y = TakeNumberSwitch(text, 'Y', WINDOW_POS_CENTRE);
  Ratio w = TakeRatioSwitch(text, 'W', 0, 0);
  o->width_num = w.num;
  o->width_den = w.den;
  Ratio h = TakeRatioSwitch(text, 'H', 0, 0);
  o->height_num = h.num;
  o->height_den = h.den;
}

bool ReadDisplaySwitches(char* text, PlayerOptions* o, char* error, uint32_t error_size) {
  ScreenSize screen = PlayerSystemHooks()->screen_size();
  o->screen_width = screen.width;
  o->screen_height = screen.height;

  int32_t mode = TakeNumberSwitch(text, 'D', 0);
  if (mode) {
    int32_t resolution = mode % 100, depth_choice = mode / 100;
    if (mode < 0 || resolution < 1 || resolution > kResolutionCount ||
        depth_choice >= kDepthChoiceCount) {
      std::snprintf(error, error_size,
                    "Unknown display mode /D%d: the resolution must be 1 to 13, plus 0 to 600 "
                    "for the color depth.",
                    mode);
      return false;
    }
    const Resolution& r = kDisplayResolutions[resolution - 1];
    o->display_flags |= kDisplayModeChangeFlag;
    o->screen_width = o->mode_width = r.width;
    o->screen_height = o->mode_height = r.height;
    o->mode_depth = kDepthCodes[depth_choice];
  }

  int32_t style = TakeNumberSwitch(text, 'B', 0);
  if (style < 0 || style > kBlitStyleMax) {
    std::snprintf(error, error_size, "Unknown blitting style /B%d: it must be 0 to %d.", style,
                  kBlitStyleMax);
    return false;
  }
  o->display_flags |= static_cast<uint32_t>(style);
  return true;
}

}  // namespace

bool ParseSwitches(char* text, PlayerOptions* options, char* error, uint32_t error_size) {
  if (error_size) error[0] = 0;
  if (TakeFlagSwitch(text, '!') && !AppendQuickPlay(text, error, error_size)) return false;
  ReadPlaybackSwitches(text, options);
  ReadWindowSwitches(text, options);
  return ReadDisplaySwitches(text, options, error, error_size);
}
