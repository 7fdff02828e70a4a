// vorntool demo: a procedural movie (moving shapes, gradients, text and a
// melody) made by the encoder, for trying the player without sample movies.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "synth/synth.h"
#include "vorntool/commands.h"
#include "vorntool/encode/encode_stats.h"

namespace {

enum DemoOption { kOptOut, kOptSize, kOptSeconds, kOptQuality, kOptVersion, kOptScene, kOptStats };
constexpr OptionSpec kDemoOptions[] = {
    {kOptOut, "-o", "OUT.vxn", "the movie to write (required)", Complete::kMovie},
    {kOptSize, "--size", "WxH", "picture size (default 320x240, at most 4024x4096)"},
    {kOptSeconds, "--seconds", "S", "length in seconds, up to 3600 (default 10)"},
    {kOptQuality, "--quality", "1-100", "picture quality (default 75)"},
    {kOptVersion, "--version", "f|g|h|i", "movie format version to write (default i)", Complete::kWords,
     "f g h i"},
    {kOptScene, "--scene", "NAME", "what is drawn (default demo)", Complete::kWords,
     "demo natural gradient noise shapes logo"},
    {kOptStats, "--stats", nullptr, "print block types, bits and PSNR per frame and the sound's SNR"},
};

struct DemoSource {
  uint32_t width, height;
  SynthScene scene;
};

bool ParseScene(const std::string& name, SynthScene* scene) {
  static const struct {
    const char* name;
    SynthScene scene;
  } kScenes[] = {{"demo", SynthScene::kDemo},       {"natural", SynthScene::kNatural},
                 {"gradient", SynthScene::kGradient}, {"noise", SynthScene::kNoise},
                 {"shapes", SynthScene::kShapes},   {"logo", SynthScene::kLogo}};
  for (const auto& s : kScenes)
    if (name == s.name) {
      *scene = s.scene;
      return true;
    }
  return false;
}

int DrawFrame(void* user, uint32_t frame, VideoPicture* picture) {
  auto* s = static_cast<DemoSource*>(user);
  SynthPicture(s->scene, frame, s->width, s->height, false, picture);
  return 1;
}

}  // namespace

const CommandSpec kDemoCommand = {
    "demo", "-o OUT.vxn [--size WxH] [--seconds S] [--scene NAME] [options]",
    "a procedural demo movie with sound", CmdDemo, kDemoOptions};

int CmdDemo(int argc, char** argv) {
  const char* output = nullptr;
  unsigned width = 320, height = 240;
  double seconds = 10;
  int quality = 75;
  char version = 'i';
  bool stats = false;
  SynthScene scene = SynthScene::kDemo;
  ParsedCommand parsed;
  if (int code = ParseCommand(kDemoCommand, argc, argv, &parsed)) return ParseExitCode(code);
  if (!parsed.operands.empty())
    return UsageError(kDemoCommand, "unexpected argument '%s'", parsed.operands[0]);
  for (const ParsedOption& option : parsed.options) {
    const char* value = option.value;
    char extra;
    uint64_t n = 0;
    switch (option.spec->id) {
      case kOptOut:
        output = value;
        break;
      case kOptSize:
        if (std::sscanf(value, "%ux%u%c", &width, &height, &extra) != 2 || width == 0 ||
            height == 0 || width > 4024 || height > 4096)
          return UsageError(kDemoCommand, "--size must be WxH within 4024x4096");
        break;
      case kOptSeconds: {
        char* end;
        seconds = std::strtod(value, &end);
        if (*end || !(seconds > 0 && seconds <= 3600))
          return UsageError(kDemoCommand, "--seconds must be between 0 and 3600");
        break;
      }
      case kOptQuality:
        if (!ParseUnsigned(value, 1, 100, &n))
          return UsageError(kDemoCommand, "--quality must be 1..100");
        quality = static_cast<int>(n);
        break;
      case kOptVersion:
        if (std::strlen(value) != 1 || value[0] < 'f' || value[0] > 'i')
          return UsageError(kDemoCommand, "--version must be f, g, h or i");
        version = value[0];
        break;
      case kOptScene:
        if (!ParseScene(value, &scene))
          return UsageError(kDemoCommand, "unknown scene '%s'", value);
        break;
      case kOptStats:
        stats = true;
        break;
    }
  }
  if (!output) return UsageError(kDemoCommand, "no output named (-o OUT.vxn)");
  MovieEncodeOptions options;
  options.video.width = width;
  options.video.height = height;
  options.video.version = version;
  options.video.quality = quality;
  options.rate_num = 30;
  options.rate_den = 1;
  options.frames = static_cast<uint32_t>(seconds * 30 + 0.5);
  if (options.frames == 0) options.frames = 1;
  options.measure_audio = stats;
  MovieAudioInput track;
  track.rate = 22050;
  track.channels = 2;
  // A little more sound than picture so the last frames' lead-in has some.
  SynthMelody(track.rate, track.channels, seconds + 1, &track.samples);
  options.audio.push_back(std::move(track));
  DemoSource source{width, height, scene};
  std::vector<uint8_t> movie;
  MovieEncodeStats encode_stats;
  const char* error = nullptr;
  if (!MovieEncode(options, DrawFrame, &source, &movie, &encode_stats, &error)) {
    std::fprintf(stderr, "vorntool demo: %s\n", error);
    return 1;
  }
  PlatformFile file = FileOpenWrite(output);
  bool ok = file != kInvalidFile &&
            FileWrite(file, movie.data(), static_cast<uint32_t>(movie.size())) == movie.size();
  if (file != kInvalidFile) FileClose(file);
  if (!ok) {
    std::fprintf(stderr, "vorntool demo: cannot write '%s'\n", output);
    return 1;
  }
  if (stats) PrintEncodeStats(stdout, options, encode_stats, movie.size());
  return 0;
}
