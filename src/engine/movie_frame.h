// The loaded frame's packet and the video decode of one packet, shared by
// frame stepping and seeking.
#pragma once
#include <cstdint>

struct Movie;

// The loaded frame's packet and its size. The size comes from the index but
// never exceeds what the packet buffer (or the preloaded image) holds, so a
// damaged index cannot make the decoders read outside it.
struct MoviePacket {
  const uint8_t* data;
  uint32_t size;
  bool key_frame;
};
MoviePacket MovieLoadedPacket(const Movie* movie);

// Puts frame k's packet into frame_data: a pointer into the preloaded image,
// or a read through the reader of at most frame_data_size bytes. A packet not
// wholly there (past a cut image or file, or a failed read) sets the
// movie's read_error; nothing outside the image or buffer is ever touched.
void MovieReadPacket(Movie* movie, uint32_t k);

// Decodes a packet's video data into yuv_buffers[cur_buffer], predicting
// from the other buffer, and flips cur_buffer.
void MovieDecodeVideo(Movie* movie, const uint8_t* data, uint32_t size, bool key_frame);
