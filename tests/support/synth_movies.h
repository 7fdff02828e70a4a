// Real (decodable) movies for tests: synthetic pictures and melodies run
// through the encoder, in the shapes the library and plugin tests need.
#pragma once
#include <cstdint>
#include <vector>

struct SynthMovieSpec {
  uint32_t width = 64, height = 48;
  uint32_t frames = 24;
  uint32_t rate_num = 30, rate_den = 1;
  uint32_t keyint = 8;       // a key frame at least every keyint frames
  bool alpha = false;
  bool grey = false;
  char version = 'i';
  // Sound tracks, in file order: 0 = none; each entry is
  // {rate, channels, use_dct, id}.
  struct Track {
    uint32_t rate, channels;
    bool use_dct;
    uint32_t id;
  };
  std::vector<Track> tracks;
};

// The movie's bytes; empty (with a test failure) when encoding fails.
std::vector<uint8_t> SynthMovie(const SynthMovieSpec& spec);
