// The video encoder: turns pictures into the video data of frame packets
// (alpha section, luma-length word, coded planes), choosing for every 8x8
// block the coding that costs least in squared error plus lambda times bits.
// It keeps its reference frames in exactly the decoder's frame-buffer layout
// and rebuilds them with the decoder's own block operations, so its
// predictions match what a player sees bit for bit.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/encode_propagate.h"
#include "writer/encode_records.h"

// Sizes the picture's planes (records in writer/encode_records.h).
void VideoPictureInit(VideoPicture* picture, uint32_t width, uint32_t height, bool alpha);

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

// The measuring pass's record of each frame's luma blocks (see
// writer/encode_propagate.h): when on, VideoEncoderFlows gives the last
// frame's (a key frame's blocks carry nothing).
void VideoEncoderMeasureFlows(VideoEncoder* encoder, bool on);
const std::vector<BlockFlow>& VideoEncoderFlows(const VideoEncoder* encoder);
// Lambda scales for the next frames' blocks, one per 16x16 luma area
// (rounded up, in rows), applied to the luma, chroma and alpha blocks over
// it; empty (or of another size): none.
void VideoEncoderSetAreaScales(VideoEncoder* encoder, const std::vector<float>& scales);
