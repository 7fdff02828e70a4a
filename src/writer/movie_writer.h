// Assembles a complete movie (header, track tables, frame index, packets)
// from already-coded frames. Used by the encoder and by tests.
#pragma once
#include <cstdint>
#include <vector>

struct MovieWriterHeader {
  char version = 'i';        // 'f', 'g', 'h' or 'i'
  uint32_t width = 0, height = 0;
  uint32_t rate_num = 30, rate_den = 1;
  uint32_t video_flags = 0;
};

struct MovieWriterTrack {
  uint32_t max_bytes = 0;    // largest decoded PCM bytes of one frame
  uint32_t format = 0;       // rate | AUDIO_TRACK_* bits
  uint32_t id = 0;
};

struct MovieWriterFrame {
  bool key = false;
  // One entry per track, in table order: the packet payload (decoded_bytes
  // word + coded blocks) or empty for "no audio this frame".
  std::vector<std::vector<uint8_t>> audio;
  // The video data as the frame packet carries it (alpha section, luma-length
  // word for version i, planes).
  std::vector<uint8_t> video;
};

// Lays the movie out; packets start at even offsets.
std::vector<uint8_t> MovieWriterBuild(const MovieWriterHeader& header,
                                      const std::vector<MovieWriterTrack>& tracks,
                                      const std::vector<MovieWriterFrame>& frames);
