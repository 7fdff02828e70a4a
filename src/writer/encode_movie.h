// Whole movies from pictures and sound: the video encoder for every frame,
// one audio encoder per track handing each frame its share of the sound
// (the first frame a lead-in of about 0.75 s), and the container around
// them. Used by `vorntool encode`, `vorntool demo`, the closing-logo build
// step, the benchmarks and the tests.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/video_encoder.h"

struct MovieAudioInput {
  std::vector<int16_t> samples;  // interleaved signed 16-bit
  uint32_t rate = 22050;
  uint32_t channels = 2;
  bool sixteen_bit = true;       // how the player should play it
  uint32_t id = 0;               // the track identifier
  bool use_dct = true;           // DCT variant, else RDFT
  int quality = 75;
};

struct MovieEncodeOptions {
  VideoEncoderOptions video;
  uint32_t rate_num = 30, rate_den = 1;
  uint32_t frames = 0;           // pictures to take from the source (0: until it ends)
  // When the source ends before the sound does, repeat its last picture
  // (which codes as kept blocks) until the pictures cover every track;
  // otherwise the sound past the pictures (and their lead-in) is dropped.
  bool hold_last_picture = false;
  std::vector<MovieAudioInput> audio;
  bool measure_audio = false;    // decode the sound again for its SNR
};

// Supplies picture `frame` (0-based). Returns 1 for a picture, 0 at the end,
// -1 on an error (the encode then fails).
using MoviePictureSource = int (*)(void* user, uint32_t frame, VideoPicture* picture);

struct MovieEncodeStats {
  std::vector<VideoFrameStats> frames;
  std::vector<double> audio_snr;      // per track, dB (when measured)
  std::vector<uint64_t> audio_bytes;  // coded bytes per track
  uint32_t pictures = 0;              // taken from the source
  uint32_t held_frames = 0;           // repeats of the last picture after them
  std::vector<uint64_t> audio_dropped_frames;  // per track, sample frames not stored
};

// Encodes the movie into *movie. On failure returns false with a reason in
// *error (a static text).
bool MovieEncode(const MovieEncodeOptions& options, MoviePictureSource source, void* user,
                 std::vector<uint8_t>* movie, MovieEncodeStats* stats, const char** error);
