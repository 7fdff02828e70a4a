// The writer's parse of block types into repeat symbols: the reader must
// get the values back, and no other parse may cost fewer bits under the
// tree's code lengths (a repeat of 4 can cost more than four values).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>
#include <vector>

#include "writer/bundle_writer.h"

namespace {

constexpr uint32_t kRepeats[4] = {4, 8, 12, 32};  // symbols 12..15

// What the type reader stores for the symbols: values below 12 as
// themselves, 12..15 as 4, 8, 12 or 32 copies of the last value (0 at first).
std::vector<uint8_t> Expand(const std::vector<uint8_t>& symbols) {
  std::vector<uint8_t> out;
  uint8_t last = 0;
  for (uint8_t s : symbols) {
    if (s < 12) {
      out.push_back(s);
      last = s;
    } else {
      out.insert(out.end(), kRepeats[s - 12], last);
    }
  }
  return out;
}

uint32_t Bits(const std::vector<uint8_t>& symbols, const uint8_t lengths[16]) {
  uint32_t bits = 0;
  for (uint8_t s : symbols) bits += lengths[s];
  return bits;
}

// The fewest bits of any parse of values[i, end) after `last`, every
// symbol tried at every step.
struct Search {
  const std::vector<uint8_t>& values;
  const uint8_t* lengths;
  std::map<std::pair<size_t, uint8_t>, uint32_t> known;

  uint32_t Fewest(size_t i, uint8_t last) {
    if (i == values.size()) return 0;
    auto found = known.find({i, last});
    if (found != known.end()) return found->second;
    uint32_t best = ~0u / 2;
    if (values[i] < 12) best = lengths[values[i]] + Fewest(i + 1, values[i]);
    for (uint32_t r = 0; r < 4; r++) {
      size_t n = kRepeats[r];
      bool fits = i + n <= values.size();
      for (size_t k = i; fits && k < i + n; k++) fits = values[k] == last;
      if (fits) best = std::min(best, lengths[12 + r] + Fewest(i + n, last));
    }
    known[{i, last}] = best;
    return best;
  }
};

struct Profile {
  const char* name;
  uint8_t lengths[16];
};

class TypeParseTest : public testing::TestWithParam<Profile> {};

TEST_P(TypeParseTest, GivesTheValuesBackInTheFewestBits) {
  const uint8_t* lengths = GetParam().lengths;
  std::mt19937 random(11);
  for (int round = 0; round < 300; round++) {
    std::vector<uint8_t> values;
    size_t size = 1 + random() % 70;
    while (values.size() < size) {
      static constexpr uint8_t kKinds[3] = {0, 2, 7};
      values.insert(values.end(), 1 + random() % 40, kKinds[random() % 3]);
    }
    values.resize(size);
    std::vector<uint8_t> symbols;
    ASSERT_TRUE(ParseTypeSymbols(values.data(), static_cast<uint32_t>(size), lengths, &symbols));
    ASSERT_EQ(Expand(symbols), values) << "round " << round;
    Search search{values, lengths, {}};
    EXPECT_EQ(Bits(symbols, lengths), search.Fewest(0, 0)) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, TypeParseTest,
    testing::Values(
        Profile{"Plain", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}},
        // As a plane of moves codes them: a move 1 bit, a repeat of 4 five.
        Profile{"DearShortRepeat", {3, 7, 1, 7, 7, 7, 7, 6, 7, 7, 7, 7, 5, 6, 3, 3}},
        Profile{"CheapRepeats", {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 2, 2, 1, 2}}),
    [](const testing::TestParamInfo<Profile>& info) { return std::string(info.param.name); });

TEST(TypeParse, RunOfZerosAtTheStartTakesNoLiteral) {
  // The last value starts as 0, so four zeros are one repeat symbol.
  const uint8_t lengths[16] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 1, 4, 4, 4};
  const uint8_t zeros[4] = {};
  std::vector<uint8_t> symbols;
  ASSERT_TRUE(ParseTypeSymbols(zeros, 4, lengths, &symbols));
  EXPECT_EQ(symbols, std::vector<uint8_t>{12});
}

TEST(TypeParse, ValueTwelveOrMoreIsRefused) {
  const uint8_t lengths[16] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};
  const uint8_t values[5] = {3, 3, 12, 12, 12};
  std::vector<uint8_t> symbols;
  EXPECT_FALSE(ParseTypeSymbols(values, 5, lengths, &symbols));
}

}  // namespace
