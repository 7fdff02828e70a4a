// Reading and writing raw picture sequences in the YUV4MPEG2 text-headed
// format: the encoder's picture input and the decoder's picture output.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "writer/video_encoder.h"

enum class Y4mChroma { k420, k422, k444, kMono };

struct Y4mReader {
  std::FILE* file = nullptr;
  uint32_t width = 0, height = 0;
  uint32_t rate_num = 0, rate_den = 0;  // 0/0 when the header has no F field
  Y4mChroma chroma = Y4mChroma::k420;
  uint32_t bits = 8;         // bits per sample, 8 to 16 (above 8: two bytes, little-endian)
  char interlace = 'p';      // the I field: p progressive, t/b top/bottom field first, m mixed
  bool full_range = false;   // XCOLORRANGE=FULL: samples use 0..255, converted to 16..235/240
  uint64_t frames_read = 0;
  // What the reader changes and the user should hear about: each starts
  // with "warning: " or "note: ".
  std::vector<std::string> notes;
};

// Largest picture the reader accepts (the movie format's bundle count fields
// stop growing at about this width).
inline constexpr uint32_t kY4mMaxWidth = 4024;
inline constexpr uint32_t kY4mMaxHeight = 4096;

// Opens ("-": standard input) and parses the stream header. On failure
// returns false with a one-line reason in *error and leaves nothing open.
bool Y4mOpen(const char* path, Y4mReader* reader, std::string* error);
// The same for a stream already open for reading, which the reader then owns
// (closed on failure and by Y4mClose).
bool Y4mOpenStream(std::FILE* file, Y4mReader* reader, std::string* error);
// Reads the next picture as 8-bit 4:2:0 in the studio range the movie
// format uses: 4:4:4 and 4:2:2 chroma are averaged down, mono gets grey
// chroma, deeper samples are rounded to 8 bits, full-range samples are
// scaled into the studio range. Returns 1 for a picture, 0 at a clean end,
// -1 with *error set.
int Y4mReadPicture(Y4mReader* reader, VideoPicture* picture, std::string* error);
void Y4mClose(Y4mReader* reader);
// Starts a seekable stream again from its first picture (its header read
// anew). False, with *error set, for a pipe or a stream that changed.
bool Y4mRewind(Y4mReader* reader, std::string* error);
// Copies standard input into a temporary file (removed when closed) and
// returns it at its start, so that it can be read twice; null when no
// temporary file can be made or reading fails.
std::FILE* Y4mSpoolStandardInput();
// The pictures left in a seekable stream, taking every frame marker to be as
// long as the next one; 0 when the stream cannot be measured (a pipe).
uint32_t Y4mFrameCount(Y4mReader* reader);

// Writes a 4:2:0 stream (header once, then one FRAME per picture).
struct Y4mWriter {
  std::FILE* file = nullptr;
  bool owned = false;  // opened by Y4mCreate, so closed by Y4mFinish
};
bool Y4mCreate(const char* path, uint32_t width, uint32_t height, uint32_t rate_num,
               uint32_t rate_den, Y4mWriter* writer, std::string* error);
// Writes the stream header to a stream already open for writing (not closed
// by Y4mFinish).
bool Y4mCreateStream(std::FILE* file, uint32_t width, uint32_t height, uint32_t rate_num,
                     uint32_t rate_den, Y4mWriter* writer);
bool Y4mWritePicture(Y4mWriter* writer, const VideoPicture& picture);
void Y4mFinish(Y4mWriter* writer);
