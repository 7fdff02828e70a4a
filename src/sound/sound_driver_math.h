// The arithmetic of the two Windows sound drivers, kept apart from the
// device calls so that it is built and tested everywhere: buffer sizes,
// volume and pan conversions, and the free space ahead of a play cursor.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sound_math {

// Bytes per second of a played format.
constexpr uint32_t BytesPerSecond(uint32_t rate, uint32_t bits, uint32_t channels) {
  return rate * bits / 8 * channels;
}

// Bytes of sound for the whole movie at its playing frame rate:
// frames * rate_den * bps / rate_num, or `fallback` without a rate. Capped at
// 32 bits (the product can pass 64 bits for absurd headers).
inline uint32_t MovieSoundBytes(uint32_t frames, uint32_t rate_num, uint32_t rate_den, uint32_t bps,
                                uint32_t fallback) {
  if (!rate_num || !rate_den) return fallback;
  const long double bytes =
      static_cast<long double>(frames) * rate_den * bps / static_cast<long double>(rate_num);
  return bytes >= 4294967295.0L ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

// ---- waveOut ------------------------------------------------------------------------
inline constexpr uint32_t WAVEOUT_BUFFERS = 16;

// 1/16 s per buffer, a multiple of 32.
constexpr uint32_t WaveOutBufferBytes(uint32_t bps) {
  return static_cast<uint32_t>((uint64_t{bps} * 1000 / 16000 + 31) & ~uint64_t{31});
}
// Half a second held back before playback starts, at most the movie's sound.
constexpr uint32_t WaveOutStartBytes(uint32_t bps, uint32_t movie_sound_bytes) {
  return std::min(static_cast<uint32_t>((uint64_t{bps} * 1000 / 2000 + 31) & ~uint64_t{31}),
                  movie_sound_bytes);
}
// set_volume's argument (0..65535) to the driver's 0..32767.
constexpr uint32_t WaveOutVolume(uint32_t v) {
  return static_cast<uint32_t>((uint64_t{std::min<uint32_t>(v, 65535)} + 1) * 32767 / 65536);
}
// The device's volume word: left level in the low 16 bits, right in the high.
constexpr uint32_t WaveOutVolumeWord(uint32_t volume, uint32_t pan) {
  uint32_t left = volume, right = volume;
  if (pan <= 32767)
    right = static_cast<uint32_t>(uint64_t{volume} * pan / 32767);
  else
    left =
        static_cast<uint32_t>(uint64_t{volume} * (65536 - std::min<uint32_t>(pan, 65536)) / 32769);
  return (left & 0xFFFF) | (right & 0xFFFF) << 16;
}

// ---- DirectSound ----------------------------------------------------------------------
inline constexpr uint32_t DSOUND_MIN_GAP = 1024;  // bytes kept clear before the play cursor
inline constexpr uint32_t DSOUND_STALE_MS = 540;
inline constexpr uint32_t DSOUND_CHECK_MS = 12;

// 0.6 s, rounded up to a multiple of 1024.
constexpr uint32_t DsBufferBytes(uint32_t bps) {
  return static_cast<uint32_t>((uint64_t{bps} * 600 / 1000 + 1023) & ~uint64_t{1023});
}
// 50 ms, rounded up to a multiple of 256.
constexpr uint32_t DsChunkBytes(uint32_t bps) {
  return static_cast<uint32_t>((uint64_t{bps} * 50 / 1000 + 255) & ~uint64_t{255});
}
constexpr uint32_t DsUnderrunBytes(uint32_t buffer_bytes) {
  return static_cast<uint32_t>(uint64_t{buffer_bytes} * 90 / 100);
}
// 0..32767 to hundredths of a decibel, -10000 (silent) .. 0.
inline int32_t DsAttenuation(uint32_t volume) {
  const uint32_t v = std::min<uint32_t>(volume, 32767);
  if (v == 0) return -10000;
  const double db = std::log10(v / 32767.0) * 3333.3333;
  return std::max<int32_t>(static_cast<int32_t>(std::lround(db)), -10000);
}
// 0..65536 (centre 32768) to hundredths of a decibel, -10000 .. 10000.
constexpr int32_t DsPan(uint32_t pan) {
  return (static_cast<int32_t>(std::min<uint32_t>(pan, 65536)) - 32768) * 10000 / 32768;
}
// Bytes that may be written at write_offset before reaching the play cursor,
// keeping DSOUND_MIN_GAP clear, in whole 4-byte units.
constexpr uint32_t DsFreeBytes(uint32_t play, uint32_t write_offset, uint32_t buffer_bytes) {
  const uint32_t ahead = (play + buffer_bytes - write_offset % buffer_bytes) % buffer_bytes;
  return ahead >= DSOUND_MIN_GAP ? (ahead - DSOUND_MIN_GAP) & ~3u : 0;
}
// How far a cursor moved since the last reading, within the looping buffer.
constexpr uint32_t DsMoved(uint32_t now, uint32_t before, uint32_t buffer_bytes) {
  return (now + buffer_bytes - before % buffer_bytes) % buffer_bytes;
}

}  // namespace sound_math
