// The audio decoder: set-up figures, the block syntax on hand-made blocks,
// conversion, cross-fade, hostile input and whole packets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_decoder_record.h"
#include "writer/bit_writer.h"
#include "platform/cpu.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct DecoderDeleter {
  void operator()(AudioDecoder* d) const { AudioDecoderClose(d); }
};
using DecoderPtr = std::unique_ptr<AudioDecoder, DecoderDeleter>;

DecoderPtr Open(uint32_t rate, uint32_t channels, int use_dct) {
  return DecoderPtr(AudioDecoderOpen(rate, channels, use_dct, CpuFeatures()));
}

// ---- Hand-made blocks -------------------------------------------------------------

struct BlockWriter {
  BitWriter bits;
  void Leading(uint32_t exponent, uint32_t mantissa, bool negative) {
    BitWriterPut(&bits, exponent | mantissa << 5 | uint32_t{negative} << 28, 29);
  }
  void Scales(const std::vector<uint32_t>& q) {
    for (uint32_t v : q) BitWriterPut(&bits, v, 8);
  }
  // code < 0: the plain 8-coefficient run.
  void RunHeader(int code, uint32_t width) {
    if (code < 0) {
      BitWriterPut(&bits, 0, 1);
    } else {
      BitWriterPut(&bits, 1, 1);
      BitWriterPut(&bits, uint32_t(code), 4);
    }
    BitWriterPut(&bits, width, 4);
  }
  void Value(int32_t v, uint32_t width) {
    BitWriterPut(&bits, uint32_t(std::abs(v)), width);
    if (v != 0) BitWriterPut(&bits, v < 0 ? 1 : 0, 1);
  }
  // Zero runs of 512 coefficients up to n.
  void ZerosToEnd(uint32_t j, uint32_t n) {
    for (; j < n; j += 512) RunHeader(15, 0);
  }
  std::vector<uint8_t> Bytes() {
    std::vector<uint8_t> out;
    BitWriterAppendBytes(&bits, &out);
    return out;
  }
};

// A block whose only content is X(0) = mantissa * 2^(exponent - 23).
std::vector<uint8_t> ConstantBlock(const AudioDecoder* d, uint32_t exponent, uint32_t mantissa, bool negative) {
  BlockWriter w;
  if (d->use_dct) BitWriterPut(&w.bits, 3, 2);  // ignored bits, set to show they are skipped
  for (uint32_t c = 0; c < d->coded_channels; c++) {
    w.Leading(exponent, mantissa, negative);
    w.Leading(0, 0, false);
    w.Scales(std::vector<uint32_t>(d->band_count, 0));
    w.ZerosToEnd(2, d->transform_len);
  }
  return w.Bytes();
}

std::vector<int16_t> Decode(AudioDecoder* d, const std::vector<uint8_t>& block, const uint8_t** next = nullptr) {
  const AudioBlockOutput out = AudioDecodeBlock(d, block.data(), block.data() + block.size());
  if (next) *next = out.next;
  return std::vector<int16_t>(out.pcm, out.pcm + d->block_bytes / 2);
}

// ---- Set-up ---------------------------------------------------------------------------

TEST(AudioDecoderOpen, BandLayoutsOfTheThreeExampleTracks) {
  {
    DecoderPtr d = Open(22050, 2, 1);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->transform_len, 1024u);
    EXPECT_EQ(d->coded_channels, 2u);
    EXPECT_EQ(d->block_bytes, 4096u);
    EXPECT_EQ(d->overlap_bytes, 256u);
    const std::vector<uint32_t> want = {1,  4,  9,   13,  18,  23,  29,  35,  42,  50,  58, 68,
                                        79, 92, 107, 125, 146, 171, 204, 246, 297, 357, 441, 512};
    ASSERT_EQ(d->band_count, 23u);
    EXPECT_EQ(std::vector<uint32_t>(d->band_edges, d->band_edges + 24), want);
    EXPECT_FLOAT_EQ(d->output_scale, 2.0f / 32.0f);
  }
  {
    DecoderPtr d = Open(44100, 2, 0);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->transform_len, 4096u);
    EXPECT_EQ(d->coded_channels, 1u);
    EXPECT_EQ(d->band_count, 25u);
    EXPECT_EQ(d->band_edges[0], 1u);
    EXPECT_EQ(d->band_edges[23], 557u);
    EXPECT_EQ(d->band_edges[24], 719u);
    EXPECT_EQ(d->band_edges[25], 2048u);
    EXPECT_EQ(d->block_bytes, 8192u);
    EXPECT_EQ(d->block_bytes - d->overlap_bytes, 7680u);
  }
  {
    DecoderPtr d = Open(11025, 1, 1);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->transform_len, 512u);
    ASSERT_EQ(d->band_count, 20u);
    EXPECT_EQ(d->band_edges[19], 246u);
    EXPECT_EQ(d->band_edges[20], 256u);
  }
}

TEST(AudioDecoderOpen, RefusesWhatIsNoTrackAndUsesTheMemoryHooks) {
  EXPECT_EQ(AudioDecoderOpen(0, 1, 1, 0), nullptr);
  EXPECT_EQ(AudioDecoderOpen(22050, 3, 1, 0), nullptr);
  EXPECT_EQ(AudioDecoderOpen(70000, 1, 1, 0), nullptr);

  static uint32_t asked = 0;
  static bool refuse = false;
  AudioSetMemoryFunctions(
      [](uint32_t size) -> void* {
        asked = size;
        return refuse ? nullptr : std::malloc(size);  // the decoder needs no alignment to be correct
      },
      [](void* block) { std::free(block); });
  DecoderPtr d = Open(44100, 2, 1);
  EXPECT_TRUE(d);
  EXPECT_EQ(asked, AudioDecoderMemorySize(44100, 2, 1));
  d.reset();
  refuse = true;
  EXPECT_EQ(AudioDecoderOpen(44100, 2, 1, 0), nullptr);
  AudioSetMemoryFunctions(nullptr, nullptr);
}

TEST(AudioDecoderOpen, BandScalesFollowTheFormula) {
  EXPECT_EQ(AudioBandScale(0), 1.0f);
  for (uint32_t q : {1u, 15u, 100u, 255u}) {
    const double want = std::pow(10.0, double(q) * double(0.0664f));
    EXPECT_NEAR(AudioBandScale(q), want, want * 1e-7) << q;
  }
}

// ---- Block syntax ------------------------------------------------------------------

// Expected output of a DCT mono block with the given coefficients.
std::vector<int16_t> ExpectedDct(const std::vector<double>& x, float scale) {
  const size_t n = x.size();
  std::vector<int16_t> out(n);
  for (size_t t = 0; t < n; t++) {
    double sum = 0;
    for (size_t k = 0; k < n; k++) {
      if (x[k] != 0) sum += x[k] * std::cos(kPi * double((k * (2 * t + 1)) % (4 * n)) / double(2 * n));
    }
    out[t] = int16_t(std::clamp(std::nearbyint(sum * scale), -32768.0, 32767.0));
  }
  return out;
}

void ExpectNear(const std::vector<int16_t>& got, const std::vector<int16_t>& want, size_t count) {
  ASSERT_GE(got.size(), count);
  for (size_t i = 0; i < count; i++) ASSERT_NEAR(got[i], want[i], 1) << "sample " << i;
}

TEST(AudioBlockSyntax, RunsWidthsSignsAndBandsAcrossEdges) {
  // 11025 Hz mono DCT: bands start at coefficients 2, 8, 18, 26, 36, ...
  DecoderPtr d = Open(11025, 1, 1);
  ASSERT_TRUE(d);
  const uint32_t n = 512;
  std::vector<uint32_t> q(d->band_count, 0);
  q[0] = 0;
  q[1] = 10;
  q[2] = 20;
  q[3] = 30;
  std::vector<double> x(n, 0.0);
  BlockWriter w;
  BitWriterPut(&w.bits, 2, 2);
  w.Leading(23, 3000, false);  // 3000 * 2^0
  x[0] = 3000.0;
  w.Leading(10, 1 << 22, true);  // -(2^22) * 2^-13 = -512
  x[1] = -512.0;
  w.Scales(q);
  // j = 2..9, width 3: crosses into band 1 at coefficient 8; zero magnitudes
  // carry no sign bit.
  const int32_t first[8] = {1, -7, 0, 3, 0, -2, 5, -1};
  w.RunHeader(-1, 3);
  for (int i = 0; i < 8; i++) {
    w.Value(first[i], 3);
    const uint32_t j = 2 + i;
    x[j] = first[i] * double(AudioBandScale(j < 8 ? 0 : 10));
  }
  // j = 10..25: a 16-long zero run ending exactly on band 3's start (26).
  w.RunHeader(0, 0);
  // j = 26..33, width 2: all in band 3.
  const int32_t second[8] = {2, 0, -3, 1, 0, 0, -1, 3};
  w.RunHeader(-1, 2);
  for (int i = 0; i < 8; i++) {
    w.Value(second[i], 2);
    x[26 + i] = second[i] * double(AudioBandScale(30));
  }
  // j = 34: one 512-long zero run, cut at N.
  w.RunHeader(15, 0);
  // What follows the block must be where the next block starts.
  const uint64_t block_bits = BitWriterBitCount(&w.bits);
  BitWriterAlign(&w.bits);
  BitWriterPut(&w.bits, 0xDEADBEEF, 32);
  const std::vector<uint8_t> bytes = w.Bytes();
  const uint8_t* next = nullptr;
  const std::vector<int16_t> pcm = Decode(d.get(), bytes, &next);
  EXPECT_EQ(next - bytes.data(), int((block_bits + 31) / 32 * 4));
  const std::vector<int16_t> want = ExpectedDct(x, d->output_scale);
  ExpectNear(pcm, want, n);
}

TEST(AudioBlockSyntax, ZeroRunAdvancesPastEveryBandItEnds) {
  // A zero run from 2 to 18 (code 0 = 16) ends on band 2's start; one from
  // 18 to 42 (code 1 = 24) passes bands 2 and 3 and ends inside band 4.
  DecoderPtr d = Open(11025, 1, 1);
  std::vector<uint32_t> q(d->band_count);
  for (uint32_t b = 0; b < q.size(); b++) q[b] = 5 * b;
  std::vector<double> x(512, 0.0);
  BlockWriter w;
  BitWriterPut(&w.bits, 0, 2);
  w.Leading(0, 0, false);
  w.Leading(0, 0, false);
  w.Scales(q);
  w.RunHeader(0, 0);          // 2..17
  w.RunHeader(1, 0);          // 18..41
  w.RunHeader(-1, 4);         // 42..49: band 4 is [36, 46), band 5 [46, 58)
  for (uint32_t j = 42; j < 50; j++) {
    const int32_t v = int32_t(j % 2 ? j - 40 : 40 - j);
    w.Value(v, 4);
    x[j] = v * double(AudioBandScale(j < 46 ? 20 : 25));
  }
  w.ZerosToEnd(50, 512);
  const std::vector<int16_t> pcm = Decode(d.get(), w.Bytes());
  ExpectNear(pcm, ExpectedDct(x, d->output_scale), 512);
}

TEST(AudioBlockSyntax, StereoDctInterleavesAndStereoRdftIsOneSignal) {
  {
    DecoderPtr d = Open(22050, 2, 1);
    BlockWriter w;
    BitWriterPut(&w.bits, 0, 2);
    // X(0) = 2^22 * 2^-3 in both channels, negative in channel 1: beyond
    // the 16-bit range either way.
    for (int c = 0; c < 2; c++) {
      w.Leading(20, 1 << 22, c == 1);  // 2^22 * 2^-3 = 2^19
      w.Leading(0, 0, false);
      w.Scales(std::vector<uint32_t>(d->band_count, 0));
      w.ZerosToEnd(2, 1024);
    }
    const std::vector<int16_t> pcm = Decode(d.get(), w.Bytes());
    ASSERT_EQ(double(1 << 19) * d->output_scale, 32768.0);
    for (size_t i = 0; i < 200; i += 2) {
      ASSERT_EQ(pcm[i], 32767);
      ASSERT_EQ(pcm[i + 1], -32768);
    }
  }
  {
    // RDFT stereo: R(N/2) alone alternates sign sample by sample, which is
    // left against right in the interleaved signal.
    DecoderPtr d = Open(22050, 2, 0);
    ASSERT_EQ(d->transform_len, 2048u);
    BlockWriter w;
    w.Leading(0, 0, false);
    w.Leading(23, 2000, false);  // R(N/2) = 2000
    w.Scales(std::vector<uint32_t>(d->band_count, 0));
    w.ZerosToEnd(2, 2048);
    const std::vector<int16_t> pcm = Decode(d.get(), w.Bytes());
    const int16_t level = int16_t(std::lrint(1000.0 * d->output_scale));
    for (size_t i = 0; i < 100; i++) ASSERT_EQ(pcm[i], (i & 1) ? -level : level) << i;
  }
}

// ---- Leading values, clamping, hostile exponents --------------------------------------

TEST(AudioBlockSyntax, LeadingValuesAllExponentsAndClamping) {
  DecoderPtr d = Open(11025, 1, 1);  // N = 512, scale 2 / sqrt(512)
  for (uint32_t e = 0; e < 32; e++) {
    for (uint32_t m : {0u, 1u, 12345u, 0x7FFFFFu}) {
      for (bool negative : {false, true}) {
        const std::vector<int16_t> pcm = Decode(d.get(), ConstantBlock(d.get(), e, m, negative));
        const double value = std::ldexp(double(m), int(e) - 23) * (negative ? -1 : 1);
        const double want = std::clamp(std::nearbyint(value * d->output_scale), -32768.0, 32767.0);
        // Skip the cross-faded head: every block after the first fades in.
        ASSERT_NEAR(pcm[100], want, 1) << "e=" << e << " m=" << m;
        ASSERT_NEAR(pcm[479], want, 1) << "e=" << e << " m=" << m;
      }
    }
  }
}

// ---- Cross-fade -------------------------------------------------------------------------

TEST(AudioCrossFade, FirstBlockPlainLaterBlocksFadeWithFloorDivision) {
  DecoderPtr d = Open(22050, 2, 1);  // overlap: 256 bytes = 128 values
  const uint32_t n = 128;
  // X(0) = m * 2^0: output m / 16.
  const std::vector<int16_t> first = Decode(d.get(), ConstantBlock(d.get(), 23, 16 * 1000 + 8, true));
  const int16_t p = -1000;  // -1000.5 rounds to the even -1000
  for (size_t i = 0; i < first.size(); i++) ASSERT_EQ(first[i], p) << i;
  const std::vector<int16_t> second = Decode(d.get(), ConstantBlock(d.get(), 23, 16 * 777, false));
  const int16_t q = 777;
  for (uint32_t i = 0; i < n; i++) {
    const int32_t mixed = p * int32_t(n - i) + q * int32_t(i);
    const int32_t want = int32_t(std::floor(double(mixed) / n));
    ASSERT_EQ(second[i], want) << i;
  }
  for (size_t i = n; i < second.size(); i++) ASSERT_EQ(second[i], q) << i;
}

// ---- Hostile input ---------------------------------------------------------------------

TEST(AudioHostileInput, ShortInputReadsAsZerosAndNothingBeyond) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 40; trial++) {
    const uint32_t rate = trial % 3 == 0 ? 44100 : trial % 3 == 1 ? 22050 : 8000;
    const uint32_t channels = 1 + trial % 2;
    const int dct = (trial / 2) % 2;
    const size_t size = rng() % 700;
    // Exactly sized heap copy: the sanitizer build flags any read past it.
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = uint8_t(rng());
    std::vector<uint8_t> padded(bytes);
    padded.resize(size + 20000, 0);
    DecoderPtr a = Open(rate, channels, dct), b = Open(rate, channels, dct);
    const uint8_t* in_a = bytes.data();
    const uint8_t* in_b = padded.data();
    for (int block = 0; block < 3; block++) {
      const AudioBlockOutput out_a = AudioDecodeBlock(a.get(), in_a, bytes.data() + size);
      const AudioBlockOutput out_b = AudioDecodeBlock(b.get(), in_b, padded.data() + padded.size());
      ASSERT_EQ(out_a.bytes, out_b.bytes);
      ASSERT_EQ(0, std::memcmp(out_a.pcm, out_b.pcm, out_a.bytes)) << trial << " block " << block;
      ASSERT_LE(out_a.next, bytes.data() + size);
      ASSERT_EQ(out_a.next - bytes.data(), std::min<ptrdiff_t>(out_b.next - padded.data(), size));
      in_a = out_a.next;
      in_b = out_b.next;
    }
  }
}

TEST(AudioHostileInput, TablesBuiltOnceForManyBlocks) {
  DecoderPtr d = Open(44100, 2, 0);
  std::vector<uint8_t> noise(64 * 1024);
  std::mt19937 rng(9);
  for (auto& b : noise) b = uint8_t(rng());
  const uint8_t* in = noise.data();
  for (int i = 0; i < 10; i++) in = AudioDecodeBlock(d.get(), in, noise.data() + noise.size()).next;
  EXPECT_EQ(d->transform_work[1], 1u);
}

// ---- Whole packets -------------------------------------------------------------------

struct Collected {
  std::vector<int16_t> pcm;
  uint32_t calls = 0;
};

void Collect(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* c = static_cast<Collected*>(context);
  c->pcm.insert(c->pcm.end(), pcm, pcm + bytes / 2);
  c->calls++;
}

std::vector<uint8_t> Packet(uint32_t decoded_bytes, const std::vector<std::vector<uint8_t>>& blocks) {
  std::vector<uint8_t> out = {uint8_t(decoded_bytes), uint8_t(decoded_bytes >> 8), uint8_t(decoded_bytes >> 16),
                              uint8_t(decoded_bytes >> 24)};
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

TEST(AudioPacket, LastBlockCutToTheBytesOwedAndTheFadeGoesOn) {
  DecoderPtr d = Open(22050, 2, 1);  // 3840 bytes per block
  const std::vector<uint8_t> b1 = ConstantBlock(d.get(), 23, 16 * 100, false);
  const std::vector<uint8_t> b2 = ConstantBlock(d.get(), 23, 16 * 200, false);
  const std::vector<uint8_t> b3 = ConstantBlock(d.get(), 23, 16 * 300, false);
  Collected got;
  const std::vector<uint8_t> p1 = Packet(3840 + 1000, {b1, b2});
  EXPECT_EQ(AudioDecodePacket(d.get(), p1.data(), p1.data() + p1.size(), ~0u, Collect, &got), 4840u);
  ASSERT_EQ(got.pcm.size(), 2420u);
  EXPECT_EQ(got.pcm[0], 100);
  EXPECT_EQ(got.pcm[1920 + 127], (100 * 1 + 200 * 127) / 128);
  EXPECT_EQ(got.pcm[2419], 200);
  // The cut block's tail (200) fades into the next packet's first block.
  const std::vector<uint8_t> p2 = Packet(8, {b3});
  AudioDecodePacket(d.get(), p2.data(), p2.data() + p2.size(), ~0u, Collect, &got);
  ASSERT_EQ(got.pcm.size(), 2424u);
  EXPECT_EQ(got.pcm[2420], 200);
  EXPECT_EQ(got.pcm[2421], (200 * 127 + 300) / 128);
}

TEST(AudioPacket, SilenceShortcutEqualsDecodingEveryBlock) {
  // Random payloads owing more than they code: the packet helper stops
  // decoding once the input is used up; decoding every block must agree.
  std::mt19937 rng(11);
  for (int trial = 0; trial < 24; trial++) {
    const uint32_t rate = trial % 2 ? 22050 : 11025;
    const uint32_t channels = 1 + (trial / 2) % 2;
    const int dct = (trial / 4) % 2;
    std::vector<uint8_t> payload(4 + rng() % 3000);
    for (auto& b : payload) b = uint8_t(rng());
    const uint32_t wanted = 2 * (5000 + rng() % 40000) + (trial % 3 == 0);  // sometimes odd
    std::memcpy(payload.data(), &wanted, 4);
    DecoderPtr a = Open(rate, channels, dct), b = Open(rate, channels, dct);
    Collected fast;
    EXPECT_EQ(AudioDecodePacket(a.get(), payload.data(), payload.data() + payload.size(), ~0u, Collect, &fast), wanted);
    std::vector<int16_t> slow;
    const uint8_t* in = payload.data() + 4;
    for (uint32_t made = 0; made < wanted;) {
      const AudioBlockOutput out = AudioDecodeBlock(b.get(), in, payload.data() + payload.size());
      const uint32_t take = std::min(out.bytes, wanted - made);
      slow.insert(slow.end(), out.pcm, out.pcm + take / 2);
      made += take;
      in = out.next;
    }
    ASSERT_EQ(fast.pcm, slow) << "trial " << trial;
    // Both decoders must carry the same tail into the next packet.
    EXPECT_EQ(0, std::memcmp(a->prev_tail, b->prev_tail, a->overlap_bytes));
  }
}

TEST(AudioPacket, ExhaustedPacketFadesOutAndBoundsItsSilence) {
  DecoderPtr d = Open(22050, 2, 1);
  const std::vector<uint8_t> b1 = ConstantBlock(d.get(), 23, 16 * 100, false);
  const std::vector<uint8_t> p = Packet(0xFFFFFFF0u, {b1});
  Collected got;
  const uint32_t made = AudioDecodePacket(d.get(), p.data(), p.data() + p.size(), 65536, Collect, &got);
  // Block 1, then one zero block that fades 100 out, then the capped silence.
  EXPECT_EQ(made, 3840u * 2 + 65536);
  ASSERT_EQ(got.pcm.size(), made / 2);
  EXPECT_EQ(got.pcm[1919], 100);
  EXPECT_EQ(got.pcm[1920], 100);
  EXPECT_EQ(got.pcm[1921], (100 * 127) / 128);
  for (size_t i = 1920 + 128; i < got.pcm.size(); i++) ASSERT_EQ(got.pcm[i], 0) << i;
  // Short and empty payloads decode to nothing.
  const uint8_t three[3] = {1, 2, 3};
  EXPECT_EQ(AudioDecodePacket(d.get(), three, three + 3, ~0u, Collect, &got), 0u);
}

}  // namespace
