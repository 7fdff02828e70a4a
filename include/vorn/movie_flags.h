// The movie's flag words, shared by every layer that reads or hands them on:
// the open flags (also the movie's `flags`), the header's video flags and
// the audio track formats. Plain constants, no declarations of code, so the
// reader below the engine and programs outside the tree read the same bits.
#pragma once
#include <cstdint>

// ---- Open flags (also stored as Movie::flags) ---------------------------------
enum : uint32_t {
  OPEN_FRAME_RATE = 0x1000,
  OPEN_PRELOAD = 0x2000,
  OPEN_TRACKS = 0x4000,
  OPEN_OLD_COLOURS = 0x8000,
  OPEN_UV_ORDER = 0x10000,
  OPEN_GRAYSCALE = 0x20000,
  OPEN_NO_MMX = 0x40000,
  OPEN_NO_SKIP = 0x80000,
  OPEN_ALPHA = 0x100000,
  OPEN_NO_FILL = 0x200000,
  OPEN_READ_SPEED = 0x400000,
  OPEN_FILE_HANDLE = 0x800000,
  OPEN_IO_SIZE = 0x1000000,
  OPEN_CUSTOM_IO = 0x2000000,
  OPEN_FROM_MEMORY = 0x4000000,
  OPEN_NO_THREAD = 0x8000000,
  OPEN_SCALE_MASK = 0x70000000,
  OPEN_SCALE_SHIFT = 28,
};

// ---- Header video flags and track formats ---------------------------------------
enum : uint32_t {
  VIDEO_FLAG_GREY = 0x20000,
  VIDEO_FLAG_ALPHA = 0x100000,
  VIDEO_FLAG_SCALE_MASK = 0x70000000,

  AUDIO_TRACK_RATE_MASK = 0xFFFF,
  AUDIO_TRACK_DCT = 0x10000000,
  AUDIO_TRACK_STEREO = 0x20000000,
  AUDIO_TRACK_16BIT = 0x40000000,
  AUDIO_TRACK_RDFT = 0x80000000,
};

// The file header's length and the counts of the movie's fixed arrays.
inline constexpr uint32_t MOVIE_HEADER_SIZE = 44;
inline constexpr int MOVIE_BUNDLE_COUNT = 9;
inline constexpr int MOVIE_RECT_COUNT = 8;
