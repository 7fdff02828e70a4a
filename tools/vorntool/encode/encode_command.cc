// vorntool encode: Y4M pictures (and WAV sound) to a movie.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "vorntool/commands.h"
#include "vorntool/encode/encode_stats.h"
#include "vorntool/encode/progress.h"
#include "vorntool/encode/wav.h"
#include "vorntool/encode/y4m.h"
#include "vorntool/stdio_files.h"

namespace {

enum EncodeOption {
  kOptOut, kOptAudio, kOptTrackId, kOptQuality, kOptAudioQuality, kOptKeyint, kOptFrames,
  kOptVersion, kOptGrey, kOptStats, kOptAlpha, kOptAudioVariant, kOptRate, kOptShortest,
  kOptDither, kOptBitrate, kOptSize, kOptSpeed, kOptThreads, kOptQuiet, kOptPasses,
};
constexpr OptionSpec kEncodeOptions[] = {
    {kOptOut, "-o", "OUT.vxn", "the movie to write (required; - for standard output)", Complete::kMovie},
    {kOptAudio, "--audio", "IN.wav", "a sound track (repeat for more tracks; - standard input)", Complete::kWav},
    {kOptTrackId, "--track-id", "N", "identifier of the track named just before (default its position)"},
    {kOptQuality, "--quality", "1-100", "picture quality (default 75)"},
    {kOptBitrate, "--bitrate", "KBPS", "aim at this data rate of video and sound, kbit/s (instead of --quality)"},
    {kOptSize, "--size", "BYTES", "aim at this size of the whole movie file (instead of --quality)"},
    {kOptPasses, "--passes", "1|2",
     "with --bitrate/--size: 2 measures the movie first at speed 9 (default below speed 9); 1 is faster, less even"},
    {kOptSpeed, "--speed", "0-9", "0 best compression .. 9 fastest (default 5)"},
    {kOptThreads, "--threads", "N", "worker threads (default one per processor; same movie for any N)"},
    {kOptQuiet, "--quiet", nullptr, "no progress line (it is drawn only on a terminal anyway)"},
    {kOptAudioQuality, "--audio-quality", "0-100", "sound quality (default 75)"},
    {kOptKeyint, "--keyint", "N", "a key frame at least every N frames (default 300, 0 only the first)"},
    {kOptFrames, "--frames", "N", "take at most N pictures"},
    {kOptVersion, "--version", "f|g|h|i", "movie format version to write (default i)", Complete::kWords,
     "f g h i"},
    {kOptGrey, "--grey", nullptr, "store luma only (a grey movie)"},
    {kOptStats, "--stats", nullptr, "print block types, bits and PSNR per frame and the sound's SNR"},
    {kOptAlpha, "--alpha", "ALPHA.y4m", "an alpha plane from the luma of this Y4M", Complete::kY4m},
    {kOptAudioVariant, "--audio-variant", "dct|rdft", "sound coding variant (default dct)",
     Complete::kWords, "dct rdft"},
    {kOptRate, "--rate", "N/D", "frame rate (default the Y4M's, else 30/1)"},
    {kOptShortest, "--shortest", nullptr,
     "end with the pictures, dropping longer sound (default: hold the last picture)"},
    {kOptDither, "--dither", nullptr, "dither sound deeper than 16 bits when rounding it (default off)"},
};

struct EncodeArgs {
  const char* input = nullptr;
  const char* output = nullptr;
  const char* alpha = nullptr;
  struct Track {
    const char* path;
    uint32_t id;
  };
  std::vector<Track> audio;
  int quality = 75, audio_quality = 75;
  uint32_t keyint = 300, frames = 0;
  char version = 'i';
  bool grey = false, rdft = false, stats = false, shortest = false, dither = false;
  uint32_t rate_num = 0, rate_den = 0;
  bool quality_given = false, audio_quality_given = false, quiet = false;
  uint64_t bitrate_kbps = 0, size_bytes = 0;
  int speed = 5;
  int passes = 0;  // 0: two below the fastest speed, else one
  uint32_t threads = 0;  // 0: one per processor
};

int ParseArgs(int argc, char** argv, EncodeArgs* a) {
  ParsedCommand parsed;
  if (int code = ParseCommand(kEncodeCommand, argc, argv, &parsed)) return code;
  for (const ParsedOption& option : parsed.options) {
    const char* value = option.value;
    const std::string text = value ? value : "";
    uint64_t n = 0;
    auto number = [&](uint64_t low, uint64_t high) { return ParseUnsigned(value, low, high, &n); };
    switch (option.spec->id) {
      case kOptOut: a->output = value; break;
      case kOptAlpha: a->alpha = value; break;
      case kOptGrey: a->grey = true; break;
      case kOptStats: a->stats = true; break;
      case kOptShortest: a->shortest = true; break;
      case kOptDither: a->dither = true; break;
      case kOptAudio:
        a->audio.push_back({value, static_cast<uint32_t>(a->audio.size())});
        break;
      case kOptTrackId:
        if (a->audio.empty()) return UsageError(kEncodeCommand, "--track-id must follow an --audio");
        if (!number(0, 0x7FFFFFFF)) return UsageError(kEncodeCommand, "bad --track-id '%s'", value);
        a->audio.back().id = static_cast<uint32_t>(n);
        break;
      case kOptQuality:
        if (!number(1, 100)) return UsageError(kEncodeCommand, "--quality must be 1..100");
        a->quality = static_cast<int>(n);
        a->quality_given = true;
        break;
      case kOptBitrate:
        if (!number(1, 1000000)) return UsageError(kEncodeCommand, "--bitrate must be 1..1000000 kbit/s");
        a->bitrate_kbps = n;
        break;
      case kOptSize:
        if (!number(1, uint64_t{1} << 40)) return UsageError(kEncodeCommand, "bad --size '%s'", value);
        a->size_bytes = n;
        break;
      case kOptSpeed:
        if (!number(0, 9)) return UsageError(kEncodeCommand, "--speed must be 0..9");
        a->speed = static_cast<int>(n);
        break;
      case kOptThreads:
        if (!number(1, 64)) return UsageError(kEncodeCommand, "--threads must be 1..64");
        a->threads = static_cast<uint32_t>(n);
        break;
      case kOptQuiet: a->quiet = true; break;
      case kOptPasses:
        if (!number(1, 2)) return UsageError(kEncodeCommand, "--passes must be 1 or 2");
        a->passes = static_cast<int>(n);
        break;
      case kOptAudioQuality:
        if (!number(0, 100)) return UsageError(kEncodeCommand, "--audio-quality must be 0..100");
        a->audio_quality = static_cast<int>(n);
        a->audio_quality_given = true;
        break;
      case kOptKeyint:
        if (!number(0, 1000000)) return UsageError(kEncodeCommand, "bad --keyint '%s'", value);
        a->keyint = static_cast<uint32_t>(n);
        break;
      case kOptFrames:
        if (!number(1, 10000000)) return UsageError(kEncodeCommand, "bad --frames '%s'", value);
        a->frames = static_cast<uint32_t>(n);
        break;
      case kOptVersion:
        if (text.size() != 1 || text[0] < 'f' || text[0] > 'i')
          return UsageError(kEncodeCommand, "--version must be f, g, h or i");
        a->version = text[0];
        break;
      case kOptAudioVariant:
        if (text != "dct" && text != "rdft")
          return UsageError(kEncodeCommand, "--audio-variant must be dct or rdft");
        a->rdft = text == "rdft";
        break;
      case kOptRate: {
        unsigned num = 0, den = 0;
        char extra;
        if (std::sscanf(value, "%u/%u%c", &num, &den, &extra) != 2 || !num || !den)
          return UsageError(kEncodeCommand, "--rate must be N/D with both positive");
        a->rate_num = num;
        a->rate_den = den;
        break;
      }
    }
  }
  if (parsed.operands.size() > 1)
    return UsageError(kEncodeCommand, "one picture input at a time, not '%s'", parsed.operands[1]);
  if (parsed.operands.empty()) return UsageError(kEncodeCommand, "no picture input IN.y4m named");
  a->input = parsed.operands[0];
  if (!a->output) return UsageError(kEncodeCommand, "no output named (-o OUT.vxn)");
  if (a->bitrate_kbps && a->size_bytes)
    return UsageError(kEncodeCommand, "--bitrate and --size cannot both be given");
  if (a->quality_given && (a->bitrate_kbps || a->size_bytes))
    return UsageError(kEncodeCommand, "--quality cannot be combined with --bitrate or --size");
  int from_stdin = IsStdio(a->input) + IsStdio(a->alpha);
  for (const EncodeArgs::Track& t : a->audio) from_stdin += IsStdio(t.path);
  if (from_stdin > 1) return UsageError(kEncodeCommand, "only one input can come from standard input ('-')");
  return kExitOk;
}

struct PictureInput {
  Y4mReader video;
  Y4mReader alpha;
  bool has_alpha = false;
  std::string error;
};

// Starts the pictures again for the second pass of rate control.
bool RewindPictures(void* user) {
  auto* in = static_cast<PictureInput*>(user);
  if (!Y4mRewind(&in->video, &in->error)) return false;
  if (!in->has_alpha) return true;
  if (!Y4mRewind(&in->alpha, &in->error)) {
    in->error = "alpha: " + in->error;
    return false;
  }
  return true;
}

int ReadPicture(void* user, uint32_t, VideoPicture* picture) {
  auto* in = static_cast<PictureInput*>(user);
  int got = Y4mReadPicture(&in->video, picture, &in->error);
  if (got <= 0 || !in->has_alpha) return got;
  VideoPicture alpha;
  int got_alpha = Y4mReadPicture(&in->alpha, &alpha, &in->error);
  if (got_alpha < 0) {
    in->error = "alpha: " + in->error;
    return -1;
  }
  if (got_alpha == 0) {
    in->error = "alpha stream has fewer frames than the picture stream";
    return -1;
  }
  picture->a = std::move(alpha.y);
  return 1;
}

uint64_t NowMs() {
  uint64_t frequency = 0;
  if (!HighResFrequency(&frequency) || frequency == 0) return TimerMs();
  return HighResCounter() / (frequency / 1000 ? frequency / 1000 : 1);
}

void ShowProgress(void* user, const MovieEncodeProgress& p) {
  ProgressUpdate(static_cast<ProgressLine*>(user), p, NowMs());
}

void PrintNotes(const char* path, const std::vector<std::string>& notes) {
  for (const std::string& note : notes) std::fprintf(stderr, "vorntool encode: %s: %s\n", InputName(path), note.c_str());
}

// Pictures from standard input cannot be read twice; under rate control
// they are first copied to a temporary file so that the encode can make its
// measuring pass (without one, one pass).
bool OpenVideo(const EncodeArgs& a, PictureInput* input) {
  const bool measuring = a.size_bytes || (a.bitrate_kbps && (a.speed < kMovieAnalysisSpeed || a.passes == 2));
  if (IsStdio(a.input) && measuring && a.passes != 1) {
    if (std::FILE* spool = Y4mSpoolStandardInput())
      return Y4mOpenStream(spool, &input->video, &input->error);
    std::fprintf(stderr, "vorntool encode: note: no temporary file for standard input: one pass\n");
  }
  return Y4mOpen(a.input, &input->video, &input->error);
}

int OpenPictures(const EncodeArgs& a, PictureInput* input) {
  if (!OpenVideo(a, input)) {
    std::fprintf(stderr, "vorntool encode: %s: %s\n", InputName(a.input), input->error.c_str());
    return kExitFailed;
  }
  PrintNotes(a.input, input->video.notes);

  if (!a.alpha) return kExitOk;
  if (!Y4mOpen(a.alpha, &input->alpha, &input->error)) {
    std::fprintf(stderr, "vorntool encode: %s: %s\n", InputName(a.alpha), input->error.c_str());
    return kExitFailed;
  }
  // Alpha is a plain 0-255 coverage, whatever range the stream claims.
  input->alpha.full_range = false;
  input->has_alpha = true;
  if (input->alpha.width != input->video.width || input->alpha.height != input->video.height) {
    std::fprintf(stderr, "vorntool encode: alpha stream size differs from the pictures\n");
    return kExitFailed;
  }
  return kExitOk;
}

int ReadSound(const EncodeArgs& a, MovieEncodeOptions* options) {
  for (const EncodeArgs::Track& t : a.audio) {
    WavSound sound;
    std::string error;
    if (!WavRead(t.path, &sound, &error, a.dither)) {
      std::fprintf(stderr, "vorntool encode: %s: %s\n", InputName(t.path), error.c_str());
      return kExitFailed;
    }
    for (const std::string& note : sound.notes)
      std::fprintf(stderr, "vorntool encode: %s: note: %s\n", InputName(t.path), note.c_str());
    MovieAudioInput track;
    track.samples = std::move(sound.samples);
    track.rate = sound.rate;
    track.channels = sound.channels;
    track.sixteen_bit = sound.bits != 8 || sound.is_float;
    track.id = t.id;
    track.use_dct = !a.rdft;
    track.quality = a.audio_quality;
    track.quality_from_rate = !a.audio_quality_given;
    options->audio.push_back(std::move(track));
  }
  return kExitOk;
}

// What became of sound that outlasts the pictures: held pictures (a note) or
// dropped sound (a warning saying how much).
void ReportLength(const EncodeArgs& a, const MovieEncodeOptions& options,
                  const MovieEncodeStats& stats) {
  const double frame_seconds = double(options.rate_den) / options.rate_num;
  if (stats.held_frames > 0) {
    std::fprintf(stderr,
                 "vorntool encode: note: the sound outlasts the pictures (%.2f s): the last picture "
                 "is held for %.2f s (--shortest cuts the sound instead)\n",
                 stats.pictures * frame_seconds, stats.held_frames * frame_seconds);
  }
  for (size_t t = 0; t < stats.audio_dropped_frames.size(); t++) {
    const uint64_t dropped = stats.audio_dropped_frames[t];
    if (dropped == 0) continue;
    const MovieAudioInput& track = options.audio[t];
    const double seconds = double(dropped) / track.rate;
    std::fprintf(stderr,
                 "vorntool encode: warning: %.2f s of %s's sound dropped: the pictures end first "
                 "(%s)\n",
                 seconds, InputName(a.audio[t].path),
                 a.shortest ? "--shortest"
                 : a.frames ? "at --frames; without it the last picture is held"
                            : "a held picture stops at 10000000 frames");
  }
}

// A rate or size that came out more than 5 % away is said, never silent,
// with the reason as far as the encoder knows it.
void ReportRate(const MovieEncodeOptions& options, const MovieEncodeStats& stats) {
  if (stats.target_kbps <= 0) return;
  const MovieRates rates = MovieRatesOf(stats.packet_bytes, options.rate_num, options.rate_den);
  const double miss = rates.average_kbps / stats.target_kbps - 1;
  if (std::fabs(miss) <= 0.05) return;
  std::fprintf(stderr,
               "vorntool encode: warning: the movie came to %.0f kbit/s, %+.1f %% from the %.0f "
               "kbit/s asked for (%s)\n",
               rates.average_kbps, miss * 100, stats.target_kbps,
               MovieRateMissReason(stats, miss < 0));
}

}  // namespace

const CommandSpec kEncodeCommand = {
    "encode", "IN.y4m [--audio IN.wav [--track-id N]]... -o OUT.vxn [options]",
    "write a movie from Y4M pictures and WAV sound", CmdEncode, kEncodeOptions, Complete::kY4m,
    false,
    "IN.y4m: 8- to 16-bit 4:2:0, 4:2:2, 4:4:4 or mono; IN.wav: 8- to 32-bit or float PCM, any\n"
    "channels (more than two mixed down), rates above 65535 Hz resampled. '-' reads standard\n"
    "input (one input at most).\n"};

int CmdEncode(int argc, char** argv) {
  EncodeArgs a;
  if (int code = ParseArgs(argc, argv, &a)) return ParseExitCode(code);
  PictureInput input;
  MovieEncodeOptions options;
  int code = OpenPictures(a, &input);
  if (code == kExitOk) code = ReadSound(a, &options);
  if (code != kExitOk) {
    Y4mClose(&input.video);
    Y4mClose(&input.alpha);
    return code;
  }
  options.video.width = input.video.width;
  options.video.height = input.video.height;
  options.video.version = a.version;
  options.video.grey = a.grey;
  options.video.alpha = a.alpha != nullptr;
  options.video.quality = a.quality;
  options.video.keyint = a.keyint;
  options.rate_num = a.rate_num ? a.rate_num : (input.video.rate_num ? input.video.rate_num : 30);
  options.rate_den = a.rate_num ? a.rate_den : (input.video.rate_num ? input.video.rate_den : 1);
  options.frames = a.frames;
  options.measure_audio = a.stats;
  options.video.speed = a.speed;
  options.video.threads = a.threads ? a.threads : std::min<uint32_t>(ProcessorCount(), 64);
  options.bitrate_kbps = static_cast<double>(a.bitrate_kbps);
  options.target_bytes = a.size_bytes;
  options.frames_expected = Y4mFrameCount(&input.video);
  options.hold_last_picture = !a.shortest;
  // A pipe (standard input not copied, or the alpha stream) is read once.
  options.measure_at_fastest = a.passes == 2;
  if (a.passes != 1 && input.video.file != stdin && (!input.has_alpha || input.alpha.file != stdin))
    options.rewind = RewindPictures;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ProgressLine progress;
  ProgressStart(&progress, !a.quiet && StderrIsTerminal() ? stderr : nullptr, NowMs());
  options.progress = ShowProgress;
  options.progress_user = &progress;
  bool ok = MovieEncode(options, ReadPicture, &input, &movie, &stats, &error);
  ProgressEnd(&progress);
  Y4mClose(&input.video);
  Y4mClose(&input.alpha);
  if (!ok) {
    std::fprintf(stderr, "vorntool encode: %s%s%s\n", error,
                 input.error.empty() ? "" : ": ", input.error.c_str());
    return kExitFailed;
  }
  if (!input.error.empty()) {
    std::fprintf(stderr, "vorntool encode: %s\n", input.error.c_str());
    return kExitFailed;
  }
  ReportLength(a, options, stats);
  ReportRate(options, stats);
  if (!WriteWholeOutput(a.output, movie)) {
    std::fprintf(stderr, "vorntool encode: cannot write '%s'\n", a.output);
    return kExitFailed;
  }
  // With the movie on standard output the report goes to standard error.
  if (a.stats) PrintEncodeStats(IsStdio(a.output) ? stderr : stdout, options, stats, movie.size());
  return kExitOk;
}
