// Decodes the video part of one frame packet into a frame buffer.
#pragma once
#include <cstdint>

#include "video/block_ops.h"
#include "video/idct.h"

inline constexpr int BUNDLE_COUNT = 9;

// The decoder's kernel tables, set up once by the owner (the movie at open).
struct VideoKernels {
  IdctKernels idct;
  BlockKernels block;
};
void VideoKernelsInit(VideoKernels* kernels, uint32_t cpu_flags);

// Sizes of the nine bundle buffers for a luma plane W16 pixels wide (a
// multiple of 16); the movie allocates them once at open.
void BundleBuffersSize(uint32_t w16, uint32_t sizes[BUNDLE_COUNT]);

// Decodes one frame's video data (alpha section, luma-length word, planes, as
// the frame packet lays them out) into dest, predicting from prev. The frame
// buffer holds pitch x rows luma bytes then the two chroma planes of
// (pitch/2) x (rows/2). Alpha planes may be null. block_map gets one byte per
// 16x16 luma area that changed. The data is untrusted: nothing outside the
// given buffers is ever read or written, whatever the bytes say. Returns 1
// when every plane decoded from its own data, 0 when the data was damaged (a
// plane abandoned or not locatable: the picture then keeps what it had).
int VideoDecodeFrame(uint32_t pitch, uint32_t width, uint32_t height, uint8_t* dest,
                      const uint8_t* prev, uint8_t* dest_alpha, const uint8_t* prev_alpha,
                      uint8_t* block_map, uint32_t rows, const uint8_t* data, uint32_t data_size,
                      int key_frame, uint8_t* const bundle_buffers[BUNDLE_COUNT], uint32_t flags,
                      uint32_t video_flags, const VideoKernels& kernels);
