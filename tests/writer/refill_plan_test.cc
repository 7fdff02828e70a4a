// The refill planner prices every stretch of block rows from one parse per
// starting row: its type symbol counts and fill tests must be exactly those
// of each stretch parsed alone, above all where a stretch ends inside a
// long repeat.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/video_tables.h"
#include "writer/encode_refills.h"
#include "writer/encode_trees.h"
#include "writer/plane_syntax.h"
#include "writer/writer_test_util.h"

namespace {

struct Runs {
  const char* name;
  int kinds;        // distinct values
  int longest_run;  // runs of 1..longest_run equal values
};

class RefillStretchesTest : public testing::TestWithParam<Runs> {};

TEST_P(RefillStretchesTest, EveryStretchCountsAsParsedAlone) {
  const Runs& shape = GetParam();
  std::mt19937 random(3);
  for (int round = 0; round < 200; round++) {
    std::vector<int32_t> values;
    size_t size = 1 + random() % 400;
    while (values.size() < size) {
      int32_t v = static_cast<int32_t>(random() % shape.kinds);
      values.insert(values.end(), 1 + random() % shape.longest_run, v);
    }
    values.resize(size);
    RefillStretches stretches, joining;  // the second joins the parse of all values
    stretches.Prepare(values);
    joining.Prepare(values);
    joining.PrepareTypeParse();
    size_t start = random() % size;
    std::vector<size_t> ends;
    for (size_t end = start + 1; end <= size; end += 1 + random() % 9) ends.push_back(end);
    std::vector<size_t> symbols(ends.size()), joined(ends.size());
    stretches.TypeSymbolsTo(start, ends.data(), ends.size(), symbols.data());
    joining.TypeSymbolsTo(start, ends.data(), ends.size(), joined.data());
    for (size_t e = 0; e < ends.size(); e++) {
      size_t count = ends[e] - start;
      ASSERT_EQ(symbols[e], TypeSymbolCount(values.data() + start, count))
          << "round " << round << " stretch " << start << ".." << ends[e];
      ASSERT_EQ(joined[e], symbols[e]) << "round " << round << " stretch " << start << ".." << ends[e];
      bool equal = true;
      for (size_t i = start; i < ends[e]; i++) equal = equal && values[i] == values[start];
      ASSERT_EQ(stretches.AllEqual(start, ends[e]), equal);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RefillStretchesTest,
                         testing::Values(Runs{"varied", 10, 2}, Runs{"short_runs", 3, 6},
                                         Runs{"long_runs", 3, 80}, Runs{"one_value", 1, 50}),
                         [](const auto& info) { return std::string(info.param.name); });

// The repeat symbols: 4, 8, 12 and 32 of the last value (0 at first).
TEST(TypeSymbolCount, RepeatsShortenRuns) {
  std::vector<int32_t> zeros(45, 0);  // 32 + 12 repeats + one single
  EXPECT_EQ(TypeSymbolCount(zeros.data(), zeros.size()), 3u);
  std::vector<int32_t> sevens(9, 7);  // the 7, then 8 repeats
  EXPECT_EQ(TypeSymbolCount(sevens.data(), sevens.size()), 2u);
}

// A 32x32 grey frame: fills on the first block row only, DC-only intra
// blocks below. The colour bundle is used up after the first row; the
// planned writer gives its refill one value more instead of ending it.
PlaneSyntax FillsThenIntra() {
  PlaneSyntax plane;
  PlaneSyntaxInit(&plane, 32, 32, false);
  const int16_t no_coefficients[64] = {};
  for (uint32_t by = 0; by < 4; by++)
    for (uint32_t bx = 0; bx < 4; bx++) {
      PlaneRowSyntax* row = &plane.rows[by];
      if (by == 0) {
        PutBlockType(row, BT_FILL);
        PutFillContent(row, static_cast<uint8_t>(40 + 50 * bx));
      } else {
        PutBlockType(row, BT_INTRA);
        PutIntraContent(row, static_cast<int16_t>(600 + 100 * by + 10 * bx), no_coefficients, 0);
      }
    }
  PlaneSyntaxChooseTrees(&plane);
  return plane;
}

std::vector<uint8_t> DecodeGreyFrame(const std::vector<uint8_t>& luma) {
  VideoEncoderOptions options;
  options.width = options.height = 32;
  options.grey = true;
  DecoderHarness harness;
  HarnessInit(&harness, options);
  HarnessDecode(&harness, AssembleVideoFrame(luma, nullptr, nullptr, nullptr, true), true);
  const uint8_t* picture = HarnessFrame(harness);
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < 32; y++) {
    const uint8_t* line = picture + size_t{y} * harness.pitch;
    out.insert(out.end(), line, line + 32);
  }
  return out;
}

TEST(PlannedPlane, BundleUsedUpEarlyDecodesAsWrittenRowByRow) {
  PlaneSyntax plane = FillsThenIntra();
  std::vector<uint8_t> plain, planned;
  ASSERT_TRUE(WritePlaneBytes(plane, &plain));
  RefillPlan plan;
  PlanRefills(plane, PlaneCostModel{}, &plan);
  ASSERT_TRUE(WritePlanePlanned(plane, plan, &planned));
  std::vector<uint8_t> expected = DecodeGreyFrame(plain);
  EXPECT_EQ(expected[0], 40);
  EXPECT_EQ(expected[31], 190);
  EXPECT_EQ(DecodeGreyFrame(planned), expected);
  EXPECT_LE(planned.size(), plain.size());
}

}  // namespace
