// Decoding a frame's audio packets into the played tracks' PCM rings.
#include "engine/movie_audio.h"

#include "audio/audio_decoder.h"
#include "engine/movie.h"
#include "engine/sound_track.h"
#include "platform/platform.h"

namespace {

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Index of the played track that carries file track t, or -1.
int PlayedTrack(const Movie* movie, uint32_t t) {
  for (uint32_t j = 0; j < movie->selected_count; ++j)
    if (movie->selected_tracks[j] == t) return static_cast<int>(j);
  return -1;
}

void AppendToRing(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* track = static_cast<SoundTrack*>(context);
  const auto* data = reinterpret_cast<const uint8_t*>(pcm);
  if (track->skip_bytes) {  // sound from before a seek's position
    const uint32_t skip = bytes < track->skip_bytes ? bytes : track->skip_bytes;
    track->skip_bytes -= skip;
    data += skip;
    bytes -= skip;
  }
  SoundRingAppend(track, data, bytes);
}

// One packet's payload: the PCM byte count, then coded blocks decoded one
// after another until that many bytes came out (the last block's surplus is
// dropped). Blocks never read past the payload; a count beyond the blocks
// present comes out as silence, of which no more than the ring holds is made.
void DecodePacket(SoundTrack* track, const uint8_t* payload, uint32_t size) {
  if (!track->decoder) return;
  AudioDecodePacket(track->decoder, payload, payload + size, track->ring_size, AppendToRing, track);
}

}  // namespace

uint32_t MovieDecodeAudio(Movie* movie, const uint8_t* packet, uint32_t size,
                          const uint8_t* decode) {
  uint32_t pos = 0;
  bool locked = false;
  for (uint32_t t = 0; t < movie->track_count; ++t) {
    if (size - pos < 4) return size;  // no room for even the size word: no video either
    uint32_t packet_size = ReadLe32(packet + pos);
    pos += 4;
    // The packet's size word is not trusted beyond the frame's real end.
    uint32_t body = packet_size < size - pos ? packet_size : size - pos;
    int played = packet_size ? PlayedTrack(movie, t) : -1;
    if (played >= 0 && (!decode || decode[played])) {
      if (!locked && movie->sound_node.mutex) {
        MutexLock(movie->sound_node.mutex);
        locked = true;
      }
      DecodePacket(&movie->tracks[played], packet + pos, body);
    }
    pos += body;
  }
  if (locked) MutexUnlock(movie->sound_node.mutex);
  return pos;
}
