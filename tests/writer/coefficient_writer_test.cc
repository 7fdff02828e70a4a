// WriteDctCoefficients works out the bit-plane walk's bits from the
// magnitudes instead of walking the list bit by bit, so every block is
// checked three ways: against a plain writer driving the shared walk (the
// same bits, in the same order), through the decoder's reader (the same
// coefficients and quantiser, ending where the writer ended), and against
// DctCoefficientBits, which the block decisions price quantisers with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "video/bit_reader.h"
#include "video/coefficients.h"
#include "video/video_tables.h"
#include "writer/bit_writer.h"
#include "writer/coefficient_writer.h"
#include "writer/walk_coefficient_writer.h"

namespace {

using Block = std::vector<int16_t>;

// What a test block may hold: its magnitudes as stored, after the clamp.
int16_t Clamped(int16_t c) { return c == -32768 ? -32767 : c; }

void CheckBlock(const Block& coeffs, uint32_t q, const std::string& what) {
  SCOPED_TRACE(what);
  BitWriter written, walked;
  WriteDctCoefficients(&written, coeffs.data(), q);
  WriteThroughWalk(&walked, coeffs.data(), q);
  uint64_t length = BitWriterBitCount(&written);
  ASSERT_EQ(length, BitWriterBitCount(&walked));
  EXPECT_EQ(DctCoefficientBits(coeffs.data()), length);
  BitWriterPut(&written, 0xFFFF, 16);  // trailing bits must not be read
  BitWriterPut(&walked, 0xFFFF, 16);
  std::vector<uint8_t> bytes, expected;
  BitWriterAppendBytes(&written, &bytes);
  BitWriterAppendBytes(&walked, &expected);
  ASSERT_EQ(bytes, expected);

  BitReader reader;
  BitReaderInit(&reader, bytes.data(), static_cast<uint32_t>(bytes.size()));
  int16_t read[64];
  read[0] = 1234;
  EXPECT_EQ(ReadDctCoefficients(&reader, read), q);
  EXPECT_EQ(BitReaderPosition(&reader), length);
  EXPECT_EQ(read[0], 1234);  // the DC is the caller's
  for (int i = 1; i < 64; i++) ASSERT_EQ(read[i], Clamped(coeffs[i])) << "position " << i;
}

// A random block: each AC coefficient non-zero with the given chance, of a
// length drawn up to `planes` (and at least one of exactly that length, so
// every plane count is written), magnitudes uniform within their length.
Block RandomBlock(std::mt19937& random, int nonzero_percent, uint32_t planes) {
  Block coeffs(64, 0);
  coeffs[0] = static_cast<int16_t>(random() % 2048);  // ignored by both
  auto draw = [&](uint32_t length) {
    uint32_t top = 1u << (length - 1);
    int32_t magnitude = static_cast<int32_t>(top + random() % top);
    return static_cast<int16_t>(random() % 2 ? -magnitude : magnitude);
  };
  for (int k = 1; k < 64; k++)
    if (static_cast<int>(random() % 100) < nonzero_percent && planes)
      coeffs[k] = draw(1 + random() % planes);
  if (planes) coeffs[1 + random() % 63] = draw(planes);
  return coeffs;
}

struct BlockShape {
  const char* name;
  int nonzero_percent;
};

class DctCoefficientWriterTest : public testing::TestWithParam<BlockShape> {};

TEST_P(DctCoefficientWriterTest, WritesTheWalksBitsForEveryPlaneCount) {
  const BlockShape& shape = GetParam();
  std::mt19937 random(7);
  for (uint32_t planes = 0; planes <= 15; planes++)
    for (int round = 0; round < 150; round++)
      CheckBlock(RandomBlock(random, shape.nonzero_percent, planes), random() % 16,
                 "planes " + std::to_string(planes) + " round " + std::to_string(round));
}

INSTANTIATE_TEST_SUITE_P(Densities, DctCoefficientWriterTest,
                         testing::Values(BlockShape{"one", 0}, BlockShape{"sparse", 5},
                                         BlockShape{"quarter", 25}, BlockShape{"half", 50},
                                         BlockShape{"most", 90}, BlockShape{"dense", 100}),
                         [](const testing::TestParamInfo<BlockShape>& info) {
                           return std::string(info.param.name);
                         });

// Blocks that put each part of the walk at its edges: every coefficient
// alone at every length, each group of four full or empty beside its
// neighbours, whole blocks of one magnitude, the largest values and the
// one that is clamped.
TEST(DctCoefficientWriter, WritesStructuredBlocks) {
  for (int k = 1; k < 64; k++)
    for (uint32_t length = 1; length <= 15; length++) {
      Block coeffs(64, 0);
      // The largest and the smallest magnitude of the length.
      int16_t magnitude = static_cast<int16_t>(k % 3 ? (1u << length) - 1 : 1u << (length - 1));
      coeffs[COEFF_SCAN[k]] = static_cast<int16_t>(k % 2 ? -magnitude : magnitude);
      CheckBlock(coeffs, 5, "alone at " + std::to_string(k) + " length " + std::to_string(length));
    }
  for (int group = 0; group < 16; group++)
    for (int16_t magnitude : {1, 2, 3, 100, 32767}) {
      Block coeffs(64, 0);
      for (int j = std::max(1, 4 * group); j < 4 * group + 4; j++)
        coeffs[COEFF_SCAN[j]] = static_cast<int16_t>(j % 2 ? magnitude : -magnitude);
      coeffs[COEFF_SCAN[63 - group]] = 1;  // a lone small one elsewhere
      CheckBlock(coeffs, 9, "group " + std::to_string(group) + " of " + std::to_string(magnitude));
    }
  for (int16_t magnitude : {1, 7, 8, 255, 32767, -32768}) {
    Block coeffs(64, magnitude);
    CheckBlock(coeffs, 15, "all " + std::to_string(magnitude));
    for (int k = 1; k < 64; k += 2) coeffs[k] = Clamped(coeffs[k]) * -1;
    CheckBlock(coeffs, 0, "alternating " + std::to_string(magnitude));
  }
  Block falling(64, 0);  // long magnitudes first, short ones last, as quantised blocks
  for (int k = 1; k < 64; k++) falling[COEFF_SCAN[k]] = static_cast<int16_t>(32767 >> (k / 4));
  CheckBlock(falling, 3, "falling");
  Block rising(64, 0);
  for (int k = 1; k < 64; k++) rising[COEFF_SCAN[k]] = static_cast<int16_t>(32767 >> ((63 - k) / 4));
  CheckBlock(rising, 3, "rising");
}

// The block decisions price with a counting writer: it must add up the
// same bits without building any.
TEST(DctCoefficientWriter, CountingWriterAddsTheBitsOnly) {
  std::mt19937 random(3);
  BitWriter counter, writer;
  counter.counting = true;
  for (int round = 0; round < 200; round++) {
    Block coeffs = RandomBlock(random, 40, random() % 16);
    WriteDctCoefficients(&counter, coeffs.data(), 1);
    WriteDctCoefficients(&writer, coeffs.data(), 1);
  }
  EXPECT_EQ(BitWriterBitCount(&counter), BitWriterBitCount(&writer));
  EXPECT_TRUE(counter.words.empty());
}

}  // namespace
