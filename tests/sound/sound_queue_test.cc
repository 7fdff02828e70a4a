// The block queue behind the SDL sound driver, driven by a fake device
// clock: sizes for every format, the held-back start, bit-exact order,
// underruns and their recovery, pause, levels.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "sound/sound_driver_math.h"
#include "sound/sound_queue.h"

namespace {

using Format = std::tuple<uint32_t, uint32_t, uint32_t>;  // rate, bits, channels

class QueueSizes : public ::testing::TestWithParam<Format> {};

TEST_P(QueueSizes, WholeFramesOfASixteenthAndHalfASecond) {
  const auto [rate, bits, channels] = GetParam();
  const uint32_t frame = bits / 8 * channels;
  const uint32_t bps = sound_math::BytesPerSecond(rate, bits, channels);
  const uint32_t block = SoundQueueBlockBytes(bps, frame);
  EXPECT_EQ(block % frame, 0u);
  EXPECT_LE(block * 16, bps);
  EXPECT_GT(block * 16 + 16 * frame, bps) << "no more than a frame short per block";
  const uint32_t start = SoundQueueStartBytes(bps, frame, UINT32_MAX);
  EXPECT_EQ(start % frame, 0u);
  EXPECT_LE(start * 2, bps);
  EXPECT_GT(start * 2 + 2 * frame, bps);
  // A movie whose whole sound is shorter starts once all of it is queued.
  EXPECT_EQ(SoundQueueStartBytes(bps, frame, 10 * frame + frame / 2), 10 * frame);
  EXPECT_EQ(SoundQueueStartBytes(bps, frame, 0), frame);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, QueueSizes,
                         ::testing::Combine(::testing::Values(1000u, 8000u, 11025u, 22050u, 32000u,
                                                              44100u, 48000u, 65535u),
                                            ::testing::Values(8u, 16u), ::testing::Values(1u, 2u)));

// A queue for 16-bit stereo at 16000 Hz: 64000 bytes per second, blocks of
// 4000 bytes, 32000 held back.
class QueueClock : public ::testing::Test {
 protected:
  void SetUp() override { Init(16, 2, 16000); }
  void Init(uint32_t bits, uint32_t channels, uint32_t rate) {
    const uint32_t frame = bits / 8 * channels;
    const uint32_t bps = rate * frame;
    block = SoundQueueBlockBytes(bps, frame);
    memory.assign(SOUND_QUEUE_BLOCKS * block, 0xEE);
    SoundQueueInit(&q, memory.data(), bits, channels, block,
                   SoundQueueStartBytes(bps, frame, UINT32_MAX));
  }
  // The service: fills every free block with the next bytes of a counting pattern.
  uint32_t Feed(uint32_t blocks) {
    uint32_t fed = 0;
    for (; fed < blocks && SoundQueueReady(&q); ++fed) {
      void* buffer;
      uint32_t size;
      EXPECT_TRUE(SoundQueueGetBuffer(&q, &buffer, &size));
      EXPECT_EQ(size, block);
      auto* bytes = static_cast<uint8_t*>(buffer);
      for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(next_in++ * 7 + 1);
      EXPECT_TRUE(SoundQueueSubmit(&q, size));
    }
    return fed;
  }
  // The device: ms of sound pulled in callbacks of 10 ms.
  void Play(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      std::vector<uint8_t> out(640);
      SoundQueuePull(&q, out.data(), static_cast<uint32_t>(out.size()));
      heard.insert(heard.end(), out.begin(), out.end());
    }
  }
  bool HeardIsPatternFrom(size_t at, size_t bytes, uint32_t first) const {
    for (size_t i = 0; i < bytes; ++i)
      if (heard[at + i] != static_cast<uint8_t>((first + i) * 7 + 1)) return false;
    return true;
  }
  SoundQueue q{};
  uint32_t block = 0;
  std::vector<uint8_t> memory;
  uint32_t next_in = 0;
  std::vector<uint8_t> heard;
};

TEST_F(QueueClock, HoldsBackUntilHalfASecondThenPlaysEveryByteInOrder) {
  ASSERT_EQ(block, 4000u);
  Feed(7);  // 28000 bytes: not yet half a second
  Play(100);
  EXPECT_FALSE(q.playing);
  EXPECT_EQ(std::vector<uint8_t>(heard.begin(), heard.end()), std::vector<uint8_t>(heard.size(), 0))
      << "silence while held back";
  heard.clear();
  Feed(1);  // 32000 bytes: playback starts
  EXPECT_TRUE(q.playing);
  Play(500);
  ASSERT_EQ(heard.size(), 32000u);
  EXPECT_TRUE(HeardIsPatternFrom(0, 32000, 0));
  EXPECT_EQ(q.played_bytes, 32000u);
}

TEST_F(QueueClock, SixteenBlocksFillTheQueueAndAPlayedBlockFreesOne) {
  EXPECT_EQ(Feed(100), SOUND_QUEUE_BLOCKS);
  EXPECT_FALSE(SoundQueueReady(&q));
  EXPECT_EQ(SoundQueueBytes(&q), SOUND_QUEUE_BLOCKS * block);
  Play(60);  // 3840 bytes: the first block is not finished
  EXPECT_FALSE(SoundQueueReady(&q));
  Play(10);
  EXPECT_TRUE(SoundQueueReady(&q));
  EXPECT_EQ(SoundQueueBytes(&q), SOUND_QUEUE_BLOCKS * block - 4480);
}

TEST_F(QueueClock, SteadyFeedingNeverRunsDry) {
  // Ten seconds: the service every 50 ms, the device every 10 ms.
  for (uint32_t t = 0; t < 10000; t += 50) {
    Feed(SOUND_QUEUE_BLOCKS);
    Play(50);
  }
  EXPECT_EQ(q.underrun, 0u);
  size_t silent = 0;
  while (silent < heard.size() && heard[silent] == 0) ++silent;
  EXPECT_TRUE(HeardIsPatternFrom(silent, heard.size() - silent, 0)) << "no byte lost or repeated";
}

TEST_F(QueueClock, RunningDryIsAnUnderrunAndTheQueueStartsAfresh) {
  Feed(8);
  Play(500);
  EXPECT_EQ(q.underrun, 0u);
  Play(10);  // nothing left
  EXPECT_EQ(q.underrun, 1u);
  EXPECT_FALSE(q.playing);
  EXPECT_EQ(heard.back(), 0u) << "silence fills the gap";
  heard.clear();
  q.underrun = 0;
  Feed(3);
  Play(100);
  EXPECT_FALSE(q.playing) << "half a second is held back again";
  EXPECT_EQ(q.underrun, 0u) << "not playing: no further underrun";
  Feed(5);
  Play(500);
  EXPECT_TRUE(HeardIsPatternFrom(heard.size() - 32000, 32000, 32000));
}

TEST_F(QueueClock, PauseOffersNothingAndPlaysSilenceKeepingTheQueue) {
  Feed(10);
  Play(100);
  SoundQueuePause(&q, 1);
  EXPECT_FALSE(SoundQueueReady(&q));
  const uint32_t held = SoundQueueBytes(&q);
  Play(1000);
  EXPECT_EQ(SoundQueueBytes(&q), held);
  EXPECT_EQ(q.underrun, 0u) << "a pause is no underrun";
  SoundQueuePause(&q, 0);
  heard.clear();
  Play(100);
  EXPECT_TRUE(HeardIsPatternFrom(0, heard.size(), 6400)) << "resumes where it stopped";
}

TEST_F(QueueClock, RestartDropsTheQueueAndKeepsAPause) {
  Feed(10);
  Play(100);
  SoundQueuePause(&q, 1);
  SoundQueueRestart(&q);
  EXPECT_EQ(SoundQueueBytes(&q), 0u);
  EXPECT_FALSE(q.playing);
  EXPECT_TRUE(q.paused) << "a flushed track stays paused";
  SoundQueuePause(&q, 0);
  heard.clear();
  Play(100);
  EXPECT_EQ(q.underrun, 0u);
  EXPECT_EQ(heard, std::vector<uint8_t>(heard.size(), 0)) << "nothing of the old queue is heard";
  Feed(8);
  Play(10);
  EXPECT_TRUE(HeardIsPatternFrom(heard.size() - 640, 640, 40000)) << "the new sound from its start";
}

TEST_F(QueueClock, SubmitKeepsWholeFramesAndNeedsAnOfferedBlock) {
  EXPECT_FALSE(SoundQueueSubmit(&q, 100)) << "nothing offered";
  ASSERT_TRUE(SoundQueueReady(&q));
  EXPECT_TRUE(SoundQueueSubmit(&q, 4003));
  EXPECT_EQ(SoundQueueBytes(&q), 4000u) << "cut to the block and to whole 4-byte frames";
  ASSERT_TRUE(SoundQueueReady(&q));
  EXPECT_TRUE(SoundQueueSubmit(&q, 3));
  EXPECT_EQ(SoundQueueBytes(&q), 4000u) << "less than a frame queues nothing";
  ASSERT_TRUE(SoundQueueReady(&q));
  EXPECT_TRUE(SoundQueueSubmit(&q, 1002));
  EXPECT_EQ(SoundQueueBytes(&q), 5000u);
}

TEST_F(QueueClock, EightBitSilenceIsTheMidpoint) {
  Init(8, 1, 8000);
  std::vector<uint8_t> out(100, 0);
  SoundQueuePull(&q, out.data(), 100);
  EXPECT_EQ(out, std::vector<uint8_t>(100, 128));
}

TEST_F(QueueClock, LevelsScaleSamplesPerChannel) {
  auto played = [&](uint32_t volume, uint32_t pan, uint32_t bits, std::vector<uint8_t> in) {
    Init(bits, 2, 8000);
    SoundQueueSetLevels(&q, volume, pan);
    q.start_bytes = static_cast<uint32_t>(in.size());
    SoundQueueReady(&q);
    void* buffer;
    uint32_t size;
    SoundQueueGetBuffer(&q, &buffer, &size);
    std::memcpy(buffer, in.data(), in.size());
    SoundQueueSubmit(&q, static_cast<uint32_t>(in.size()));
    std::vector<uint8_t> out(in.size());
    SoundQueuePull(&q, out.data(), static_cast<uint32_t>(out.size()));
    return out;
  };
  // 16-bit little-endian stereo frames: left 20000, right -20000.
  const std::vector<uint8_t> loud = {0x20, 0x4E, 0xE0, 0xB1, 0x20, 0x4E, 0xE0, 0xB1};
  EXPECT_EQ(played(32767, 32767, 16, loud), loud) << "full level leaves samples untouched";
  const std::vector<uint8_t> half = played(16384, 32767, 16, loud);
  int16_t l, r;
  std::memcpy(&l, &half[0], 2);
  std::memcpy(&r, &half[2], 2);
  EXPECT_NEAR(l, 10000, 2);
  EXPECT_NEAR(r, -10000, 2);
  const std::vector<uint8_t> left_only = played(32767, 0, 16, loud);
  std::memcpy(&r, &left_only[6], 2);
  std::memcpy(&l, &left_only[4], 2);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(l, 20000);
  // 8-bit: levels scale around 128.
  const std::vector<uint8_t> eight = played(0, 32767, 8, {228, 28, 228, 28});
  EXPECT_EQ(eight, (std::vector<uint8_t>{128, 128, 128, 128}));
}

}  // namespace
