// A straightforward, pixel-by-pixel model of the copy for the conversion
// tests: no tables, no row pairs, no groups.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "engine/sound_track.h"

struct RefRgb {
  int b, g, r;
};
// The colour path's pixel for one luma and one chroma pair.
RefRgb RefColour(int y, int u, int v);
int RefGrey(int y);
// The 16-bit layout this implementation gives each format (blue, green, red).
struct RefLayout {
  int bits[3], shift[3];
};
RefLayout RefLayoutFor(uint32_t format);
uint32_t RefPack16(const RefRgb& c, uint32_t format);

// A movie record built by hand around random planes.
struct TestMovie {
  Movie movie{};
  SoundTrack track{};
  std::vector<uint8_t> frame[2];
  std::vector<uint8_t> alpha[2];
  std::vector<uint8_t> map;
  uint8_t* Luma() { return movie.yuv_buffers[(movie.cur_buffer & 1) ^ 1]; }
  uint8_t* FirstChroma() { return Luma() + movie.plane_width * movie.plane_height; }
  uint8_t* SecondChroma() { return FirstChroma() + movie.plane_width * movie.plane_height / 4; }
  uint8_t* Alpha() { return movie.alpha_buffers[(movie.cur_buffer & 1) ^ 1]; }
  void SetAllChanged(bool changed);
  // As the movie's close does: the conversion's state goes back.
  ~TestMovie() {
    if (movie.convert_release) movie.convert_release(movie.convert_state);
  }
};
std::unique_ptr<TestMovie> MakeTestMovie(uint32_t width, uint32_t height, uint32_t seed,
                                         bool with_alpha);
// Fills every plane of the shown frame with one value each.
void FillUniform(TestMovie& t, uint8_t y, uint8_t first_chroma, uint8_t second_chroma,
                 uint8_t alpha);

// What the copy must write: the rectangle (decoded coordinates) converted into
// dest, which holds whatever it held before everywhere else. The movie's own
// flags are merged as the copy merges them.
void RefCopy(TestMovie& t, uint8_t* dest, intptr_t pitch, int32_t dest_x, int32_t dest_y,
             uint32_t src_x, uint32_t src_y, uint32_t width, uint32_t height, uint32_t flags);
