#include "writer/encode_trees.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool AllEqual(const std::vector<int32_t>& values) {
  for (int32_t v : values)
    if (v != values[0]) return false;
  return true;
}

// The type writer's greedy use of the repeat symbols (12..15 = 4, 8, 12, 32
// more of the last value), mirrored to count what it writes.
void CountTypeSymbols(const std::vector<int32_t>& values, uint32_t* histogram) {
  static constexpr uint32_t kRunLengths[4] = {32, 12, 8, 4};
  uint32_t last = 0;
  for (size_t i = 0; i < values.size();) {
    size_t same = 0;  // counted up to the longest repeat symbol only
    while (i + same < values.size() && same < kRunLengths[0] &&
           static_cast<uint32_t>(values[i + same]) == last)
      same++;
    int symbol = -1;
    for (int r = 0; r < 4 && symbol < 0; r++)
      if (same >= kRunLengths[r]) symbol = 15 - r;
    if (symbol >= 0) {
      histogram[symbol]++;
      i += kRunLengths[15 - symbol];
      continue;
    }
    histogram[values[i] & 15]++;
    last = static_cast<uint32_t>(values[i++]);
  }
}

// Runs the tree reader's merge passes from the identity so that values come
// out in `order`; returns the symbols reached and the decision bits spent.
uint32_t MergeToward(const uint8_t order[16], uint32_t passes, uint8_t symbols[16]) {
  uint8_t rank[16];
  for (int p = 0; p < 16; p++) rank[order[p]] = static_cast<uint8_t>(p);
  for (int i = 0; i < 16; i++) symbols[i] = static_cast<uint8_t>(i);
  uint32_t bits = 0;
  for (uint32_t size = 1, pass = 0; pass < passes; pass++, size *= 2) {
    uint8_t merged[16];
    for (uint32_t start = 0; start < 16; start += 2 * size) {
      const uint8_t* a = symbols + start;
      const uint8_t* b = a + size;
      uint32_t ia = 0, ib = 0, out = start;
      while (ia < size && ib < size) {
        bits++;
        merged[out++] = rank[b[ib]] < rank[a[ia]] ? b[ib++] : a[ia++];
      }
      while (ia < size) merged[out++] = a[ia++];
      while (ib < size) merged[out++] = b[ib++];
    }
    std::memcpy(symbols, merged, 16);
  }
  return bits;
}

}  // namespace

void GatherPlaneHistograms(const PlaneSyntax& plane, const RefillPlan& plan, PlaneHistograms* h) {
  *h = PlaneHistograms{};
  for (const PlaneRowSyntax& row : plane.rows)
    for (int32_t t : row.values[BUNDLE_BLOCK_TYPES]) h->types[t & 15]++;
  uint32_t context = 0;
  ForEachRefill(plane, plan, [&](int b, const std::vector<int32_t>& v) {
    h->value_count[b] += v.size();
    // A refill of equal values is a fill, whose value bypasses the tree
    // except for colours.
    bool fill = AllEqual(v);
    uint64_t& fixed = h->fixed_bits[b];
    switch (b) {
      case BUNDLE_BLOCK_TYPES:
      case BUNDLE_SUB_BLOCK_TYPES:
      case BUNDLE_RUNS:
        fixed += fill ? 5 : 1;
        if (!fill && b == BUNDLE_RUNS)
          for (int32_t x : v) h->values[b][x & 15]++;
        else if (!fill)
          CountTypeSymbols(v, h->values[b]);
        break;
      case BUNDLE_COLOURS:
        fixed += 1;
        for (size_t i = 0; i < (fill ? 1 : v.size()); i++) {
          uint32_t coded = ColourCodeValue(static_cast<uint8_t>(v[i]), plane.old_colours);
          h->values[b][coded & 15]++;
          h->high[context][coded >> 4]++;
          context = coded >> 4;
        }
        break;
      case BUNDLE_PATTERN:
        for (int32_t x : v) {
          h->values[b][x & 15]++;
          h->values[b][(x >> 4) & 15]++;
        }
        break;
      case BUNDLE_X_OFFSET:
      case BUNDLE_Y_OFFSET:
        if (fill) {
          fixed += 5 + (v[0] != 0);
        } else {
          fixed += 1;
          for (int32_t x : v) {
            h->values[b][Magnitude(x) & 15]++;
            fixed += x != 0;
          }
        }
        break;
      default:  // the DC bundles have no tree
        break;
    }
  });
}

CodeTree ChooseCodeTree(const uint32_t histogram[16], uint64_t* bits) {
  CodeTree best = CodeTreeIdentity(0);
  uint64_t total = 0;
  for (int i = 0; i < 16; i++) total += histogram[i];
  uint64_t best_bits = 4 + 4 * total;
  if (total == 0) {
    *bits = 4;
    return best;
  }
  // Values by falling count: every table's codes lengthen with the
  // position, so this is the best order for any table.
  uint8_t order[16];
  for (int i = 0; i < 16; i++) order[i] = static_cast<uint8_t>(i);
  std::stable_sort(order, order + 16, [&](uint8_t a, uint8_t b) { return histogram[a] > histogram[b]; });
  // Naming a value never coded gains nothing over leaving it to the
  // increasing remainder.
  uint32_t seen = 0;
  for (int i = 0; i < 16; i++) seen += histogram[i] != 0;
  // The symbol orders worth a header, the same for every table: explicit
  // lists naming the first n values (the rest follow in increasing
  // order), and one to four merge passes towards the wanted order.
  struct Candidate {
    uint8_t symbols[16];
    uint32_t counts[16];  // histogram by position
    uint64_t header;
  };
  Candidate candidates[12];
  uint32_t count = 0;
  for (uint32_t n = 1; n <= std::min(8u, seen); n++) {
    Candidate& c = candidates[count++];
    bool named[16] = {};
    for (uint32_t p = 0; p < n; p++) {
      c.symbols[p] = order[p];
      named[order[p]] = true;
    }
    uint32_t p = n;
    for (uint8_t v = 0; v < 16; v++)
      if (!named[v]) c.symbols[p++] = v;
    c.header = 8 + 4 * n;
  }
  for (uint32_t passes = 1; passes <= 4; passes++) {
    Candidate& c = candidates[count++];
    c.header = 7 + MergeToward(order, passes, c.symbols);
  }
  for (uint32_t i = 0; i < count; i++)
    for (int p = 0; p < 16; p++) candidates[i].counts[p] = histogram[candidates[i].symbols[p]];
  for (uint32_t table = 1; table < PREFIX_TABLE_COUNT; table++) {
    uint32_t lengths[16];
    for (int p = 0; p < 16; p++) lengths[p] = PREFIX_CODES[table][p].length;
    for (uint32_t i = 0; i < count; i++) {
      uint64_t cost = candidates[i].header;
      for (int p = 0; p < 16; p++) cost += uint64_t{candidates[i].counts[p]} * lengths[p];
      if (cost < best_bits) {
        best_bits = cost;
        best.table = static_cast<uint8_t>(table);
        std::memcpy(best.symbols, candidates[i].symbols, 16);
      }
    }
  }
  *bits = best_bits;
  return best;
}

void ChoosePlaneTrees(PlaneSyntax* plane, const PlaneHistograms& h) {
  uint64_t bits;
  for (int b = 0; b < BUNDLE_COUNT; b++)
    if (b != BUNDLE_INTRA_DC && b != BUNDLE_INTER_DC) plane->trees[b] = ChooseCodeTree(h.values[b], &bits);
  for (int c = 0; c < 16; c++) plane->colour_high[c] = ChooseCodeTree(h.high[c], &bits);
}

void RefineTypeTrees(PlaneSyntax* plane, const RefillPlan& plan, PlaneHistograms* h) {
  for (int b : {BUNDLE_BLOCK_TYPES, BUNDLE_SUB_BLOCK_TYPES}) {
    // The refills that go through the tree (fills do not).
    std::vector<std::vector<uint8_t>> refills(1);
    for (size_t r = 0; r < plane->rows.size(); r++) {
      const std::vector<int32_t>& row = plane->rows[r].values[b];
      if (row.empty()) continue;
      if (plan.starts[b][r] && !refills.back().empty()) refills.emplace_back();
      refills.back().insert(refills.back().end(), row.begin(), row.end());
    }
    std::erase_if(refills, [](const std::vector<uint8_t>& v) {
      return v.empty() || std::all_of(v.begin(), v.end(), [&](uint8_t x) { return x == v[0]; });
    });
    if (refills.empty()) continue;
    std::vector<uint8_t> symbols;
    uint8_t lengths[16];
    TreeLengths(plane->trees[b], lengths);
    uint32_t histogram[16] = {};
    for (const std::vector<uint8_t>& v : refills) {
      symbols.clear();
      ParseTypeSymbols(v.data(), static_cast<uint32_t>(v.size()), lengths, &symbols);
      for (uint8_t s : symbols) histogram[s & 15]++;
    }
    uint64_t bits;
    plane->trees[b] = ChooseCodeTree(histogram, &bits);
    std::memcpy(h->values[b], histogram, sizeof(histogram));
  }
}

namespace {

// Prices each offset value from how often the plane used it, scaled so that
// the values' average is what the bundle really cost; values never seen
// stay affordable (at most a few bits above the dearest one seen).
void LearnOffsets(const PlaneSyntax& plane, int bundle, uint64_t bundle_bits, float* out,
                  bool* learnt) {
  uint32_t counts[31] = {};
  uint64_t total = 0;
  for (const PlaneRowSyntax& row : plane.rows)
    for (int32_t v : row.values[bundle]) {
      counts[std::clamp(v, -15, 15) + 15]++;
      total++;
    }
  if (total < 8) return;
  double n = static_cast<double>(total), entropy = 0, p[31];
  for (int i = 0; i < 31; i++) {
    p[i] = (counts[i] + 0.02 * n / 31 + 0.1) / (1.02 * n + 3.1);
    entropy -= counts[i] / n * std::log2(p[i]);
  }
  double average = static_cast<double>(bundle_bits) / n;
  double scale = entropy > 0.05 ? std::min(1.0, average / entropy) : 1.0;
  for (int i = 0; i < 31; i++) {
    float bits = static_cast<float>(std::clamp(-std::log2(p[i]) * scale, 0.05, 12.0));
    out[i] = *learnt ? 0.5f * out[i] + 0.5f * bits : bits;
  }
}

}  // namespace

void LearnOffsetCosts(const PlaneSyntax& plane, uint64_t x_bits, uint64_t y_bits,
                      PlaneCostModel* model) {
  bool learnt = model->offsets_learnt;
  LearnOffsets(plane, BUNDLE_X_OFFSET, x_bits, model->x_offset_bits, &learnt);
  LearnOffsets(plane, BUNDLE_Y_OFFSET, y_bits, model->y_offset_bits, &learnt);
  uint64_t n = 0;
  for (const PlaneRowSyntax& row : plane.rows) n += row.values[BUNDLE_X_OFFSET].size();
  if (n >= 8) model->offsets_learnt = true;
}

void LearnLiteralOffsets(const PlaneSyntax& plane, PlaneCostModel* model) {
  for (int v = -15; v <= 15; v++) {
    uint32_t sign = v != 0;
    model->x_literal_bits[v + 15] =
        static_cast<float>(TreeValueLength(plane.trees[BUNDLE_X_OFFSET], Magnitude(v)) + sign);
    model->y_literal_bits[v + 15] =
        static_cast<float>(TreeValueLength(plane.trees[BUNDLE_Y_OFFSET], Magnitude(v)) + sign);
  }
  model->literals_learnt = true;
}

void LearnValueCosts(const PlaneSyntax& plane, const PlaneHistograms& h, PlaneCostModel* model) {
  auto tree_bits = [](const CodeTree& tree, const uint32_t* histogram) {
    uint64_t bits = 0;
    for (uint32_t v = 0; v < 16; v++) bits += uint64_t{histogram[v]} * TreeValueLength(tree, v);
    return bits;
  };
  auto bundle_bits = [&](int b) { return h.fixed_bits[b] + tree_bits(plane.trees[b], h.values[b]); };
  // Few values say little; move only part way towards what they cost.
  auto learn = [](uint64_t bits, uint64_t count, float floor, float* out) {
    if (count >= 8) *out = std::max(floor, 0.5f * *out + 0.5f * static_cast<float>(bits) / count);
  };
  uint64_t high_bits = 0;
  for (int c = 0; c < 16; c++) high_bits += tree_bits(plane.colour_high[c], h.high[c]);
  learn(bundle_bits(BUNDLE_COLOURS) + high_bits, h.value_count[BUNDLE_COLOURS], 0.5f,
        &model->colour_bits);
  learn(bundle_bits(BUNDLE_PATTERN), h.value_count[BUNDLE_PATTERN], 0.5f, &model->pattern_bits);
  learn(bundle_bits(BUNDLE_X_OFFSET) + bundle_bits(BUNDLE_Y_OFFSET),
        h.value_count[BUNDLE_X_OFFSET] + h.value_count[BUNDLE_Y_OFFSET], 0.1f, &model->offset_bits);
  learn(bundle_bits(BUNDLE_RUNS), h.value_count[BUNDLE_RUNS], 0.5f, &model->run_bits);
  LearnOffsetCosts(plane, bundle_bits(BUNDLE_X_OFFSET), bundle_bits(BUNDLE_Y_OFFSET), model);
  LearnLiteralOffsets(plane, model);

  // Block types: relative costs from their frequencies, scaled so that
  // their average is what the type bundle really cost per value.
  uint64_t total = h.value_count[BUNDLE_BLOCK_TYPES];
  if (total < 16) return;
  // Every type keeps some probability, and no type is ever priced above a
  // few bits: a type this plane did not use must stay affordable, or the
  // next plane never tries it (a frame of doubled fills would price motion
  // out of every later frame).
  auto probability = [&](int t) {
    double n = static_cast<double>(total);
    return (h.types[t] + 0.01 * n + 0.5) / (1.1 * n + 5);
  };
  double entropy = 0;
  for (int t = 0; t < BLOCK_TYPE_COUNT; t++) entropy -= probability(t) * std::log2(probability(t));
  double average = static_cast<double>(bundle_bits(BUNDLE_BLOCK_TYPES)) / static_cast<double>(total);
  double scale = std::min(1.0, entropy > 0.05 ? average / entropy : 1);
  for (int t = 0; t < BLOCK_TYPE_COUNT; t++)
    model->type_bits[t] = static_cast<float>(std::clamp(-std::log2(probability(t)) * scale, 0.05, 6.0));
}
