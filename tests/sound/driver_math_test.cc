// The Windows sound drivers' arithmetic: buffer sizes for the formats a
// movie can carry, volume and pan in each device's units, and the space
// ahead of DirectSound's play cursor.
#include <gtest/gtest.h>

#include "sound/sound_driver_math.h"

namespace sm = sound_math;

namespace {

TEST(WaveOutSizes, SixteenthSecondBuffersAndHalfSecondStart) {
  const uint32_t stereo16 = sm::BytesPerSecond(22050, 16, 2);
  EXPECT_EQ(stereo16, 88200u);
  EXPECT_EQ(sm::WaveOutBufferBytes(stereo16), 5536u);
  EXPECT_EQ(sm::WaveOutStartBytes(stereo16, UINT32_MAX), 44128u);  // 8 buffers

  const uint32_t mono8 = sm::BytesPerSecond(11025, 8, 1);
  EXPECT_EQ(mono8, 11025u);
  EXPECT_EQ(sm::WaveOutBufferBytes(mono8), 704u);
  EXPECT_EQ(sm::WaveOutStartBytes(mono8, UINT32_MAX), 5536u);

  // A movie shorter than half a second starts once all of it is queued.
  EXPECT_EQ(sm::WaveOutStartBytes(stereo16, 3000), 3000u);
  // A format too slow to fill 32 bytes in 1/16 s gets no buffer (the
  // driver refuses it); every other start fits in the sixteen buffers.
  EXPECT_EQ(sm::WaveOutBufferBytes(sm::BytesPerSecond(1, 16, 2)), 0u);
  for (uint32_t rate : {4u, 8000u, 11025u, 22050u, 44100u, 48000u, 65535u})
    for (uint32_t bits : {8u, 16u})
      for (uint32_t channels : {1u, 2u}) {
        const uint32_t bps = sm::BytesPerSecond(rate, bits, channels);
        const uint32_t buffer = sm::WaveOutBufferBytes(bps);
        EXPECT_EQ(buffer % 32, 0u);
        if (bps >= 16)
          EXPECT_LE(sm::WaveOutStartBytes(bps, UINT32_MAX), sm::WAVEOUT_BUFFERS * buffer)
              << rate << " Hz " << bits << " bits " << channels;
      }
}

TEST(WaveOutSizes, MovieSoundBytesAtThePlayingRate) {
  // 300 frames at 30/1 are 10 s.
  EXPECT_EQ(sm::MovieSoundBytes(300, 30, 1, 88200, 7), 882000u);
  // 2997/100: 100 frames are 3.3367 s.
  EXPECT_EQ(sm::MovieSoundBytes(100, 2997, 100, 88200, 7), 294294u);
  EXPECT_EQ(sm::MovieSoundBytes(100, 0, 1, 88200, 7), 7u);  // no rate: the fallback
  EXPECT_EQ(sm::MovieSoundBytes(100, 30, 0, 88200, 7), 7u);
  // Absurd headers saturate instead of wrapping to a small number.
  EXPECT_EQ(sm::MovieSoundBytes(UINT32_MAX, 1, UINT32_MAX, 262140, 7), UINT32_MAX);
}

TEST(WaveOutVolume, LevelsPerChannel) {
  EXPECT_EQ(sm::WaveOutVolume(65535), 32767u);
  EXPECT_EQ(sm::WaveOutVolume(100000), 32767u);
  EXPECT_EQ(sm::WaveOutVolume(0), 0u);
  EXPECT_EQ(sm::WaveOutVolume(32767), 16383u);
  // Centre (32767) keeps both; full left silences the right and back.
  EXPECT_EQ(sm::WaveOutVolumeWord(32767, 32767), 32767u | 32767u << 16);
  EXPECT_EQ(sm::WaveOutVolumeWord(32767, 0), 32767u);
  EXPECT_EQ(sm::WaveOutVolumeWord(32767, 65536), 32767u << 16);
  EXPECT_EQ(sm::WaveOutVolumeWord(32767, 200000), 32767u << 16);
  EXPECT_EQ(sm::WaveOutVolumeWord(20000, 49152), (20000u * 16384 / 32769) | 20000u << 16);
}

TEST(DirectSoundSizes, SecondBufferChunkAndUnderrunMark) {
  const uint32_t bps = sm::BytesPerSecond(22050, 16, 2);
  EXPECT_EQ(sm::DsBufferBytes(bps), 53248u);
  EXPECT_EQ(sm::DsChunkBytes(bps), 4608u);
  EXPECT_EQ(sm::DsUnderrunBytes(sm::DsBufferBytes(bps)), 47923u);
  const uint32_t mono8 = sm::BytesPerSecond(11025, 8, 1);
  EXPECT_EQ(sm::DsBufferBytes(mono8), 7168u);
  EXPECT_EQ(sm::DsChunkBytes(mono8), 768u);
}

TEST(DirectSoundLevels, VolumeAndPanInHundredthsOfADecibel) {
  EXPECT_EQ(sm::DsAttenuation(32767), 0);
  EXPECT_EQ(sm::DsAttenuation(40000), 0);
  EXPECT_EQ(sm::DsAttenuation(0), -10000);
  EXPECT_NEAR(sm::DsAttenuation(3277), -3333, 1);
  EXPECT_EQ(sm::DsAttenuation(1), -10000);  // -15051 would be below the floor
  EXPECT_EQ(sm::DsPan(0), -10000);
  EXPECT_EQ(sm::DsPan(32768), 0);
  EXPECT_EQ(sm::DsPan(65536), 10000);
  EXPECT_EQ(sm::DsPan(70000), 10000);
  EXPECT_EQ(sm::DsPan(32767), 0);  // truncated towards zero
  EXPECT_EQ(sm::DsPan(16384), -5000);
}

TEST(DirectSoundCursor, FreeSpaceKeepsAGapBeforeThePlayCursor) {
  const uint32_t B = 53248;
  // Written up to 20000, playing at 10000: the rest of the loop is free
  // but for the gap, in 4-byte units.
  EXPECT_EQ(sm::DsFreeBytes(10000, 20000, B), B - 10000 - 1024);
  // The play cursor just behind the written data: nothing.
  EXPECT_EQ(sm::DsFreeBytes(20500, 20000, B), 0u);
  EXPECT_EQ(sm::DsFreeBytes(21024, 20000, B), 0u);
  EXPECT_EQ(sm::DsFreeBytes(21030, 20000, B), 4u);
  // The same place: nothing can be written (the buffer is full).
  EXPECT_EQ(sm::DsFreeBytes(0, 0, B), 0u);
  for (uint32_t play = 0; play < B; play += 997)
    for (uint32_t write = 0; write < B; write += 1231) {
      const uint32_t f = sm::DsFreeBytes(play, write, B);
      EXPECT_EQ(f % 4, 0u);
      EXPECT_LE(f, B - 1024);
    }
  EXPECT_EQ(sm::DsMoved(100, 53000, B), 348u);
  EXPECT_EQ(sm::DsMoved(5000, 1000, B), 4000u);
}

}  // namespace
