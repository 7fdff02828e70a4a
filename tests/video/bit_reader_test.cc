// Bit reader, prefix codes and code-tree headers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/bit_reader.h"
#include "video/bundles.h"
#include "writer/bit_writer.h"
#include "writer/bundle_writer.h"

namespace {

std::vector<uint8_t> Bytes(BitWriter* w) {
  std::vector<uint8_t> out;
  BitWriterAppendBytes(w, &out);
  return out;
}

TEST(BitReader, ReadsLeastSignificantBitFirstAcrossWords) {
  const uint8_t data[8] = {0xB4, 0x00, 0x00, 0x80, 0x03, 0, 0, 0};
  BitReader r;
  BitReaderInit(&r, data, sizeof(data));
  EXPECT_EQ(ReadBits(&r, 2), 0u);       // 0xB4 = 1011 0100: low bits 00
  EXPECT_EQ(ReadBits(&r, 3), 5u);       // 101
  EXPECT_EQ(ReadBit(&r), 1u);
  EXPECT_EQ(BitReaderWordsEnd(&r), 4u);
  EXPECT_EQ(ReadBits(&r, 25), 2u);      // bits 6..30: only bit 7 is set
  EXPECT_EQ(ReadBits(&r, 4), 7u);       // bit 31 = 1, then 1, 1, 0 of the next word
  EXPECT_EQ(BitReaderWordsEnd(&r), 8u);
  EXPECT_FALSE(BitReaderOverrun(&r));
}

TEST(BitReader, PastTheEndReadsZerosAndFlags) {
  const uint8_t data[3] = {0xFF, 0xFF, 0xFF};
  BitReader r;
  BitReaderInit(&r, data, sizeof(data));
  EXPECT_EQ(ReadBits(&r, 20), 0xFFFFFu);
  EXPECT_EQ(BitReaderPeek(&r, 8), 0x0Fu);  // 4 real bits, then zeros
  EXPECT_FALSE(BitReaderOverrun(&r));
  EXPECT_EQ(ReadBits(&r, 8), 0x0Fu);
  EXPECT_TRUE(BitReaderOverrun(&r));
  EXPECT_EQ(ReadBits(&r, 15), 0u);
  EXPECT_EQ(BitReaderPosition(&r), 43u);  // the zero bits past the end count too
  EXPECT_EQ(BitReaderWordsEnd(&r), 8u);
}

TEST(BitReader, MatchesTheWriterOnRandomFields) {
  std::mt19937 rng(7);
  BitWriter w;
  std::vector<std::pair<uint32_t, uint32_t>> fields;
  for (int i = 0; i < 2000; i++) {
    uint32_t n = 1 + rng() % 15;
    uint32_t v = rng() & ((1u << n) - 1);
    fields.push_back({v, n});
    BitWriterPut(&w, v, n);
  }
  std::vector<uint8_t> data = Bytes(&w);
  BitReader r;
  BitReaderInit(&r, data.data(), static_cast<uint32_t>(data.size()));
  for (auto [v, n] : fields) ASSERT_EQ(ReadBits(&r, n), v);
  EXPECT_FALSE(BitReaderOverrun(&r));
}

TEST(PrefixCodes, EveryCodeDecodesToItsPositionThroughTheLookup) {
  for (uint32_t t = 0; t < 16; t++) {
    CodeTree tree = CodeTreeIdentity(t);
    BitWriter w;
    for (uint32_t p = 0; p < 16; p++) WriteTreeValue(&w, tree, p);
    BitWriterPut(&w, 0x5A5A, 16);  // the look-ahead sees unrelated bits after the last code
    std::vector<uint8_t> data = Bytes(&w);
    BitReader r;
    BitReaderInit(&r, data.data(), static_cast<uint32_t>(data.size()));
    uint32_t bits = 0;
    for (uint32_t p = 0; p < 16; p++) {
      EXPECT_EQ(DecodeValue(&r, &tree), p) << "table " << t;
      bits += PREFIX_CODES[t][p].length;
      EXPECT_EQ(BitReaderPosition(&r), bits);
    }
  }
}

TEST(PrefixCodes, TableZeroIsFourRawBitsAndTableOneStartsWithOneBit) {
  const uint8_t data[4] = {0x0B, 0, 0, 0};
  BitReader r;
  BitReaderInit(&r, data, 4);
  CodeTree t0 = CodeTreeIdentity(0);
  EXPECT_EQ(DecodeValue(&r, &t0), 11u);
  BitReaderInit(&r, data, 4);
  CodeTree t1 = CodeTreeIdentity(1);
  // Reading order 1,1,0,1,0: table 1's code 11010, position 6.
  EXPECT_EQ(DecodeValue(&r, &t1), 6u);
  EXPECT_EQ(BitReaderPosition(&r), 5u);
}

TEST(CodeTreeHeader, TableZeroReadsNothingFurther) {
  BitWriter w;
  BitWriterPut(&w, 0, 4);
  BitWriterPut(&w, 0x3F, 6);
  std::vector<uint8_t> data = Bytes(&w);
  BitReader r;
  BitReaderInit(&r, data.data(), 4);
  CodeTree tree = ReadCodeTree(&r);
  EXPECT_EQ(tree.table, 0);
  EXPECT_EQ(BitReaderPosition(&r), 4u);
  for (int i = 0; i < 16; i++) EXPECT_EQ(tree.symbols[i], i);
}

TEST(CodeTreeHeader, ExplicitListPutsTheRestInIncreasingOrder) {
  BitWriter w;
  const uint8_t one[1] = {9};
  WriteCodeTreeExplicit(&w, 5, one, 1);
  const uint8_t three[3] = {15, 0, 7};
  WriteCodeTreeExplicit(&w, 3, three, 3);
  std::vector<uint8_t> data = Bytes(&w);
  BitReader r;
  BitReaderInit(&r, data.data(), static_cast<uint32_t>(data.size()));
  CodeTree a = ReadCodeTree(&r);
  EXPECT_EQ(a.table, 5);
  const uint8_t want_a[16] = {9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15};
  EXPECT_EQ(0, std::memcmp(a.symbols, want_a, 16));
  EXPECT_EQ(BitReaderPosition(&r), 4u + 1 + 3 + 4);
  CodeTree b = ReadCodeTree(&r);
  const uint8_t want_b[16] = {15, 0, 7, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14};
  EXPECT_EQ(0, std::memcmp(b.symbols, want_b, 16));
}

TEST(CodeTreeHeader, RepeatedListValueStillGivesAPermutation) {
  BitWriter w;
  const uint8_t list[3] = {4, 4, 2};
  WriteCodeTreeExplicit(&w, 2, list, 3);
  std::vector<uint8_t> data = Bytes(&w);
  BitReader r;
  BitReaderInit(&r, data.data(), static_cast<uint32_t>(data.size()));
  CodeTree tree = ReadCodeTree(&r);
  bool seen[16] = {};
  for (int i = 0; i < 16; i++) seen[tree.symbols[i]] = true;
  for (int i = 0; i < 16; i++) EXPECT_TRUE(seen[i]);
  EXPECT_EQ(tree.symbols[0], 4);
  EXPECT_EQ(tree.symbols[1], 2);
}

TEST(CodeTreeHeader, MergedOrderByHand) {
  // One pass (d = 0): eight pairs, one bit each; 1 takes the second value first.
  BitWriter w;
  BitWriterPut(&w, 7, 4);
  BitWriterPut(&w, 0, 1);
  BitWriterPut(&w, 0, 2);
  BitWriterPut(&w, 0x81, 8);  // pairs 0 and 7 swapped
  std::vector<uint8_t> data = Bytes(&w);
  BitReader r;
  BitReaderInit(&r, data.data(), 4);
  CodeTree tree = ReadCodeTree(&r);
  const uint8_t want[16] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 14};
  EXPECT_EQ(tree.table, 7);
  EXPECT_EQ(0, std::memcmp(tree.symbols, want, 16));
  EXPECT_EQ(BitReaderPosition(&r), 15u);
}

TEST(CodeTreeHeader, FullMergeReachesAnyPermutationWithinBounds) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; round++) {
    CodeTree want = CodeTreeIdentity(1 + rng() % 15);
    std::shuffle(want.symbols, want.symbols + 16, rng);
    BitWriter w;
    ASSERT_TRUE(WriteCodeTreeMerged(&w, want.table, 4, want.symbols));
    uint64_t bits = BitWriterBitCount(&w);
    EXPECT_GE(bits, 7u + 32);
    EXPECT_LE(bits, 7u + 49);
    BitWriter any;
    ASSERT_TRUE(WriteCodeTree(&any, want));
    for (BitWriter* src : {&w, &any}) {
      std::vector<uint8_t> data = Bytes(src);
      BitReader r;
      BitReaderInit(&r, data.data(), static_cast<uint32_t>(data.size()));
      CodeTree got = ReadCodeTree(&r);
      EXPECT_EQ(got.table, want.table);
      EXPECT_EQ(0, std::memcmp(got.symbols, want.symbols, 16));
    }
  }
}

TEST(CodeTreeHeader, FewerPassesRefuseWhatTheyCannotReach) {
  uint8_t reversed[16];
  for (int i = 0; i < 16; i++) reversed[i] = static_cast<uint8_t>(15 - i);
  BitWriter w;
  EXPECT_FALSE(WriteCodeTreeMerged(&w, 3, 1, reversed));
  EXPECT_EQ(BitWriterBitCount(&w), 0u);
}

}  // namespace
