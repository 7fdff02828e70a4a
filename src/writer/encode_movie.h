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
  // Under rate control: the best quality up to `quality` whose bytes keep
  // within the track's part of a fifth of the data rate.
  bool quality_from_rate = false;
};

// Called after every frame (from the encoding thread).
struct MovieEncodeProgress {
  uint32_t frames_done = 0;
  uint32_t frames_total = 0;     // 0: not known
  uint64_t packet_bytes = 0;     // frame packets so far
  double seconds_done = 0;       // movie time coded so far
  bool analysing = false;        // the first of two passes (rate control)
};
using MovieProgressFn = void (*)(void* user, const MovieEncodeProgress& progress);

// Starts the pictures again from the first; false when it cannot.
using MovieRewindFn = bool (*)(void* user);

// The speed of the measuring pass, and the share of the data rate above
// which the sound alone makes a request impossible.
inline constexpr int kMovieAnalysisSpeed = 9;
inline constexpr double kMovieSoundLimit = 0.9;

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
  // Rate control instead of a fixed quality: the data rate of the frame
  // packets (video and sound) in kbit/s, or the size of the whole movie file
  // in bytes (this needs the number of frames: `frames` or
  // `frames_expected`). 0: off, video.quality decides.
  double bitrate_kbps = 0;
  uint64_t target_bytes = 0;
  uint32_t frames_expected = 0;  // pictures the source will supply, when known
  // Under rate control, when the pictures can be read twice: a fast first
  // pass measures every frame, so that one lambda can serve the whole movie
  // (a size then needs no frame count). Null: one pass.
  MovieRewindFn rewind = nullptr;
  // The fastest speed measures first only when asked to (or when a size
  // needs the frame count).
  bool measure_at_fastest = false;
  MovieProgressFn progress = nullptr;
  void* progress_user = nullptr;
};

// Supplies picture `frame` (0-based). Returns 1 for a picture, 0 at the end,
// -1 on an error (the encode then fails).
using MoviePictureSource = int (*)(void* user, uint32_t frame, VideoPicture* picture);

struct MovieEncodeStats {
  std::vector<VideoFrameStats> frames;
  std::vector<uint32_t> packet_bytes;  // per frame, the whole packet
  std::vector<double> lambdas;         // per frame under rate control (0: reused frame)
  double target_kbps = 0;              // the rate aimed at (0: quality mode)
  std::vector<double> audio_snr;      // per track, dB (when measured)
  std::vector<uint64_t> audio_bytes;  // coded bytes per track
  uint32_t pictures = 0;              // taken from the source
  uint32_t held_frames = 0;           // repeats of the last picture after them
  std::vector<uint64_t> audio_dropped_frames;  // per track, sample frames not stored
  std::vector<int> audio_quality;     // per track, the quality coded with
  int passes = 1;                     // over the pictures
};

// Data rates of a coded movie in kbit/s: the average over all frame packets
// and the largest one-second stretch (the frame rate rounded, at least one
// frame), as a player would count them.
struct MovieRates {
  double average_kbps = 0, peak_kbps = 0;
};
MovieRates MovieRatesOf(const std::vector<uint32_t>& packet_bytes, uint32_t rate_num,
                        uint32_t rate_den);

// Why a movie under rate control came to less (`under`) or more than its
// request, in words for the user: the pictures at the finest or coarsest
// quality, or the rate control's misjudgement. The movie is never padded to
// reach a rate.
const char* MovieRateMissReason(const MovieEncodeStats& stats, bool under);

// Encodes the movie into *movie. On failure returns false with a reason in
// *error (a static text, or one kept until the thread's next failing call).
bool MovieEncode(const MovieEncodeOptions& options, MoviePictureSource source, void* user,
                 std::vector<uint8_t>* movie, MovieEncodeStats* stats, const char** error);
