// The player's command text with names that carry byte offsets: an embedded
// command line and the user's text (split at the first '\n') are composed
// and read, and every name is opened the way the player opens it. '@' in the
// input stands for a host file holding a movie at byte 777, so offsets into
// a real file inside the movie, before it and past it are all reached; ":N"
// names open the fuzzer's own executable at N.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "fuzz_support.h"
#include "player/command_line.h"
#include "player/names.h"
#include "player/player_open.h"
#include "player/player_options.h"
#include "sound/sound_silent.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

constexpr size_t kMovieOffset = 777;

int DemoPicture(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= 3) return 0;
  SynthPicture(SynthScene::kShapes, frame, 32, 32, false, picture);
  return 1;
}

// Filler, a three-frame movie with a sound track, more filler.
std::string MakeHost() {
  MovieEncodeOptions options;
  options.video.width = options.video.height = 32;
  MovieAudioInput track;
  track.rate = 11025;
  track.channels = 1;
  track.samples.assign(11025 / 4, 0);
  options.audio.push_back(track);
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  if (!MovieEncode(options, DemoPicture, nullptr, &movie, &stats, &error)) std::abort();
  std::vector<uint8_t> host(kMovieOffset, 'x');
  host.insert(host.end(), movie.begin(), movie.end());
  host.insert(host.end(), 100, 'y');
  const std::string path = FuzzTempPath("host.exe");
  if (!FuzzWriteFile(path, host.data(), host.size())) std::abort();
  return path;
}

void PlayName(const PlayerOptions& options, const char* name) {
  MovieSource source;
  char error[256];
  if (!MovieSourceFromName(name, &source, error, sizeof(error))) {
    if (!error[0]) std::abort();  // a refused name says why
    return;
  }
  PlatformFile file = kInvalidFile;
  Movie* movie = PlayerOpenMovie(&options, &source, &file);
  if (!movie) {
    if (!MovieGetError()[0]) std::abort();
    return;
  }
  for (uint32_t f = 0; f < movie->frames && f < 4; f++) {
    if (MovieDoFrame(movie)) break;
    MovieNextFrame(movie);
  }
  MovieClose(movie);
  if (file != kInvalidFile) FileClose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string host = MakeHost();
  static bool driver_selected = SoundDriverSelect(SoundSilentDriver, 0) != 0;
  (void)driver_selected;
  std::string input;
  for (size_t i = 0; i < size && input.size() < kCommandTextSize; i++) {
    if (data[i] == '@')
      input += host;
    else
      input += static_cast<char>(data[i]);
  }
  std::vector<char> buffer(input.begin(), input.end());
  buffer.push_back('\0');
  char* args = std::strchr(buffer.data(), '\n');
  const char* embedded = "";
  if (args) {
    *args++ = '\0';
    embedded = buffer.data();
  } else {
    args = buffer.data();
  }
  static char text[kCommandTextSize];
  if (!CommandLineCompose(text, embedded, args)) return 0;
  PlayerOptions options{};
  char error[256];
  if (PlayerReadCommand(text, &options, error, sizeof(error)) != START_PLAY) return 0;
  // Background threads would make runs differ; the offsets are the subject here.
  options.open_flags |= OPEN_NO_THREAD;
  static NameList list;
  static char name[kCommandTextSize];
  if (!NameListStart(&list, &options, text, name)) return 0;
  for (int n = 0; n < 8; n++) {
    PlayName(options, name);
    if (!NameListAdvance(&list, &options, name)) break;
  }
  return 0;
}
