#include "writer/encode_refills.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "writer/bundle_writer.h"

namespace {

constexpr size_t kLongestRepeat = 32;

// Type values after the writer's repeat symbols (4, 8, 12 or 32 more of
// the last value) have shortened runs: one parse step from position i,
// `same` values from there equal to `last` (the value repeats continue).
// Returns the position after the step.
constexpr size_t RepeatCovering(size_t same) {  // 0 if none: a literal
  constexpr size_t kRunLengths[4] = {kLongestRepeat, 12, 8, 4};
  for (size_t r : kRunLengths)
    if (same >= r) return r;
  return 0;
}

// The step TypeStep takes for each count of equal values ahead: where
// values repeat is anyone's guess, so the parses look it up.
constexpr auto kSteps = [] {
  std::array<uint8_t, kLongestRepeat + 1> steps{};
  for (size_t same = 0; same <= kLongestRepeat; same++)
    steps[same] = static_cast<uint8_t>(std::max<size_t>(RepeatCovering(same), 1));
  return steps;
}();

size_t TypeStep(const int32_t* values, size_t i, int32_t* last, size_t same) {
  if (size_t r = RepeatCovering(same)) return i + r;
  *last = values[i];
  return i + 1;
}

// Symbols of values[i, count) parsed from `last`. Only whether the repeats
// reach 4, 8, 12 or 32 matters: counting stops there (a long stretch is not
// counted again at every run).
size_t TypeSymbolsFrom(const int32_t* values, size_t count, size_t i, int32_t last) {
  size_t symbols = 0;
  while (i < count) {
    size_t same = 0;
    while (i + same < count && same < kLongestRepeat && values[i + same] == last) same++;
    i = TypeStep(values, i, &last, same);
    symbols++;
  }
  return symbols;
}

// Estimated bits of one refill's values (count field excluded).
// fill: all n values are equal; type_symbols: the type bundles' symbol count.
double ContentBits(int bundle, bool fill, size_t type_symbols, size_t n, const PlaneCostModel& m) {
  switch (bundle) {
    case BUNDLE_BLOCK_TYPES:
    case BUNDLE_SUB_BLOCK_TYPES:
      return fill ? 5 : 1 + 2.0 * static_cast<double>(type_symbols);
    case BUNDLE_COLOURS:
      return 1 + (fill ? 1 : static_cast<double>(n)) * m.colour_bits;
    case BUNDLE_X_OFFSET:
    case BUNDLE_Y_OFFSET:
      return fill ? 6 : 1 + static_cast<double>(n) * m.offset_bits;
    case BUNDLE_RUNS:
      return fill ? 5 : 1 + static_cast<double>(n) * m.run_bits;
    default:  // pattern and DC values cost the same however they are grouped
      return 0;
  }
}

uint32_t CountBits(int bundle, uint32_t width8) {
  uint32_t n = RefillLimit(bundle, width8), bits = 0;
  while (n >> bits) bits++;
  return std::min<uint32_t>(bits, 15);
}

bool WriteRefill(const PlaneSyntax& plane, int b, const std::vector<int32_t>& values,
                 ColourCoder* coder, BitWriter* out) {
  uint32_t count = static_cast<uint32_t>(values.size());
  WriteBundleCount(out, BundleCountBits(b, plane.width8), count);
  std::vector<uint8_t> bytes(values.begin(), values.end());
  switch (b) {
    case BUNDLE_BLOCK_TYPES:
    case BUNDLE_SUB_BLOCK_TYPES:
      return WriteTypeBundle(out, plane.trees[b], bytes.data(), count, BUNDLE_MODE_AUTO);
    case BUNDLE_COLOURS:
      return WriteColourBundle(out, coder, bytes.data(), count, BUNDLE_MODE_AUTO);
    case BUNDLE_PATTERN:
      WritePatternBundle(out, plane.trees[b], bytes.data(), count);
      return true;
    case BUNDLE_X_OFFSET:
    case BUNDLE_Y_OFFSET:
      return WriteOffsetBundle(out, plane.trees[b], reinterpret_cast<const int8_t*>(bytes.data()),
                               count, BUNDLE_MODE_AUTO);
    case BUNDLE_INTRA_DC:
    case BUNDLE_INTER_DC: {
      std::vector<int16_t> dc(values.begin(), values.end());
      return WriteDcBundle(out, dc.data(), count, b == BUNDLE_INTER_DC);
    }
    default:
      return WriteRunBundle(out, plane.trees[b], bytes.data(), count, BUNDLE_MODE_AUTO);
  }
}

}  // namespace

void RefillStretches::Prepare(const std::vector<int32_t>& all) {
  values = all.data();
  size = all.size();
  landed.clear();
  equal_run.resize(all.size());
  if (all.empty()) return;
  // Whether neighbours are equal is anyone's guess: no branch on it.
  uint32_t run = 1;
  equal_run.back() = run;
  for (size_t p = all.size() - 1; p-- > 0;) {
    uint32_t equal = all[p + 1] == all[p];
    run = (run & (0u - equal)) + 1;
    equal_run[p] = run;
  }
}

void RefillStretches::PrepareTypeParse() {
  // One entry more: the parse ends with a step to the end.
  landed.assign(size + 1, 0);
  landed_last.resize(size + 1);
  landed_symbols.resize(size + 1);
  int32_t last = 0;
  uint32_t parsed = 0;
  for (size_t i = 0;; parsed++) {
    landed[i] = 1;
    landed_last[i] = last;
    landed_symbols[i] = parsed;
    if (i == size) break;
    size_t run = values[i] == last ? std::min<size_t>(equal_run[i], size - i) : 0;
    last = values[i];  // a repeat leaves it as it is: the same value
    i += kSteps[std::min(run, kLongestRepeat)];
  }
}

// The parse of all values, followed from p up to its last step that ends
// within end (steps are at most kLongestRepeat long); the few values left
// are parsed on their own, as the stretch's parse does.
size_t RefillStretches::JoinedSymbols(size_t p, size_t end) const {
  size_t q = end;
  while (!landed[q]) q--;  // p has landed: the loop stops there at the latest
  return landed_symbols[q] - landed_symbols[p] + TypeSymbolsFrom(values, end, q, landed_last[q]);
}

size_t TypeSymbolCount(const int32_t* values, size_t count) {
  return TypeSymbolsFrom(values, count, 0, 0);
}

// A step whose repeat count is not cut short by an end is the same for that
// end as for the farthest; from the first step an end does cut, that end's
// few remaining values (fewer than 32) are parsed on their own.
void RefillStretches::TypeSymbolsTo(size_t start, const size_t* ends, size_t count,
                                    size_t* symbols) const {
  size_t farthest = ends[count - 1], i = start, parsed = 0;
  int32_t last = 0;
  // Where this parse starts a step that the parse of all values starts too,
  // with the same last value, the two go on alike: the rest is read off
  // that one (the steps taken here are every stretch's: one an end would
  // cut short is not taken).
  bool may_join = !landed.empty();
  for (size_t e = 0; e < count;) {
    size_t end = ends[e];
    if (i == end) {
      symbols[e++] = parsed;
      continue;
    }
    if (may_join && landed[i] && landed_last[i] == last) {
      for (; e < count; e++) symbols[e] = parsed + JoinedSymbols(i, ends[e]);
      return;
    }
    // i < end <= farthest.
    size_t run = values[i] == last ? std::min<size_t>(equal_run[i], farthest - i) : 0;
    size_t same = std::min(run, kLongestRepeat);
    if (i + same > end) {
      symbols[e++] = parsed + TypeSymbolsFrom(values + start, end - start, i - start, last);
      continue;
    }
    last = values[i];  // a repeat leaves it as it is: the same value
    i += kSteps[same];
    parsed++;
  }
}

uint32_t RefillLimit(int bundle, uint32_t width8) {
  uint32_t blocks = width8 / 8, n;
  switch (bundle) {
    case BUNDLE_SUB_BLOCK_TYPES: n = width8 / 16; break;
    case BUNDLE_COLOURS: n = 64 * blocks; break;
    case BUNDLE_PATTERN: n = width8; break;
    case BUNDLE_RUNS: n = 48 * blocks; break;
    default: n = blocks; break;
  }
  return std::min<uint32_t>(n + 511, 0x7FFF);
}

void PlanRefills(const PlaneSyntax& plane, const PlaneCostModel& model, RefillPlan* plan) {
  size_t rows = plane.rows.size();
  for (int b = 0; b < BUNDLE_COUNT; b++) {
    plan->starts[b].assign(rows, 0);
    // The rows that carry values, and all their values one after another.
    std::vector<size_t> used, offset;
    std::vector<int32_t> all;
    for (size_t r = 0; r < rows; r++) {
      const std::vector<int32_t>& v = plane.rows[r].values[b];
      if (v.empty()) continue;
      used.push_back(r);
      offset.push_back(all.size());
      all.insert(all.end(), v.begin(), v.end());
    }
    size_t n = used.size();
    if (n == 0) continue;
    offset.push_back(all.size());
    // best[j]: fewest bits for the first j used rows; from[j]: where the
    // last refill of that grouping starts.
    double count_bits = CountBits(b, plane.width8);
    uint32_t limit = RefillLimit(b, plane.width8);
    RefillStretches stretches;
    stretches.Prepare(all);
    // symbols[i * (n + 1) + j]: type symbols of used rows i..j-1 together.
    bool types = b == BUNDLE_BLOCK_TYPES || b == BUNDLE_SUB_BLOCK_TYPES;
    if (types) stretches.PrepareTypeParse();
    std::vector<size_t> symbols(types ? n * (n + 1) : 0);
    for (size_t i = 0; types && i < n; i++) {
      size_t last = i + 1;
      while (last < n && offset[last + 1] - offset[i] <= limit) last++;
      stretches.TypeSymbolsTo(offset[i], &offset[i + 1], last - i, &symbols[i * (n + 1) + i + 1]);
    }
    std::vector<double> best(n + 1, 1e300);
    std::vector<size_t> from(n + 1, 0);
    best[0] = 0;
    for (size_t j = 1; j <= n; j++) {
      for (size_t i = j; i-- > 0;) {
        size_t count = offset[j] - offset[i];
        if (count > limit) break;
        bool fill = stretches.AllEqual(offset[i], offset[j]);
        size_t type_symbols = types ? symbols[i * (n + 1) + j] : 0;
        double bits = best[i] + count_bits + ContentBits(b, fill, type_symbols, count, model);
        if (bits < best[j]) {
          best[j] = bits;
          from[j] = i;
        }
      }
    }
    for (size_t j = 1; j <= n; j++)
      if (best[j] >= 1e300) {  // a row alone over the limit: cannot happen, keep rows apart
        best[j] = best[j - 1];
        from[j] = j - 1;
      }
    for (size_t j = n; j > 0; j = from[j]) plan->starts[b][used[from[j]]] = 1;
  }
}

namespace {

size_t LastRowUsing(const PlaneSyntax& plane, int b) {
  size_t last = 0;
  for (size_t r = 0; r < plane.rows.size(); r++)
    if (!plane.rows[r].values[b].empty()) last = r;
  return last;
}

// The value appended to a bundle's last refill so that the bundle never
// runs empty again in the plane: a count of 0 (10 to 15 bits) then never
// has to end it. The cheaper of the last value again (often free: it may
// lengthen a fill or a repeat, or add a zero difference) and the tree's
// shortest code.
int32_t CheapestTail(const PlaneSyntax& plane, int b, std::vector<int32_t>* values,
                     const ColourCoder& coder) {
  std::vector<int32_t> candidates{values->back()};
  if (b != BUNDLE_INTRA_DC && b != BUNDLE_INTER_DC && b != BUNDLE_COLOURS)
    candidates.push_back(plane.trees[b].symbols[0]);
  int32_t best = values->back();
  uint64_t best_bits = ~uint64_t{0};
  for (int32_t v : candidates) {
    if ((b == BUNDLE_BLOCK_TYPES || b == BUNDLE_SUB_BLOCK_TYPES) && v >= 12) continue;
    values->push_back(v);
    BitWriter counter;
    counter.counting = true;
    ColourCoder trial = coder;
    bool ok = WriteRefill(plane, b, *values, &trial, &counter);
    values->pop_back();
    if (ok && counter.counted < best_bits) {
      best_bits = counter.counted;
      best = v;
    }
  }
  return best;
}

}  // namespace

bool WritePlanePlanned(const PlaneSyntax& plane, const RefillPlan& plan, std::vector<uint8_t>* bytes) {
  BitWriter out;
  bool ok = WriteCodeTree(&out, plane.trees[BUNDLE_BLOCK_TYPES]) &&
            WriteCodeTree(&out, plane.trees[BUNDLE_SUB_BLOCK_TYPES]);
  for (int c = 0; c < 16; c++) ok = ok && WriteCodeTree(&out, plane.colour_high[c]);
  for (int b : {BUNDLE_COLOURS, BUNDLE_PATTERN, BUNDLE_X_OFFSET, BUNDLE_Y_OFFSET, BUNDLE_RUNS})
    ok = ok && WriteCodeTree(&out, plane.trees[b]);
  ColourCoder coder;
  std::memcpy(coder.high, plane.colour_high, sizeof(coder.high));
  coder.low = plane.trees[BUNDLE_COLOURS];
  coder.old_colours = plane.old_colours;
  size_t rows = plane.rows.size();
  size_t pending[BUNDLE_COUNT] = {};
  size_t next_row[BUNDLE_COUNT] = {};  // first row not yet written for the bundle
  bool ended[BUNDLE_COUNT] = {};
  std::vector<int32_t> values;
  for (size_t r = 0; r < rows && ok; r++) {
    for (int b = 0; b < BUNDLE_COUNT && ok; b++) {
      if (ended[b] || pending[b]) continue;
      // Refill now: the next group of rows, which may start further down
      // (its values then wait as leftovers); 0 when no row needs more.
      size_t k = next_row[b];
      while (k < rows && plane.rows[k].values[b].empty()) k++;
      if (k == rows) {
        WriteBundleCount(&out, BundleCountBits(b, plane.width8), 0);
        ended[b] = true;
        continue;
      }
      values.assign(plane.rows[k].values[b].begin(), plane.rows[k].values[b].end());
      for (k++; k < rows && !(plan.starts[b][k] && !plane.rows[k].values[b].empty()); k++)
        values.insert(values.end(), plane.rows[k].values[b].begin(), plane.rows[k].values[b].end());
      next_row[b] = k;
      // The bundle's last refill, used up before the plane's last row: one
      // value more keeps it from being read empty again.
      size_t later = k;
      while (later < rows && plane.rows[later].values[b].empty()) later++;
      if (later == rows && LastRowUsing(plane, b) + 1 < rows &&
          values.size() < RefillLimit(b, plane.width8))
        values.push_back(CheapestTail(plane, b, &values, coder));
      ok = WriteRefill(plane, b, values, &coder, &out);
      pending[b] = values.size();
    }
    for (int b = 0; b < BUNDLE_COUNT; b++) {
      size_t used = plane.rows[r].values[b].size();
      if (used > pending[b]) ok = false;  // cannot happen: groups are whole rows
      pending[b] -= std::min(used, pending[b]);
    }
    BitWriterAppend(&out, plane.rows[r].fields);
  }
  BitWriterAppendBytes(&out, bytes);
  return ok;
}
