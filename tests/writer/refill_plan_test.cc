// The refill planner prices every stretch of block rows from one parse per
// starting row: its type symbol counts and fill tests must be exactly those
// of each stretch parsed alone, above all where a stretch ends inside a
// long repeat.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "writer/encode_refills.h"

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
    RefillStretches stretches;
    stretches.Prepare(values);
    size_t start = random() % size;
    std::vector<size_t> ends;
    for (size_t end = start + 1; end <= size; end += 1 + random() % 9) ends.push_back(end);
    std::vector<size_t> symbols(ends.size());
    stretches.TypeSymbolsTo(start, ends.data(), ends.size(), symbols.data());
    for (size_t e = 0; e < ends.size(); e++) {
      size_t count = ends[e] - start;
      ASSERT_EQ(symbols[e], TypeSymbolCount(values.data() + start, count))
          << "round " << round << " stretch " << start << ".." << ends[e];
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

}  // namespace
