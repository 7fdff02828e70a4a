// The soak run: generated movies of random sizes, versions, alpha, grey and
// sound tracks, some of them damaged (cut, bytes flipped, header words
// bent), each played through the player's whole main loop with both service
// threads and the silent sound driver, the window a headless stand-in and
// the clock virtual (time moves when the loop sleeps, so a run is as fast
// as the processor). A crash ends the process; the script that runs it
// counts that. Usage: vorn_soak COUNT [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "display/display_backend.h"
#include "display/display_buffer.h"
#include "display/display_memory.h"
#include "engine/movie.h"
#include "engine/movie_clock.h"
#include "player/player_options.h"
#include "player/player_system.h"
#include "player/player_state.h"
#include "player/window_events.h"
#include "player/window_loop.h"
#include "sound/sound_silent.h"
#include "support/test_folder.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

// ---- A virtual clock and a window that only exists as state ---------------------
uint32_t g_now = 1000;
bool g_quit_posted = false;
bool FakeFrequency(uint64_t*) { return false; }
uint64_t FakeCounter() { return 0; }
uint32_t FakeTimer() { return g_now; }
constexpr MovieClockSources kVirtualClock = {FakeFrequency, FakeCounter, FakeTimer};
void VirtualSleep(uint32_t ms) { g_now += ms ? ms : 1; }

bool OpsRegister(const PlayerOptions*) { return true; }
void* OpsCreate(PlayerState*) { return &g_now; }
bool OpsPump(PlayerState*) { return !g_quit_posted; }
void OpsLayout(PlayerState*, int32_t, int32_t, int32_t, int32_t) {}
void OpsShow(PlayerState* player) { PlayerOnFocus(player, true); }
void OpsHide(PlayerState*) {}
void OpsDestroy(PlayerState*) { g_quit_posted = true; }
void OpsFill(PlayerState*) {}
void OpsInvalidate(PlayerState*, int32_t, int32_t, int32_t, int32_t) {}
void OpsTopLeft(PlayerState*, int32_t* x, int32_t* y) { *x = *y = 0; }
void OpsExtent(PlayerState*, const char* text, int32_t* w, int32_t* h) {
  *w = static_cast<int32_t>(std::strlen(text)) * 6;
  *h = 12;
}
void OpsStrip(PlayerState*, const char*, int32_t, int32_t, int32_t, int32_t) {}
void OpsUpdate(PlayerState*) {}
constexpr PlayerWindowOps kOps = {OpsRegister, OpsCreate, OpsPump,     OpsLayout, OpsShow,
                                  OpsHide,     OpsDestroy, OpsFill,    OpsInvalidate, OpsTopLeft,
                                  OpsExtent,   OpsStrip,   OpsUpdate,  nullptr,   nullptr};

// The update check must neither ask nor open pages nor write a profile.
uint32_t ProfileGet(const char*, const char*, const char* fallback, char* dest, uint32_t size) {
  std::snprintf(dest, size, "%s", fallback ? fallback : "");
  return static_cast<uint32_t>(std::strlen(dest));
}
bool ProfileWrite(const char*, const char*, const char*) { return true; }
bool AskNo(const char*, const char*) { return false; }
bool OpenNothing(const char*) { return false; }

// ---- Movies ---------------------------------------------------------------------
struct Plan {
  uint32_t width, height, frames;
  SynthScene scene;
};
int Draw(void* user, uint32_t frame, VideoPicture* picture) {
  const auto* plan = static_cast<const Plan*>(user);
  if (frame >= plan->frames) return 0;
  SynthPicture(plan->scene, frame, plan->width, plan->height, true, picture);
  return 1;
}

std::vector<uint8_t> Generate(std::mt19937* random) {
  auto pick = [random](uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(*random);
  };
  static const SynthScene kScenes[] = {SynthScene::kDemo, SynthScene::kNoise, SynthScene::kShapes,
                                       SynthScene::kGradient, SynthScene::kNatural};
  Plan plan{pick(1, 96), pick(1, 72), pick(1, 24), kScenes[pick(0, 4)]};
  MovieEncodeOptions options;
  options.video.width = plan.width;
  options.video.height = plan.height;
  options.video.version = static_cast<char>('f' + pick(0, 3));
  options.video.alpha = pick(0, 2) == 0;
  options.video.grey = pick(0, 4) == 0;
  options.video.quality = static_cast<int>(pick(1, 100));
  options.video.keyint = pick(0, 8);
  options.rate_num = pick(5, 60);
  const uint32_t tracks = pick(0, 2);
  for (uint32_t t = 0; t < tracks; t++) {
    MovieAudioInput track;
    track.rate = pick(0, 1) ? 22050 : pick(4000, 48000);
    track.channels = pick(1, 2);
    track.sixteen_bit = pick(0, 1) == 1;
    track.use_dct = pick(0, 1) == 1;
    track.id = t;
    SynthMelody(track.rate, track.channels, 0.2 + plan.frames / 20.0, &track.samples);
    options.audio.push_back(std::move(track));
  }
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  if (!MovieEncode(options, Draw, &plan, &bytes, &stats, &error)) {
    std::fprintf(stderr, "soak: the encoder refused a plan: %s\n", error ? error : "?");
    std::exit(2);
  }
  // About a third are damaged.
  switch (pick(0, 8)) {
    case 0: bytes.resize(pick(0, static_cast<uint32_t>(bytes.size()))); break;
    case 1:
      for (uint32_t n = pick(1, 16); n > 0; n--) bytes[pick(0, static_cast<uint32_t>(bytes.size() - 1))] ^= static_cast<uint8_t>(pick(1, 255));
      break;
    case 2: {
      const uint32_t word = pick(1, 10) * 4;
      if (word + 4 <= bytes.size())
        for (int i = 0; i < 4; i++) bytes[word + i] = static_cast<uint8_t>(pick(0, 255));
      break;
    }
    default: break;
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 100;
  const uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 19;
  std::mt19937 random(seed);
  SoundDriverSelect(SoundSilentDriver, 0);
  DisplaySetBackend(DisplayMemoryBackend());
  MovieClockSetSources(&kVirtualClock);
  PlayerSystem* system = PlayerSystemHooks();
  system->sleep_ms = VirtualSleep;
  system->profile_get = ProfileGet;
  system->profile_write = ProfileWrite;
  system->ask_yes_no = AskNo;
  system->open_url = OpenNothing;
  uint32_t played = 0, refused = 0;
  for (uint32_t i = 0; i < count; i++) {
    const std::vector<uint8_t> bytes = Generate(&random);
    const std::string path = TestPath("soak_" + std::to_string(i % 8) + ".vxn");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 2;
    std::fclose(f);
    // Progress first, so a crash names its movie (seed and number reproduce it).
    std::printf("soak: movie %u (seed %u): %zu bytes\n", i, seed, bytes.size());
    std::fflush(stdout);
    PlayerOptions options;
    PlayerOptionsInit(&options);
    options.screen_width = 800;
    options.screen_height = 600;
    g_quit_posted = false;
    static PlayerState player;
    PlayerStateInit(&player, &options, &kOps);
    player.window = &g_now;
    MovieSetError("");
    const int code = PlayerRun(&player, path.c_str());
    if (code == 0) {
      played++;
    } else if (MovieGetError()[0] || DisplayLastError()[0]) {
      refused++;
    } else {
      std::printf("soak: movie %u refused without a text\n", i);
      return 1;
    }
  }
  std::printf("soak: %u movies: %u played, %u refused with a text, 0 crashed\n", count, played,
              refused);
  std::error_code ignored;
  std::filesystem::remove_all(TestFolder(), ignored);
  return 0;
}
