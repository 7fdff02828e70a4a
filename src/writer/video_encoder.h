// The video encoder: turns pictures into the video data of frame packets
// (alpha section, luma-length word, coded planes), choosing for every 8x8
// block the coding that costs least in squared error plus lambda times bits.
// It keeps its reference frames in exactly the decoder's frame-buffer layout
// and rebuilds them with the decoder's own block operations, so its
// predictions match what a player sees bit for bit.
#pragma once
#include <cstdint>
#include <vector>

// One input picture, planar, tightly packed: luma width x height, the two
// chroma planes ((width + 1) / 2) x ((height + 1) / 2), alpha (when the movie
// has alpha) width x height.
struct VideoPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> y, u, v, a;
};
void VideoPictureInit(VideoPicture* picture, uint32_t width, uint32_t height, bool alpha);

// Block types as the block-type bundle carries them.
inline constexpr int kVideoBlockTypes = 10;

// Bits of VideoEncoderOptions::allowed_types, one per block type value.
inline constexpr uint32_t kAllBlockTypes = 0x3FF;

struct VideoEncoderOptions {
  uint32_t width = 0, height = 0;
  char version = 'i';            // 'f', 'g', 'h' or 'i'
  bool grey = false;             // luma only
  bool alpha = false;            // an alpha plane per frame
  int quality = 75;              // 1 (smallest) .. 100 (best)
  uint32_t keyint = 300;         // a key frame at least every keyint frames (0: only the first)
  bool scene_cuts = true;        // a key frame where prediction stops paying
  int speed = 5;                 // 0 (best rate-distortion) .. 9 (fastest)
  uint32_t threads = 1;          // workers; the coded movie is the same for any count
  // Block types the encoder may choose from (bit t = type t); key frames
  // never use the ones that read the previous frame. Tests narrow it to
  // exercise one coding at a time.
  uint32_t allowed_types = kAllBlockTypes;
  // Doubled sub-types allowed (bit t = sub-type t of 3, 5, 6, 8, 9).
  uint32_t allowed_sub_types = (1u << 3) | (1u << 5) | (1u << 6) | (1u << 8) | (1u << 9);
};

// What one frame cost and how good it is. Planes: 0 luma, 1 U, 2 V, 3 alpha.
struct VideoFrameStats {
  bool key = false;
  // Block-type values coded, all planes together (a doubled area counts on
  // both of its block rows).
  uint32_t block_types[kVideoBlockTypes] = {};
  uint32_t sub_types[kVideoBlockTypes] = {};  // doubled blocks by sub-type
  uint64_t plane_bits[4] = {};
  double sse[4] = {};           // squared error over the visible picture
  uint64_t samples[4] = {};
};
// PSNR in dB from the squared error; 99 for a perfect plane.
double VideoPsnr(double sse, uint64_t samples);

struct VideoEncoder;
// Null when the options are out of range (size 0 or above 4024 x 4096,
// unknown version, quality outside 1..100, speed outside 0..9).
VideoEncoder* VideoEncoderCreate(const VideoEncoderOptions& options);
void VideoEncoderDestroy(VideoEncoder* encoder);

// Codes the next picture (same size as the options) and appends the frame's
// video data to *video. force_key asks for a key frame. Returns false for a
// picture of the wrong size, or should a plane ever fail to be written
// (nothing is appended then).
bool VideoEncoderEncode(VideoEncoder* encoder, const VideoPicture& picture, bool force_key,
                        std::vector<uint8_t>* video, VideoFrameStats* stats);

// Forgets the last VideoEncoderEncode call, so that the same picture can be
// coded again (with another lambda): reference frame, learnt costs, motion
// offsets and key-frame counters return to what they were before it. Only
// one call can be undone.
void VideoEncoderUndoLast(VideoEncoder* encoder);

// The encoder's reconstruction of the last frame in the decoder's layout:
// pitch x rows luma, then the stream's first and second chroma planes of
// (pitch / 2) x (rows / 2); alpha pitch x rows or null.
struct VideoReconView {
  const uint8_t* frame;
  const uint8_t* alpha;
  uint32_t pitch, rows;
};
VideoReconView VideoEncoderRecon(const VideoEncoder* encoder);

// The trade between error and bits: lambda is the squared error one bit is
// worth. A quality sets it; a rate controller may instead set it before any
// frame (it must be positive and finite).
double VideoLambdaForQuality(int quality);
double VideoEncoderLambda(const VideoEncoder* encoder);
void VideoEncoderSetLambda(VideoEncoder* encoder, double lambda);
