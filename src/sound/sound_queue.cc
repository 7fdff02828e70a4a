#include "sound/sound_queue.h"

#include <algorithm>
#include <cstring>

#include "sound/sound_driver_math.h"

namespace {

uint8_t Silence(const SoundQueue* q) { return q->bits == 16 ? 0 : 128; }

// Scales copied samples by the channel levels (15-bit fractions).
void ApplyLevels(const SoundQueue* q, uint8_t* data, uint32_t bytes, uint32_t first_byte) {
  if (q->left_level >= 32767 && q->right_level >= 32767) return;
  const uint32_t sample_bytes = q->bits / 8;
  // first_byte: the position within the stream, so channels stay in step.
  uint32_t channel = (first_byte / sample_bytes) % q->channels;
  for (uint32_t i = 0; i + sample_bytes <= bytes; i += sample_bytes) {
    const int32_t level = static_cast<int32_t>(channel == 1 ? q->right_level : q->left_level);
    if (level >= 32767) {  // the full level is exactly unity
    } else if (q->bits == 16) {
      int16_t s;
      std::memcpy(&s, data + i, 2);
      s = static_cast<int16_t>((int32_t{s} * level) >> 15);
      std::memcpy(data + i, &s, 2);
    } else {
      data[i] = static_cast<uint8_t>((((int32_t{data[i]} - 128) * level) >> 15) + 128);
    }
    channel = q->channels == 2 ? channel ^ 1 : 0;
  }
}

}  // namespace

uint32_t SoundQueueBlockBytes(uint32_t bytes_per_second, uint32_t frame_bytes) {
  const uint32_t bytes = bytes_per_second / 16 / frame_bytes * frame_bytes;
  return std::max(bytes, frame_bytes);
}

uint32_t SoundQueueStartBytes(uint32_t bytes_per_second, uint32_t frame_bytes,
                              uint32_t movie_sound_bytes) {
  const uint32_t half = bytes_per_second / 2 / frame_bytes * frame_bytes;
  const uint32_t whole = movie_sound_bytes / frame_bytes * frame_bytes;
  return std::max(std::min(half, whole), frame_bytes);
}

void SoundQueueInit(SoundQueue* q, uint8_t* memory, uint32_t bits, uint32_t channels,
                    uint32_t block_bytes, uint32_t start_bytes) {
  *q = SoundQueue{};
  q->memory = memory;
  q->bits = bits;
  q->channels = channels;
  q->frame_bytes = bits / 8 * channels;
  q->block_bytes = block_bytes;
  q->start_bytes = start_bytes;
  q->left_level = q->right_level = 32767;
  SoundQueueRestart(q);
}

void SoundQueueRestart(SoundQueue* q) {
  q->head = q->count = q->head_offset = 0;
  q->offered = -1;
  q->queued_bytes = 0;
  q->playing = 0;
}

int SoundQueueReady(SoundQueue* q) {
  if (q->paused || q->count >= SOUND_QUEUE_BLOCKS) return 0;
  q->offered = static_cast<int32_t>((q->head + q->count) % SOUND_QUEUE_BLOCKS);
  return 1;
}

int SoundQueueGetBuffer(SoundQueue* q, void** buffer, uint32_t* size) {
  if (q->offered < 0) return 0;
  *buffer = q->memory + static_cast<uint32_t>(q->offered) * q->block_bytes;
  *size = q->block_bytes;
  return 1;
}

int SoundQueueSubmit(SoundQueue* q, uint32_t bytes) {
  if (q->offered < 0) return 0;
  // A partial frame would put every later sample on the wrong channel.
  bytes = std::min(bytes, q->block_bytes) / q->frame_bytes * q->frame_bytes;
  const auto block = static_cast<uint32_t>(q->offered);
  q->offered = -1;
  if (!bytes) return 1;
  q->lengths[block] = bytes;
  ++q->count;
  q->queued_bytes += bytes;
  if (!q->playing && q->queued_bytes >= q->start_bytes) q->playing = 1;
  return 1;
}

uint32_t SoundQueueBytes(const SoundQueue* q) {
  uint32_t bytes = 0;
  for (uint32_t i = 0; i < q->count; ++i) bytes += q->lengths[(q->head + i) % SOUND_QUEUE_BLOCKS];
  return bytes - q->head_offset;
}

void SoundQueuePull(SoundQueue* q, uint8_t* out, uint32_t len) {
  if (q->paused) {
    std::memset(out, Silence(q), len);
    return;
  }
  while (len && q->playing && q->count) {
    const uint32_t length = q->lengths[q->head];
    const uint32_t piece = std::min(len, length - q->head_offset);
    std::memcpy(out, q->memory + q->head * q->block_bytes + q->head_offset, piece);
    ApplyLevels(q, out, piece, static_cast<uint32_t>(q->played_bytes % q->frame_bytes));
    q->played_bytes += piece;
    q->head_offset += piece;
    out += piece;
    len -= piece;
    if (q->head_offset == length) {
      q->head = (q->head + 1) % SOUND_QUEUE_BLOCKS;
      --q->count;
      q->head_offset = 0;
    }
  }
  if (!len) return;
  if (q->playing) {
    // Ran dry: the queue fills afresh and the service hears of it.
    q->underrun = 1;
    q->playing = 0;
    q->queued_bytes = 0;
  }
  std::memset(out, Silence(q), len);
}

void SoundQueuePause(SoundQueue* q, int on) { q->paused = on ? 1 : 0; }

void SoundQueueSetLevels(SoundQueue* q, uint32_t volume, uint32_t pan) {
  const uint32_t word = sound_math::WaveOutVolumeWord(std::min<uint32_t>(volume, 32767), pan);
  q->left_level = word & 0xFFFF;
  q->right_level = word >> 16;
}
