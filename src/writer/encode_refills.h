// Refill grouping: which block rows' values each bundle refill carries.
// The decoder refills a bundle only once its values are used up, so one
// refill may serve several block rows; each refill saves a count field
// (10 to 15 bits) but a group of rows loses the cheap fill form when its
// values differ. The plan picks, per bundle, the grouping with the fewest
// estimated bits, and the plane is then written with it.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/encode_records.h"
#include "writer/plane_syntax.h"

struct RefillPlan {
  // starts[b][r]: block row r begins a new refill of bundle b (only rows
  // that carry values of the bundle are ever set).
  std::vector<uint8_t> starts[BUNDLE_COUNT];
};

// Largest count one refill of bundle b may announce in a plane width8 wide:
// a block row's worth plus 511, within every decoder's buffer.
uint32_t RefillLimit(int bundle, uint32_t width8);

void PlanRefills(const PlaneSyntax& plane, const PlaneCostModel& model, RefillPlan* plan);

// Block-type symbols of values[0, count) after the writer's repeat symbols
// (4, 8, 12 or 32 more of the last value, which starts as 0).
size_t TypeSymbolCount(const int32_t* values, size_t count);

// The planner prices every stretch of block rows that fits one refill;
// these give each stretch's fill test and type symbol count without walking
// its values again for every stretch.
struct RefillStretches {
  const int32_t* values = nullptr;
  size_t size = 0;
  std::vector<uint32_t> equal_run;  // values equal to values[p] from p on
  // The parse of all the values from the first (after PrepareTypeParse):
  // whether it starts a step at p, with which last value, after how many
  // symbols. A parse from elsewhere that starts a step at such a p with
  // the same last value goes on as this one does.
  std::vector<uint8_t> landed;
  std::vector<int32_t> landed_last;
  std::vector<uint32_t> landed_symbols;

  void Prepare(const std::vector<int32_t>& all);  // all must outlive the uses
  void PrepareTypeParse();  // after Prepare; TypeSymbolsTo then joins it
  bool AllEqual(size_t start, size_t end) const { return equal_run[start] >= end - start; }
  // TypeSymbolCount of values[start, end) for every end of ends (rising,
  // each above start), into symbols, from one parse.
  void TypeSymbolsTo(size_t start, const size_t* ends, size_t count, size_t* symbols) const;

 private:
  // TypeSymbolCount of values[p, end) from a step at p that the parse of
  // all values also starts with the same last value.
  size_t JoinedSymbols(size_t p, size_t end) const;
};

// Calls visit(bundle, values) for every refill of the plan, in stream order
// per bundle (refills of different bundles are visited bundle by bundle).
template <typename Visit>
void ForEachRefill(const PlaneSyntax& plane, const RefillPlan& plan, Visit visit) {
  std::vector<int32_t> values;
  for (int b = 0; b < BUNDLE_COUNT; b++) {
    values.clear();
    for (size_t r = 0; r < plane.rows.size(); r++) {
      const std::vector<int32_t>& row = plane.rows[r].values[b];
      if (row.empty()) continue;
      if (plan.starts[b][r] && !values.empty()) {
        visit(b, values);
        values.clear();
      }
      values.insert(values.end(), row.begin(), row.end());
    }
    if (!values.empty()) visit(b, values);
  }
}

// Writes the plane (trees, then per block row the refills due and the
// row's fields) with the plan's grouping; ends word-aligned. False if some
// bundle content could not be coded.
bool WritePlanePlanned(const PlaneSyntax& plane, const RefillPlan& plan, std::vector<uint8_t>* out);
