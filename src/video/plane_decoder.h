// The plane decoder behind VideoDecodeFrame.
#pragma once
#include <cstdint>

#include "video/video_decoder.h"

struct PlaneDecodeArgs {
  uint8_t* dest;         // top-left sample of the plane
  const uint8_t* prev;   // the same plane of the previous frame
  uint32_t width8;       // decoded width and height, multiples of 8
  uint32_t height8;
  uint32_t pitch;
  uint32_t plane_rows;   // lines the plane has in memory (>= height8)
  uint8_t* block_map;    // the frame's map (pitch of the luma / 16 per row)
  uint32_t map_pitch;
  uint32_t scale;        // 1 for luma and alpha, 2 for chroma
  uint8_t* const* bundle_buffers;
  uint32_t buffer_width; // W16 the bundle buffers were sized for
  uint32_t old_colours;
  const VideoKernels* kernels;
};

// Decodes a plane from data (size readable bytes). Returns the byte offset of
// the word after the last word the plane consumed. *ok becomes 0 when the
// plane was broken (ran past its data or broke a bundle limit); the blocks
// from the broken one on are then copied from the previous plane.
uint32_t VideoDecodePlane(const PlaneDecodeArgs& args, const uint8_t* data, uint32_t size,
                          int* ok);
