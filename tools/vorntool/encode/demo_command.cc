// vorntool demo: a procedural movie (moving shapes, gradients, text and a
// melody) made by the encoder, for trying the player without sample movies.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "vorntool/commands.h"
#include "vorntool/encode/encode_stats.h"
#include "writer/encode_synth.h"

namespace {

constexpr const char* kUsage =
    "usage: vorntool demo -o demo.vxn [--size WxH] [--seconds S] [--quality 1-100]\n"
    "         [--version f|g|h|i] [--scene demo|natural|gradient|noise|shapes|logo]\n"
    "         [--stats]\n";

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

int CmdDemo(int argc, char** argv) {
  const char* output = nullptr;
  unsigned width = 320, height = 240;
  double seconds = 10;
  int quality = 75;
  char version = 'i';
  bool stats = false;
  SynthScene scene = SynthScene::kDemo;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    char extra;
    if (arg == "-o" && value) {
      output = value;
      i++;
    } else if (arg == "--size" && value) {
      if (std::sscanf(value, "%ux%u%c", &width, &height, &extra) != 2 || width == 0 ||
          height == 0 || width > 4024 || height > 4096) {
        std::fprintf(stderr, "vorntool demo: --size must be WxH within 4024x4096\n");
        return 1;
      }
      i++;
    } else if (arg == "--seconds" && value) {
      char* end;
      seconds = std::strtod(value, &end);
      if (*end || !(seconds > 0 && seconds <= 3600)) {
        std::fprintf(stderr, "vorntool demo: --seconds must be between 0 and 3600\n");
        return 1;
      }
      i++;
    } else if (arg == "--quality" && value) {
      quality = std::atoi(value);
      if (quality < 1 || quality > 100) {
        std::fprintf(stderr, "vorntool demo: --quality must be 1..100\n");
        return 1;
      }
      i++;
    } else if (arg == "--version" && value) {
      if (std::strlen(value) != 1 || value[0] < 'f' || value[0] > 'i') {
        std::fprintf(stderr, "vorntool demo: --version must be f, g, h or i\n");
        return 1;
      }
      version = value[0];
      i++;
    } else if (arg == "--scene" && value) {
      if (!ParseScene(value, &scene)) {
        std::fprintf(stderr, "vorntool demo: unknown scene '%s'\n", value);
        return 1;
      }
      i++;
    } else if (arg == "--stats") {
      stats = true;
    } else {
      std::fputs(kUsage, stderr);
      return 1;
    }
  }
  if (!output) {
    std::fputs(kUsage, stderr);
    return 1;
  }
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
