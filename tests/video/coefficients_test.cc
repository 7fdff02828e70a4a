// Coefficient and residue reading: hand-made bit strings, then the writer's
// output for random blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "video/coefficients.h"
#include "video/video_tables.h"
#include "writer/bit_writer.h"
#include "writer/coefficient_writer.h"

namespace {

struct Stream {
  std::vector<uint8_t> data;
  BitReader reader;
  explicit Stream(BitWriter* w) {
    BitWriterAppendBytes(w, &data);
    BitReaderInit(&reader, data.data(), static_cast<uint32_t>(data.size()));
  }
};

TEST(CoeffScan, IsAPermutationStartingAtTheDc) {
  bool seen[64] = {};
  for (int i = 0; i < 64; i++) seen[COEFF_SCAN[i]] = true;
  for (int i = 0; i < 64; i++) EXPECT_TRUE(seen[i]);
  EXPECT_EQ(COEFF_SCAN[0], 0);
  for (const auto& scan : RUN_SCANS) {
    bool hit[64] = {};
    for (int i = 0; i < 64; i++) hit[scan[i]] = true;
    EXPECT_EQ(std::count(hit, hit + 64, true), 64);
  }
}

TEST(DctCoefficients, NoPlanesStillReadsTheQuantiser) {
  BitWriter w;
  BitWriterPut(&w, 0, 4);
  BitWriterPut(&w, 11, 4);
  Stream s(&w);
  int16_t block[64];
  std::fill(block, block + 64, 99);
  EXPECT_EQ(ReadDctCoefficients(&s.reader, block), 11u);
  EXPECT_EQ(block[0], 99);  // the DC is the caller's
  for (int i = 1; i < 64; i++) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(BitReaderPosition(&s.reader), 8u);
}

TEST(DctCoefficients, SingleFirstCoefficientInTheLowestPlane) {
  BitWriter w;
  BitWriterPut(&w, 1, 4);        // one plane, b = 0
  BitWriterPut(&w, 0, 3);        // groups at 4, 24, 44: nothing
  BitWriterPut(&w, 1, 1);        // coefficient 1 has a value
  BitWriterPut(&w, 1, 1);        // sign: -1
  BitWriterPut(&w, 0, 2);        // coefficients 2, 3: nothing
  BitWriterPut(&w, 3, 4);        // q
  Stream s(&w);
  int16_t block[64] = {};
  EXPECT_EQ(ReadDctCoefficients(&s.reader, block), 3u);
  EXPECT_EQ(block[1], -1);
  EXPECT_EQ(BitReaderPosition(&s.reader), 15u);
}

TEST(DctCoefficients, ValueInPlaneThreeAndDeferredNeighbours) {
  // Coefficient 5 = 12: found in plane 3 through the group at 4, with 4, 6, 7
  // deferred (prepended) and re-asked, with everything else, in planes 2..0.
  BitWriter w;
  BitWriterPut(&w, 4, 4);
  BitWriterPut(&w, 1, 1);        // group 4..23 has something
  BitWriterPut(&w, 1, 1);        // 4: below
  BitWriterPut(&w, 0, 1);        // 5: value now
  BitWriterPut(&w, 4, 3);        // 12 - 8
  BitWriterPut(&w, 0, 1);        // positive
  BitWriterPut(&w, 3, 2);        // 6, 7: below
  BitWriterPut(&w, 0, 1);        // 8..23 (now a group of 16): nothing
  BitWriterPut(&w, 0, 5);        // 24, 44, 1, 2, 3
  BitWriterPut(&w, 0, 27);       // planes 2, 1, 0: nine entries each
  BitWriterPut(&w, 9, 4);
  Stream s(&w);
  int16_t block[64] = {};
  EXPECT_EQ(ReadDctCoefficients(&s.reader, block), 9u);
  EXPECT_EQ(block[COEFF_SCAN[5]], 12);
  EXPECT_EQ(std::count(block, block + 64, 0), 63);
  EXPECT_EQ(BitReaderPosition(&s.reader), 50u);
}

TEST(DctCoefficients, WriterRoundTripSparseAndFull) {
  std::mt19937 rng(5);
  for (int round = 0; round < 400; round++) {
    int16_t want[64] = {};
    int density = round % 4 == 0 ? 64 : 1 + rng() % 12;
    int top = 1 + rng() % 15;
    for (int i = 0; i < density; i++) {
      int32_t v = static_cast<int32_t>(rng() % (1u << top));
      if (round == 1) v = 32767;
      want[1 + rng() % 63] = static_cast<int16_t>(rng() % 2 ? -v : v);
    }
    BitWriter w;
    WriteDctCoefficients(&w, want, round % 16);
    uint64_t written = BitWriterBitCount(&w);
    BitWriterPut(&w, 0xFFFF, 16);  // trailing bits must not be read
    Stream s(&w);
    int16_t got[64];
    got[0] = 1234;
    EXPECT_EQ(ReadDctCoefficients(&s.reader, got), static_cast<uint32_t>(round % 16));
    EXPECT_EQ(got[0], 1234);
    for (int i = 1; i < 64; i++) ASSERT_EQ(got[i], want[i]) << "round " << round << " pos " << i;
    EXPECT_EQ(BitReaderPosition(&s.reader), written);
  }
}

TEST(Residue, CountZeroStopsAfterTheFirstOperation) {
  BitWriter w;
  BitWriterPut(&w, 1, 3);   // e = 1: masks 2, 1; first pass refines nothing
  BitWriterPut(&w, 0, 3);   // groups 4, 24, 44
  BitWriterPut(&w, 1, 1);   // group 0..3
  BitWriterPut(&w, 0, 1);   // 0: value now
  BitWriterPut(&w, 0, 1);   // +2: operation 1, the last
  BitWriterPut(&w, 0x7F, 7);
  Stream s(&w);
  int8_t block[64];
  ReadResidue(&s.reader, 0, block);
  EXPECT_EQ(block[0], 2);
  EXPECT_EQ(std::count(block, block + 64, 0), 63);
  EXPECT_EQ(BitReaderPosition(&s.reader), 9u);
}

TEST(Residue, RefinementFollowsSetOrderAndWrapsAtEightBits) {
  // e = 7: coefficient 0 set to -128 (mask 128 with sign), then refined by
  // 64 away from zero, which wraps to +64; then coefficient 3, the last one
  // deferred and so the first entry of the list, gets +64.
  BitWriter w;
  BitWriterPut(&w, 7, 3);
  BitWriterPut(&w, 0, 3);                            // mask 128: groups 4, 24, 44
  BitWriterPut(&w, 1, 1);                            // group 0..3
  BitWriterPut(&w, 0, 1); BitWriterPut(&w, 1, 1);    // 0: -128 (op 1)
  BitWriterPut(&w, 7, 3);                            // 1, 2, 3 below
  BitWriterPut(&w, 1, 1);                            // mask 64: refine 0 (op 2)
  BitWriterPut(&w, 1, 1);                            // entry for 3 has a value
  BitWriterPut(&w, 0, 1);                            // +64 (op 3)
  Stream s(&w);
  int8_t block[64];
  ReadResidue(&s.reader, 2, block);  // ends after operation 3
  EXPECT_EQ(block[0], 64);          // -128 - 64 wraps to 64
  EXPECT_EQ(block[COEFF_SCAN[3]], 64);
  EXPECT_EQ(BitReaderPosition(&s.reader), 3u + 3 + 1 + 2 + 3 + 1 + 1 + 1);
}

TEST(Residue, WriterRoundTripIncludingCutResidues) {
  std::mt19937 rng(9);
  for (int round = 0; round < 400; round++) {
    int8_t want[64] = {};
    int density = round % 5 == 0 ? 64 : rng() % 10;
    int top = 1 + rng() % 8;
    for (int i = 0; i < density; i++) {
      int32_t v = static_cast<int32_t>(rng() % (1u << top));
      want[rng() % 64] = static_cast<int8_t>(rng() % 2 ? -v : v);
    }
    if (round == 3) want[17] = -128;
    BitWriter w;
    int8_t rebuilt[64];
    WriteResidue(&w, want, rebuilt);
    uint64_t written = BitWriterBitCount(&w);
    BitWriterPut(&w, 0x5555, 16);
    Stream s(&w);
    uint32_t n = ReadBits(&s.reader, 7);
    int8_t got[64];
    ReadResidue(&s.reader, n, got);
    EXPECT_EQ(BitReaderPosition(&s.reader), written);
    for (int i = 0; i < 64; i++) ASSERT_EQ(got[i], rebuilt[i]) << "round " << round;
    if (density < 10) {  // few operations: nothing is cut
      for (int i = 0; i < 64; i++) ASSERT_EQ(rebuilt[i], want[i]) << "round " << round;
    }
  }
}

}  // namespace
