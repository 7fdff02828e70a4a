#include "writer/movie_writer.h"

#include <algorithm>

namespace {

constexpr uint32_t kHeaderSize = 44;

void PutWord(std::vector<uint8_t>* out, size_t pos, uint32_t value) {
  for (int i = 0; i < 4; i++) (*out)[pos + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendWord(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// One frame packet: every track's audio packet (size word, payload), then the
// video data. A missing entry for a track counts as "no audio this frame".
void AppendPacket(std::vector<uint8_t>* out, size_t track_count, const MovieWriterFrame& frame) {
  for (size_t t = 0; t < track_count; t++) {
    const std::vector<uint8_t>* payload = t < frame.audio.size() ? &frame.audio[t] : nullptr;
    uint32_t size = payload ? static_cast<uint32_t>(payload->size()) : 0;
    AppendWord(out, size);
    if (size) out->insert(out->end(), payload->begin(), payload->end());
  }
  out->insert(out->end(), frame.video.begin(), frame.video.end());
}

}  // namespace

std::vector<uint8_t> MovieWriterBuild(const MovieWriterHeader& header,
                                      const std::vector<MovieWriterTrack>& tracks,
                                      const std::vector<MovieWriterFrame>& frames) {
  const uint32_t track_count = static_cast<uint32_t>(tracks.size());
  const uint32_t frame_count = static_cast<uint32_t>(frames.size());
  const size_t index_pos = kHeaderSize + size_t{12} * track_count;
  const size_t data_pos = index_pos + size_t{4} * (frame_count + 1);

  std::vector<uint8_t> out(data_pos, 0);
  out[0] = 'V';
  out[1] = 'X';
  out[2] = 'N';
  out[3] = static_cast<uint8_t>(header.version);
  PutWord(&out, 8, frame_count);
  PutWord(&out, 16, frame_count);
  PutWord(&out, 20, header.width);
  PutWord(&out, 24, header.height);
  PutWord(&out, 28, header.rate_num);
  PutWord(&out, 32, header.rate_den);
  PutWord(&out, 36, header.video_flags);
  PutWord(&out, 40, track_count);
  for (uint32_t t = 0; t < track_count; t++) {
    PutWord(&out, kHeaderSize + 4 * t, tracks[t].max_bytes);
    PutWord(&out, kHeaderSize + 4 * (track_count + t), tracks[t].format);
    PutWord(&out, kHeaderSize + 4 * (2 * track_count + t), tracks[t].id);
  }

  uint32_t largest = 0;
  for (uint32_t f = 0; f < frame_count; f++) {
    const size_t start = out.size();
    PutWord(&out, index_pos + 4 * f, static_cast<uint32_t>(start) | (frames[f].key ? 1u : 0u));
    AppendPacket(&out, track_count, frames[f]);
    // Packets start at even offsets: a padding byte ends an odd packet (it
    // belongs to that packet's byte count). The last packet is padded too:
    // its end goes into the index, whose bit 0 readers clear as a key flag.
    if (out.size() & 1) out.push_back(0);
    largest = std::max(largest, static_cast<uint32_t>(out.size() - start));
  }
  PutWord(&out, index_pos + 4 * size_t{frame_count}, static_cast<uint32_t>(out.size()));
  PutWord(&out, 4, static_cast<uint32_t>(out.size() - 8));
  PutWord(&out, 12, largest);
  return out;
}
