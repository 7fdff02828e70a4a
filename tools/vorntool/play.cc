// vorntool play --headless: real-time playback without a window. The movie is
// paced by the engine clock exactly as the player's main loop paces it
// (sleeping in slices of at most 10 ms), every frame is decoded, nothing is
// copied or shown, and the playback summary is printed at the end.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/movie.h"
#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/names.h"
#include "player/player_options.h"
#include "vorntool/commands.h"

namespace {

struct PlayArgs {
  const char* file = nullptr;
  uint32_t max_frames = 0;  // 0 = as many as the switches play
  char switches[kCommandTextSize] = {};
};

enum PlayOption { kOptHeadless, kOptFrames };
constexpr OptionSpec kPlayOptions[] = {
    {kOptHeadless, "--headless", nullptr, "play without a window or sound device (required)"},
    {kOptFrames, "--frames", "N", "stop after N frames"},
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
      args->max_frames = static_cast<uint32_t>(n);
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

// The player's main loop without window messages, copy or blit: wait for the
// frame's time in sleeps of at most 10 ms (oversleeping is paid back, up to
// 100 ms), decode, move on; stop after the last pass or max_frames frames.
void PlayLoop(Movie* movie, PlayerOptions* options, uint32_t max_frames) {
  int32_t idle_ms = 0;
  uint32_t played = 0;
  for (;;) {
    if (MovieWait(movie)) {
      idle_ms += 1;
    } else {
      MovieDoFrame(movie);
      ++played;
      bool last = movie->frame_num >= static_cast<int32_t>(movie->frames);
      if (max_frames && played >= max_frames) break;
      if (last) {
        // 0 means endless and never comes back to 0.
        if (--options->plays_left == 0) break;
      }
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
}

}  // namespace

const CommandSpec kPlayCommand = {
    "play", "--headless FILE [--frames N] [/SWITCHES...]",
    "real-time playback without a window, then the playback summary", CmdPlay, kPlayOptions,
    Complete::kMovie, /*dash_operands=*/true,
    "FILE is paced by the engine clock; switches as the player reads them (/F /L /N ...).\n"};

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

  PlayLoop(movie, &options, args.max_frames);
  // The pace actually held, between the first and the last decode (the
  // summary's own figure counts from the first decode to now).
  uint32_t span = movie->frame_start_time - movie->first_frame_time;
  if (movie->frames_decoded > 1 && span)
    std::fprintf(stderr, "vorntool play: %u frames, %u ms from first to last: %.3f frames/sec\n",
                 movie->frames_decoded, span, (movie->frames_decoded - 1) * 1000.0 / span);
  MovieSummary summary;
  MovieGetSummary(movie, &summary);
  MovieSetPause(movie, 1);
  MovieClose(movie);
  if (file != kInvalidFile) FileClose(file);

  static char text[4096];
  const SummaryDisplay display = {"None (headless)", 0, 0, 0};
  if (PlayerBuildSummary(summary, display, text, sizeof text))
    std::fputs(text, stdout);
  else
    std::puts("No frame was played.");
  return 0;
}
