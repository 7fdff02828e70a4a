// vorntool decode: what one invocation asked for. The video part lives in
// decode.cc; the audio and pixel parts in decode_audio.cc and decode_pixels.cc.
#pragma once
#include <cstdint>

struct DecodeOptions {
  const char* movie_path = nullptr;
  // --video OUT.y4m [--alpha OUT.y4m] [--map OUT]
  const char* video_path = nullptr;
  const char* alpha_path = nullptr;
  const char* map_path = nullptr;
  // --audio OUT.wav [--track ID] [--raw]
  const char* audio_path = nullptr;
  bool has_track = false;
  uint32_t track_id = 0;
  bool raw = false;
  // --pixels FMT -o OUT [--scale MODE] [--png DIR]
  const char* pixels_format = nullptr;
  const char* out_path = nullptr;
  const char* scale = nullptr;
  const char* png_dir = nullptr;
  // Shared: --grey (decode luma only, chroma neutral), --frames N (at most N frames).
  bool grey = false;
  bool has_frames = false;
  uint32_t frames = 0;
  // --start SECONDS: begin with the frame on screen at that time (and, for
  // --audio, the sound from that frame's time); --frames counts from there.
  bool has_start = false;
  uint64_t start_ms = 0;
};

struct Movie;
// Moves an open movie to --start (exactly; the frame is then decoded) and
// gives its number in *first; without --start *first is 1 and nothing
// happens. False with the reason on stderr.
bool DecodeSeekStart(Movie* movie, const DecodeOptions& options, uint32_t* first);

// The names --pixels accepts besides the numbers 1-15, blank-separated.
inline constexpr const char* kPixelFormatWords =
    "bgr24 rgb24 bgrx32 rgbx32 bgra32 rgba32 argb4444 argb1555 rgb555 rgb565 rgb655 rgb664 yuy2 "
    "uyvy yv12";
bool DecodeParsePixelFormat(const char* text, uint32_t* format);
bool DecodeParseScale(const char* text, uint32_t* mode);

// Each returns 0 on success, 1 with a one-line reason on stderr, 3 after
// writing every frame it could from a damaged movie (the count and first
// damaged frame on stderr).
int DecodeVideoToY4m(const DecodeOptions& options);
int DecodeAudio(const DecodeOptions& options);
int DecodePixels(const DecodeOptions& options);

struct Movie;
// After decoding: "movie damaged" with the summary's damage line on stderr
// and kExitDamaged when a frame was damaged or missing, else kExitOk.
int DecodeReportDamage(Movie* movie, const char* movie_path);
