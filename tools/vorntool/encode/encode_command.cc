// vorntool encode: Y4M pictures (and WAV sound) to a movie.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "vorntool/commands.h"
#include "vorntool/encode/encode_stats.h"
#include "vorntool/encode/wav.h"
#include "vorntool/encode/y4m.h"

namespace {

constexpr const char* kUsage =
    "usage: vorntool encode IN.y4m [--audio IN.wav [--track-id N]]... -o OUT.vxn\n"
    "         [--quality 1-100] [--keyint N] [--version f|g|h|i] [--grey]\n"
    "         [--alpha ALPHA.y4m] [--audio-variant dct|rdft] [--audio-quality 0-100]\n"
    "         [--rate N/D] [--frames N] [--stats]\n";

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
  bool grey = false, rdft = false, stats = false;
  uint32_t rate_num = 0, rate_den = 0;
  int speed = 5;
  uint32_t threads = 0;  // 0: one per processor
};

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseArgs(int argc, char** argv, EncodeArgs* a) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    const char* value = has_value ? argv[i + 1] : "";
    long n = 0;
    auto need = [&](bool ok, const char* what) {
      if (!ok) std::fprintf(stderr, "vorntool encode: %s\n", what);
      return ok;
    };
    if (arg == "-o" && has_value) {
      a->output = value;
      i++;
    } else if (arg == "--audio" && has_value) {
      a->audio.push_back({value, static_cast<uint32_t>(a->audio.size())});
      i++;
    } else if (arg == "--track-id" && has_value) {
      if (!need(!a->audio.empty(), "--track-id must follow an --audio") ||
          !need(ParseNumber(value, 0, 0x7FFFFFFF, &n), "bad --track-id"))
        return false;
      a->audio.back().id = static_cast<uint32_t>(n);
      i++;
    } else if (arg == "--quality" && has_value) {
      if (!need(ParseNumber(value, 1, 100, &n), "--quality must be 1..100")) return false;
      a->quality = static_cast<int>(n);
      i++;
    } else if (arg == "--speed" && has_value) {
      if (!need(ParseNumber(value, 0, 9, &n), "--speed must be 0..9")) return false;
      a->speed = static_cast<int>(n);
      i++;
    } else if (arg == "--threads" && has_value) {
      if (!need(ParseNumber(value, 1, 64, &n), "--threads must be 1..64")) return false;
      a->threads = static_cast<uint32_t>(n);
      i++;
    } else if (arg == "--audio-quality" && has_value) {
      if (!need(ParseNumber(value, 0, 100, &n), "--audio-quality must be 0..100")) return false;
      a->audio_quality = static_cast<int>(n);
      i++;
    } else if (arg == "--keyint" && has_value) {
      if (!need(ParseNumber(value, 0, 1000000, &n), "bad --keyint")) return false;
      a->keyint = static_cast<uint32_t>(n);
      i++;
    } else if (arg == "--frames" && has_value) {
      if (!need(ParseNumber(value, 1, 10000000, &n), "bad --frames")) return false;
      a->frames = static_cast<uint32_t>(n);
      i++;
    } else if (arg == "--version" && has_value) {
      if (!need(std::strlen(value) == 1 && value[0] >= 'f' && value[0] <= 'i',
                "--version must be f, g, h or i"))
        return false;
      a->version = value[0];
      i++;
    } else if (arg == "--grey") {
      a->grey = true;
    } else if (arg == "--stats") {
      a->stats = true;
    } else if (arg == "--alpha" && has_value) {
      a->alpha = value;
      i++;
    } else if (arg == "--audio-variant" && has_value) {
      std::string v = value;
      if (!need(v == "dct" || v == "rdft", "--audio-variant must be dct or rdft")) return false;
      a->rdft = v == "rdft";
      i++;
    } else if (arg == "--rate" && has_value) {
      unsigned num = 0, den = 0;
      char extra;
      if (!need(std::sscanf(value, "%u/%u%c", &num, &den, &extra) == 2 && num && den,
                "--rate must be N/D with both positive"))
        return false;
      a->rate_num = num;
      a->rate_den = den;
      i++;
    } else if (arg[0] != '-' && !a->input) {
      a->input = argv[i];
    } else {
      std::fprintf(stderr, "vorntool encode: unexpected argument '%s'\n", argv[i]);
      return false;
    }
  }
  if (!a->input || !a->output) {
    std::fputs(kUsage, stderr);
    return false;
  }
  return true;
}

struct PictureInput {
  Y4mReader video;
  Y4mReader alpha;
  bool has_alpha = false;
  std::string error;
};

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

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
  PlatformFile file = FileOpenWrite(path);
  if (file == kInvalidFile) return false;
  bool ok = FileWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size();
  FileClose(file);
  return ok;
}

}  // namespace

int CmdEncode(int argc, char** argv) {
  EncodeArgs a;
  if (!ParseArgs(argc, argv, &a)) return 1;
  PictureInput input;
  if (!Y4mOpen(a.input, &input.video, &input.error)) {
    std::fprintf(stderr, "vorntool encode: %s: %s\n", a.input, input.error.c_str());
    return 1;
  }
  if (a.alpha) {
    if (!Y4mOpen(a.alpha, &input.alpha, &input.error)) {
      std::fprintf(stderr, "vorntool encode: %s: %s\n", a.alpha, input.error.c_str());
      Y4mClose(&input.video);
      return 1;
    }
    input.has_alpha = true;
    if (input.alpha.width != input.video.width || input.alpha.height != input.video.height) {
      std::fprintf(stderr, "vorntool encode: alpha stream size differs from the pictures\n");
      Y4mClose(&input.video);
      Y4mClose(&input.alpha);
      return 1;
    }
  }
  MovieEncodeOptions options;
  options.video.width = input.video.width;
  options.video.height = input.video.height;
  options.video.version = a.version;
  options.video.grey = a.grey;
  options.video.alpha = a.alpha != nullptr;
  options.video.quality = a.quality;
  options.video.keyint = a.keyint;
  options.video.speed = a.speed;
  options.video.threads = a.threads ? a.threads : std::min<uint32_t>(ProcessorCount(), 64);
  options.rate_num = a.rate_num ? a.rate_num : (input.video.rate_num ? input.video.rate_num : 30);
  options.rate_den = a.rate_num ? a.rate_den : (input.video.rate_num ? input.video.rate_den : 1);
  options.frames = a.frames;
  options.measure_audio = a.stats;
  for (const EncodeArgs::Track& t : a.audio) {
    WavSound sound;
    std::string error;
    if (!WavRead(t.path, &sound, &error)) {
      std::fprintf(stderr, "vorntool encode: %s: %s\n", t.path, error.c_str());
      Y4mClose(&input.video);
      Y4mClose(&input.alpha);
      return 1;
    }
    MovieAudioInput track;
    track.samples = std::move(sound.samples);
    track.rate = sound.rate;
    track.channels = sound.channels;
    track.sixteen_bit = sound.bits == 16;
    track.id = t.id;
    track.use_dct = !a.rdft;
    track.quality = a.audio_quality;
    options.audio.push_back(std::move(track));
  }
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  bool ok = MovieEncode(options, ReadPicture, &input, &movie, &stats, &error);
  Y4mClose(&input.video);
  Y4mClose(&input.alpha);
  if (!ok) {
    std::fprintf(stderr, "vorntool encode: %s%s%s\n", error,
                 input.error.empty() ? "" : ": ", input.error.c_str());
    return 1;
  }
  if (!input.error.empty()) {
    std::fprintf(stderr, "vorntool encode: %s\n", input.error.c_str());
    return 1;
  }
  if (!WriteFile(a.output, movie)) {
    std::fprintf(stderr, "vorntool encode: cannot write '%s'\n", a.output);
    return 1;
  }
  if (a.stats) PrintEncodeStats(stdout, options, stats, movie.size());
  return 0;
}
