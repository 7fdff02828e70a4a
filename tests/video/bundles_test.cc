// Bundle count fields, buffer sizes, the six readers with their fill modes,
// and the refill rule; each reader also against its writer.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/bundles.h"
#include "writer/bit_writer.h"
#include "writer/bundle_writer.h"

namespace {

struct Fixture {
  std::vector<uint8_t> storage[BUNDLE_COUNT];
  uint8_t* buffers[BUNDLE_COUNT];
  BundleSet set;
  std::vector<uint8_t> data;
  BitReader reader;

  explicit Fixture(uint32_t w16 = 320, uint32_t w8 = 320, bool old_colours = false) {
    uint32_t sizes[BUNDLE_COUNT];
    BundleBuffersSize(w16, sizes);
    for (int b = 0; b < BUNDLE_COUNT; b++) {
      storage[b].assign(sizes[b], 0xEE);
      buffers[b] = storage[b].data();
    }
    BundleSetInit(&set, buffers, w16, w8, old_colours);
  }
  void Start(BitWriter* w) {
    data.clear();
    BitWriterAppendBytes(w, &data);
    BitReaderInit(&reader, data.data(), static_cast<uint32_t>(data.size()));
  }
  Bundle* B(int b) { return &set.bundles[b]; }
  std::vector<int> TakeAll(int b) {
    std::vector<int> out;
    Bundle* bundle = B(b);
    while (bundle->read < bundle->end)
      out.push_back(b == BUNDLE_INTRA_DC || b == BUNDLE_INTER_DC ? BundleTakeDc(bundle)
                    : b == BUNDLE_X_OFFSET || b == BUNDLE_Y_OFFSET ? BundleTakeSigned(bundle)
                                                                   : static_cast<int>(BundleTake(bundle)));
    return out;
  }
};

TEST(BundleSizes, CountFieldsFollowTheWidth) {
  EXPECT_EQ(BundleCountBits(BUNDLE_BLOCK_TYPES, 320), 10u);
  EXPECT_EQ(BundleCountBits(BUNDLE_SUB_BLOCK_TYPES, 320), 10u);
  EXPECT_EQ(BundleCountBits(BUNDLE_COLOURS, 320), 12u);
  EXPECT_EQ(BundleCountBits(BUNDLE_PATTERN, 320), 10u);
  EXPECT_EQ(BundleCountBits(BUNDLE_X_OFFSET, 320), 10u);
  EXPECT_EQ(BundleCountBits(BUNDLE_INTRA_DC, 320), 10u);
  EXPECT_EQ(BundleCountBits(BUNDLE_RUNS, 320), 12u);
  EXPECT_EQ(BundleCountBits(BUNDLE_BLOCK_TYPES, 8), 10u);  // 1 + 511 = 512
  EXPECT_EQ(BundleCountBits(BUNDLE_COLOURS, 4096), 15u);  // 32768 + 511 capped
}

TEST(BundleSizes, BuffersHoldARowAndMore) {
  uint32_t s[BUNDLE_COUNT];
  BundleBuffersSize(320, s);
  EXPECT_EQ(s[BUNDLE_BLOCK_TYPES], 552u);  // 40 + 515 = 555, down to 552
  EXPECT_EQ(s[BUNDLE_SUB_BLOCK_TYPES], 532u);
  EXPECT_EQ(s[BUNDLE_COLOURS], 64u * 40 + 512);
  EXPECT_EQ(s[BUNDLE_PATTERN], 320u + 512);
  EXPECT_EQ(s[BUNDLE_Y_OFFSET], 552u);
  EXPECT_EQ(s[BUNDLE_INTER_DC], 1104u);    // 80 + 1027 = 1107
  EXPECT_EQ(s[BUNDLE_RUNS], 48u * 40 + 512);
}

TEST(TypeReader, FillRunSymbolsAndRunBeforeAnyValue) {
  Fixture f;
  BitWriter w;
  BitWriterPut(&w, 5, 10);   // count
  BitWriterPut(&w, 1, 1);    // fill
  BitWriterPut(&w, 14, 4);   // raw 14, not through the tree
  f.Start(&w);
  BundleRefillTypes(f.B(BUNDLE_BLOCK_TYPES), &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_BLOCK_TYPES), std::vector<int>(5, 14));

  Fixture g;
  CodeTree t0 = CodeTreeIdentity(0);
  BitWriter v;
  BitWriterPut(&v, 12, 10);
  BitWriterPut(&v, 0, 1);
  WriteTreeValue(&v, t0, 12);  // 4 copies of the last value, 0 at the start
  WriteTreeValue(&v, t0, 7);
  WriteTreeValue(&v, t0, 13);  // 8 copies of 7 would pass the count: cut at 12
  g.Start(&v);
  BundleRefillTypes(g.B(BUNDLE_BLOCK_TYPES), &g.reader);
  std::vector<int> want = {0, 0, 0, 0, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(g.TakeAll(BUNDLE_BLOCK_TYPES), want);
  EXPECT_EQ(BitReaderPosition(&g.reader), 10u + 1 + 12);
}

TEST(ColourReader, OldFormatAndContexts) {
  Fixture f(320, 320, true);
  f.set.colour_high[0] = CodeTreeIdentity(0);
  for (int c = 0; c < 16; c++) f.set.colour_high[c] = CodeTreeIdentity(0);
  f.set.colour_high[8] = CodeTreeIdentity(1);  // context 8 uses table 1
  BitWriter w;
  BitWriterPut(&w, 3, 12);
  BitWriterPut(&w, 0, 1);
  BitWriterPut(&w, 8, 4); BitWriterPut(&w, 5, 4);                 // 0x85 -> 123
  WriteTreeValue(&w, CodeTreeIdentity(1), 0); BitWriterPut(&w, 5, 4);  // 0x05 -> 133
  BitWriterPut(&w, 8, 4); BitWriterPut(&w, 0, 4);                 // 0x80 -> 128
  f.Start(&w);
  BundleRefillColours(&f.set, &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_COLOURS), (std::vector<int>{123, 133, 128}));
  EXPECT_EQ(f.set.colour_context, 8u);
  EXPECT_FALSE(BitReaderOverrun(&f.reader));
}

TEST(ColourReader, FillDecodesOneColourAndMovesTheContextOnce) {
  Fixture f;
  for (int c = 0; c < 16; c++) f.set.colour_high[c] = CodeTreeIdentity(c == 3 ? 2 : 0);
  BitWriter w;
  BitWriterPut(&w, 40, 12);
  BitWriterPut(&w, 1, 1);
  BitWriterPut(&w, 3, 4);  // high nibble 3 from context 0 (table 0)
  BitWriterPut(&w, 9, 4);
  BitWriterPut(&w, 1, 12);  // next refill after the 40 are used
  BitWriterPut(&w, 0, 1);
  WriteTreeValue(&w, CodeTreeIdentity(2), 4);  // context 3 reads through table 2
  BitWriterPut(&w, 2, 4);
  f.Start(&w);
  BundleRefillColours(&f.set, &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_COLOURS), std::vector<int>(40, 0x39));
  BundleRefillColours(&f.set, &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_COLOURS), std::vector<int>{0x42});
}

TEST(PatternReader, LowNibbleFirstNoFillBit) {
  Fixture f;
  BitWriter w;
  BitWriterPut(&w, 2, 10);
  BitWriterPut(&w, 0x1, 4); BitWriterPut(&w, 0xA, 4);
  BitWriterPut(&w, 0xF, 4); BitWriterPut(&w, 0x0, 4);
  f.Start(&w);
  BundleRefillPattern(f.B(BUNDLE_PATTERN), &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_PATTERN), (std::vector<int>{0xA1, 0x0F}));
  EXPECT_EQ(BitReaderPosition(&f.reader), 26u);
}

TEST(OffsetReader, FillAndSigns) {
  Fixture f;
  BitWriter w;
  BitWriterPut(&w, 3, 10); BitWriterPut(&w, 1, 1); BitWriterPut(&w, 6, 4); BitWriterPut(&w, 1, 1);
  f.Start(&w);
  BundleRefillOffsets(f.B(BUNDLE_X_OFFSET), &f.reader);
  EXPECT_EQ(f.TakeAll(BUNDLE_X_OFFSET), std::vector<int>(3, -6));
  Fixture g;
  BitWriter v;
  BitWriterPut(&v, 3, 10); BitWriterPut(&v, 0, 1);
  BitWriterPut(&v, 0, 4);                          // 0: no sign bit
  BitWriterPut(&v, 15, 4); BitWriterPut(&v, 1, 1); // -15
  BitWriterPut(&v, 2, 4); BitWriterPut(&v, 0, 1);  // +2
  g.Start(&v);
  BundleRefillOffsets(g.B(BUNDLE_Y_OFFSET), &g.reader);
  EXPECT_EQ(g.TakeAll(BUNDLE_Y_OFFSET), (std::vector<int>{0, -15, 2}));
  EXPECT_EQ(BitReaderPosition(&g.reader), 10u + 1 + 4 + 5 + 5);
}

TEST(DcReader, GroupsOfEightAndSignedStart) {
  Fixture f;
  BitWriter w;
  BitWriterPut(&w, 10, 10);
  BitWriterPut(&w, 2000, 11);  // intra start, unsigned
  BitWriterPut(&w, 0, 4);      // L = 0: eight repeats
  BitWriterPut(&w, 3, 4);      // L = 3 for the last value
  BitWriterPut(&w, 5, 3); BitWriterPut(&w, 1, 1);
  f.Start(&w);
  BundleRefillDc(f.B(BUNDLE_INTRA_DC), &f.reader, false);
  std::vector<int> want(9, 2000);
  want.push_back(1995);
  EXPECT_EQ(f.TakeAll(BUNDLE_INTRA_DC), want);

  Fixture g;
  BitWriter v;
  BitWriterPut(&v, 2, 10);
  BitWriterPut(&v, 0, 10);     // inter start 0: no sign bit
  BitWriterPut(&v, 15, 4);
  BitWriterPut(&v, 0x7FFF, 15); BitWriterPut(&v, 1, 1);  // -32767
  g.Start(&v);
  BundleRefillDc(g.B(BUNDLE_INTER_DC), &g.reader, true);
  EXPECT_EQ(g.TakeAll(BUNDLE_INTER_DC), (std::vector<int>{0, -32767}));
  EXPECT_EQ(BitReaderPosition(&g.reader), 10u + 10 + 4 + 16);
}

TEST(DcReader, SumsWrapAtSixteenBits) {
  Fixture f;
  BitWriter w;
  BitWriterPut(&w, 3, 10);
  BitWriterPut(&w, 1000, 10); BitWriterPut(&w, 0, 1);
  BitWriterPut(&w, 15, 4);
  BitWriterPut(&w, 32767, 15); BitWriterPut(&w, 0, 1);
  BitWriterPut(&w, 32767, 15); BitWriterPut(&w, 0, 1);
  f.Start(&w);
  BundleRefillDc(f.B(BUNDLE_INTER_DC), &f.reader, true);
  EXPECT_EQ(f.TakeAll(BUNDLE_INTER_DC), (std::vector<int>{1000, -31769, 998}));
}

TEST(Refill, LeftoversCarryOverAndCountZeroEnds) {
  Fixture f(320, 16);  // runs of a 16-wide plane: 96 + 511 -> 10-bit counts
  Bundle* runs = f.B(BUNDLE_RUNS);
  uint32_t bits = runs->count_bits;
  EXPECT_EQ(bits, 10u);
  BitWriter w;
  BitWriterPut(&w, 3, bits); BitWriterPut(&w, 1, 1); BitWriterPut(&w, 9, 4);
  BitWriterPut(&w, 0, bits);  // ends the bundle
  BitWriterPut(&w, 0x3FF, 10);  // must never be read as a count
  f.Start(&w);
  BundleRefillRuns(runs, &f.reader);
  EXPECT_EQ(BundleTake(runs), 9u);
  uint32_t pos = BitReaderPosition(&f.reader);
  BundleRefillRuns(runs, &f.reader);  // two values left: nothing read
  EXPECT_EQ(BitReaderPosition(&f.reader), pos);
  EXPECT_EQ(BundleTake(runs), 9u);
  EXPECT_EQ(BundleTake(runs), 9u);
  BundleRefillRuns(runs, &f.reader);
  EXPECT_EQ(BitReaderPosition(&f.reader), pos + bits);
  EXPECT_TRUE(runs->ended);
  BundleRefillRuns(runs, &f.reader);
  EXPECT_EQ(BitReaderPosition(&f.reader), pos + bits);
  EXPECT_EQ(f.set.fault, 0u);
  EXPECT_EQ(BundleTake(runs), 0u);  // taking from an ended bundle is a fault
  EXPECT_EQ(f.set.fault, 1u);
}

TEST(Refill, CountBeyondTheBufferIsAFault) {
  Fixture f(16, 16);  // buffers sized for a 16-wide luma: 2 + 515 -> 516 types
  BitWriter w;
  BitWriterPut(&w, 517, BundleCountBits(BUNDLE_BLOCK_TYPES, 16));
  BitWriterPut(&w, 1, 1);
  BitWriterPut(&w, 3, 4);
  f.Start(&w);
  BundleRefillTypes(f.B(BUNDLE_BLOCK_TYPES), &f.reader);
  EXPECT_EQ(f.set.fault, 1u);
  EXPECT_EQ(f.B(BUNDLE_BLOCK_TYPES)->end, 0u);
}

// Every reader against its writer, in every mode, with chosen trees.
TEST(BundleWriters, RoundTripEveryKindAndMode) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; round++) {
    uint32_t counts[16] = {};
    for (int i = 0; i < 16; i++) counts[i] = rng() % 50;
    CodeTree tree = CodeTreeForHistogram(counts);
    uint32_t n = 1 + rng() % 300;
    BundleMode mode = round % 3 == 0 ? BUNDLE_MODE_PLAIN : BUNDLE_MODE_AUTO;
    bool uniform = round % 5 == 0;
    std::vector<uint8_t> types(n), colours(n), pattern(n), runs(n);
    std::vector<int8_t> offsets(n);
    std::vector<int16_t> dc(n);
    for (uint32_t i = 0; i < n; i++) {
      types[i] = uniform ? 3 : (rng() % 3 ? types[i ? i - 1 : 0] : rng() % 12);
      colours[i] = uniform ? 77 : static_cast<uint8_t>(rng());
      pattern[i] = static_cast<uint8_t>(rng());
      runs[i] = uniform ? 15 : rng() % 16;
      offsets[i] = uniform ? -9 : static_cast<int8_t>(static_cast<int>(rng() % 31) - 15);
      dc[i] = i == 0 ? rng() % 2048 : static_cast<int16_t>(dc[i - 1] + static_cast<int>(rng() % 201) - 100);
    }
    Fixture f(1024, 1024, round % 2);
    for (int c = 0; c < 16; c++) f.set.colour_high[c] = CodeTreeIdentity(c % 16);
    for (int b = 0; b < BUNDLE_COUNT; b++) f.set.bundles[b].tree = tree;
    ColourCoder coder;
    for (int c = 0; c < 16; c++) coder.high[c] = f.set.colour_high[c];
    coder.low = tree;
    coder.old_colours = round % 2;
    BitWriter w;
    auto count = [&](int b) { WriteBundleCount(&w, f.B(b)->count_bits, n); };
    count(BUNDLE_BLOCK_TYPES);
    ASSERT_TRUE(WriteTypeBundle(&w, tree, types.data(), n, mode));
    count(BUNDLE_COLOURS);
    ASSERT_TRUE(WriteColourBundle(&w, &coder, colours.data(), n, mode));
    count(BUNDLE_PATTERN);
    WritePatternBundle(&w, tree, pattern.data(), n);
    count(BUNDLE_X_OFFSET);
    ASSERT_TRUE(WriteOffsetBundle(&w, tree, offsets.data(), n, mode));
    count(BUNDLE_INTRA_DC);
    ASSERT_TRUE(WriteDcBundle(&w, dc.data(), n, false));
    count(BUNDLE_RUNS);
    ASSERT_TRUE(WriteRunBundle(&w, tree, runs.data(), n, mode));
    uint64_t written = BitWriterBitCount(&w);
    f.Start(&w);
    BundleRefillTypes(f.B(BUNDLE_BLOCK_TYPES), &f.reader);
    BundleRefillColours(&f.set, &f.reader);
    BundleRefillPattern(f.B(BUNDLE_PATTERN), &f.reader);
    BundleRefillOffsets(f.B(BUNDLE_X_OFFSET), &f.reader);
    BundleRefillDc(f.B(BUNDLE_INTRA_DC), &f.reader, false);
    BundleRefillRuns(f.B(BUNDLE_RUNS), &f.reader);
    EXPECT_EQ(f.TakeAll(BUNDLE_BLOCK_TYPES), std::vector<int>(types.begin(), types.end()));
    std::vector<int> want_colours;
    for (uint8_t c : colours) want_colours.push_back(round % 2 && c == 0 ? 1 : c);
    EXPECT_EQ(f.TakeAll(BUNDLE_COLOURS), want_colours);
    EXPECT_EQ(f.TakeAll(BUNDLE_PATTERN), std::vector<int>(pattern.begin(), pattern.end()));
    EXPECT_EQ(f.TakeAll(BUNDLE_X_OFFSET), std::vector<int>(offsets.begin(), offsets.end()));
    EXPECT_EQ(f.TakeAll(BUNDLE_INTRA_DC), std::vector<int>(dc.begin(), dc.end()));
    EXPECT_EQ(f.TakeAll(BUNDLE_RUNS), std::vector<int>(runs.begin(), runs.end()));
    EXPECT_EQ(BitReaderPosition(&f.reader), written);
    EXPECT_FALSE(BitReaderOverrun(&f.reader));
  }
}

}  // namespace
