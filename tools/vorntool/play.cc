// vorntool play --headless: real-time playback without a window. The movie is
// paced by the engine clock exactly as the player's main loop paces it
// (sleeping in slices of at most 10 ms), every frame is decoded, nothing is
// copied or shown, and the playback summary is printed at the end. --seek
// jumps during the playback, in command-line order with --frames.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/names.h"
#include "player/parse_switches.h"
#include "player/player_open.h"
#include "player/player_options.h"
#include "player/summary_text.h"
#include "player/switch_readers.h"
#include "vorntool/commands.h"

namespace {

// One step of the playback, in command-line order: play some frames, or jump.
struct PlayStep {
  bool seek;
  uint32_t frames;  // frames to play (seek = false)
  uint64_t ms;      // where to jump (seek = true)
};

struct PlayArgs {
  const char* file = nullptr;
  std::vector<PlayStep> steps;  // none: play as many frames as the switches play
  char switches[kCommandTextSize] = {};
};

enum PlayOption { kOptHeadless, kOptFrames, kOptSeek };
constexpr OptionSpec kPlayOptions[] = {
    {kOptHeadless, "--headless", nullptr, "play without a window or sound device (required)"},
    {kOptFrames, "--frames", "N", "play N frames (then the next --seek, or stop)"},
    {kOptSeek, "--seek", "SECONDS", "jump exactly to that time after the frames before it played; repeatable"},
};

int ParseArgs(int argc, char** argv, PlayArgs* args) {
  ParsedCommand parsed;
  if (int code = ParseCommand(kPlayCommand, argc, argv, &parsed)) return code;
  bool headless = false;
  for (const ParsedOption& option : parsed.options) {
    if (option.spec->id == kOptHeadless) headless = true;
    uint64_t n = 0;
    if (option.spec->id == kOptFrames) {
      if (!ParseUnsigned(option.value, 0, 0xFFFFFFFFu, &n))
        return UsageError(kPlayCommand, "--frames wants a number, not '%s'", option.value);
      args->steps.push_back({false, static_cast<uint32_t>(n), 0});
    } else if (option.spec->id == kOptSeek) {
      if (!ParseSeconds(option.value, &n))
        return UsageError(kPlayCommand, "--seek wants seconds such as 12 or 83.5, not '%s'",
                          option.value);
      args->steps.push_back({true, 0, n});
    }
  }
  for (const char* a : parsed.operands) {
    if (!args->file && (FileExists(a) || std::strchr(a + 1, '/'))) {
      args->file = a;  // an absolute POSIX path starts with '/' like a switch
    } else if (a[0] == '/' || (a[0] == '-' && a[1] != 0)) {
      if (!CommandTextAppend(args->switches, " ") || !CommandTextAppend(args->switches, a))
        return UsageError(kPlayCommand, "switches too long");
    } else if (!args->file) {
      args->file = a;
    } else {
      return UsageError(kPlayCommand, "one movie at a time, not also '%s'", a);
    }
  }
  if (!headless) return UsageError(kPlayCommand, "only --headless playback is available");
  if (!args->file) return UsageError(kPlayCommand, "no movie named");
  return kExitOk;
}

// Jumps to ms into the movie and reports the time the seek took. False
// when the movie has no such time or cannot be read there.
bool SeekTo(Movie* movie, uint64_t ms) {
  const uint64_t frame = FrameAtMs(ms, movie->file_rate_num, movie->file_rate_den);
  const uint32_t before = MovieClockMs();
  if (frame > movie->frames || !MovieSeek(movie, static_cast<uint32_t>(frame), SEEK_EXACT)) {
    std::fprintf(stderr, "vorntool play: --seek %llu.%03llu: %s\n",
                 static_cast<unsigned long long>(ms / 1000), static_cast<unsigned long long>(ms % 1000),
                 frame > movie->frames ? "past the end of the movie" : MovieGetError());
    return false;
  }
  std::fprintf(stderr, "vorntool play: seek to %llu.%03llu s (frame %u) ready in %u ms\n",
               static_cast<unsigned long long>(ms / 1000), static_cast<unsigned long long>(ms % 1000),
               static_cast<uint32_t>(frame), MovieClockMs() - before);
  return true;
}

// The steps ahead: every seek up to the next frame count is made. Returns
// the frame count to play next (0 after the last step: play on to the end),
// or -1 after a failed seek.
int64_t TakeSteps(Movie* movie, const std::vector<PlayStep>& steps, size_t* next, bool* shown_now) {
  while (*next < steps.size()) {
    const PlayStep& step = steps[(*next)++];
    if (!step.seek) return step.frames;
    if (!SeekTo(movie, step.ms)) return -1;
    *shown_now = true;  // the seek decoded its frame: it is shown at once
  }
  return 0;
}

// The player's main loop without window messages, copy or blit: wait for the
// frame's time in sleeps of at most 10 ms (oversleeping is paid back, up to
// 100 ms), decode, move on; stop after the last pass, or when the steps'
// frames have played. False when a seek failed.
bool PlayLoop(Movie* movie, PlayerOptions* options, const std::vector<PlayStep>& steps) {
  int32_t idle_ms = 0;
  size_t next = 0;
  bool shown_now = false;
  int64_t budget = TakeSteps(movie, steps, &next, &shown_now);  // 0: no limit
  if (budget < 0) return false;
  bool limited = budget > 0 || (!steps.empty() && !steps.back().seek);
  int64_t played = 0;
  if (limited && budget == 0) return true;  // "--frames 0"
  for (;;) {
    if (!shown_now && MovieWait(movie)) {
      idle_ms += 1;
    } else {
      shown_now = false;
      MovieDoFrame(movie);
      ++played;
      const bool last = movie->frame_num >= static_cast<int32_t>(movie->frames);
      if (limited && played >= budget) {
        if (next >= steps.size()) break;
        budget = TakeSteps(movie, steps, &next, &shown_now);
        if (budget < 0) return false;
        limited = budget > 0 || !steps.back().seek;
        played = 0;
        if (limited && budget == 0) break;
        if (shown_now) continue;  // the seek replaced the next frame
      }
      // 0 means endless and never comes back to 0.
      if (last && --options->plays_left == 0) break;
      MovieNextFrame(movie);
    }
    if (idle_ms > 0) {
      if (idle_ms > 10) idle_ms = 10;
      uint32_t before = MovieClockMs();
      SleepMs(static_cast<uint32_t>(idle_ms));
      idle_ms -= static_cast<int32_t>(MovieClockMs() - before);
      if (idle_ms < -100) idle_ms = -100;
    }
  }
  return true;
}

}  // namespace

const CommandSpec kPlayCommand = {
    "play", "--headless FILE [--frames N] [--seek SECONDS]... [/SWITCHES...]",
    "real-time playback without a window, then the playback summary", CmdPlay, kPlayOptions,
    Complete::kMovie, /*dash_operands=*/true,
    "FILE is paced by the engine clock; switches as the player reads them (/F /L /N ...).\n"
    "--frames and --seek act in their order: '--frames 30 --seek 10 --frames 60' plays 30\n"
    "frames, jumps to 10 s and plays 60 frames from there.\n"};

int CmdPlay(int argc, char** argv) {
  PlayArgs args;
  if (int code = ParseArgs(argc, argv, &args)) return ParseExitCode(code);
  PlayerOptions options;
  PlayerOptionsInit(&options);
  char error[256] = {};
  if (!ParseSwitches(args.switches, &options, error, sizeof error)) {
    std::fprintf(stderr, "vorntool play: %s\n", error);
    return kExitUsage;
  }
  MovieSource source;
  if (!MovieSourceFromName(args.file, &source, error, sizeof error)) {
    std::fprintf(stderr, "vorntool play: %s\n", error);
    return 1;
  }
  PlatformFile file = kInvalidFile;
  Movie* movie = PlayerOpenMovie(&options, &source, &file);
  if (!movie) {
    std::fprintf(stderr, "vorntool play: %s\n", MovieGetError());
    return 1;
  }
  if (options.plays_left == 0) std::fprintf(stderr, "vorntool play: looping without end\n");

  const bool played_through = PlayLoop(movie, &options, args.steps);
  // The pace actually held, between the first and the last decode (the
  // summary's own figure counts from the first decode to now).
  uint32_t span = movie->frame_start_time - movie->first_frame_time;
  if (movie->frames_decoded > 1 && span)
    std::fprintf(stderr, "vorntool play: %u frames, %u ms from first to last: %.3f frames/sec\n",
                 movie->frames_decoded, span, (movie->frames_decoded - 1) * 1000.0 / span);
  MovieSummary summary;
  MovieGetSummary(movie, &summary);
  const uint32_t missing_track = PlayerMissingTrack(&options, movie);
  MovieSetPause(movie, 1);
  MovieClose(movie);
  if (file != kInvalidFile) FileClose(file);

  static char text[4096];
  const SummaryDisplay display = {"None (headless)", 0, 0, 0};
  if (PlayerBuildSummary(summary, display, text, sizeof text)) {
    SummaryNoteMissingTrack(missing_track, text, sizeof text);
    std::fputs(text, stdout);
  }
  else
    std::puts("No frame was played.");
  if (!played_through) return kExitFailed;
  char damage[96];
  DamageText(summary, damage, sizeof damage);
  if (damage[0]) {
    std::fprintf(stderr, "vorntool play: %s: movie damaged: %s\n", args.file, damage);
    return kExitDamaged;
  }
  return kExitOk;
}
