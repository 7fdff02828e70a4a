// The plane's code trees, chosen from exactly the values the plane writer
// will put through each tree (type runs, fills and colour contexts
// included): for every bundle the prefix table and symbol order that make
// header plus values the fewest bits. Also measures what each kind of value
// costs under those trees, for the next plane's block decisions.
#pragma once
#include <cstdint>

#include "writer/encode_records.h"
#include "writer/encode_refills.h"
#include "writer/plane_syntax.h"

// Value histograms of a plane as the writer will code them.
struct PlaneHistograms {
  uint32_t values[BUNDLE_COUNT][16] = {};
  uint32_t high[16][16] = {};  // colour high nibbles by context
  // Bits outside the trees (fill and mode bits, raw fill values, signs) and
  // the number of values each bundle carries, fills included.
  uint64_t fixed_bits[BUNDLE_COUNT] = {};
  uint64_t value_count[BUNDLE_COUNT] = {};
  uint32_t types[16] = {};     // block-type values by type
};

void GatherPlaneHistograms(const PlaneSyntax& plane, const RefillPlan& plan,
                           PlaneHistograms* histograms);

// The cheapest tree (header bits included) for a histogram; *bits receives
// header plus coded values.
CodeTree ChooseCodeTree(const uint32_t histogram[16], uint64_t* bits);

// Sets every tree of the plane from its histograms.
void ChoosePlaneTrees(PlaneSyntax* plane, const PlaneHistograms& histograms);

// The type bundles' values parsed into repeat symbols in the way that is
// cheapest under their tree, and the tree chosen again for the symbols of
// that parse (the writer parses the same way under the new tree, which can
// only cost less); *histograms follow.
void RefineTypeTrees(PlaneSyntax* plane, const RefillPlan& plan, PlaneHistograms* histograms);

// Average bits per block type, colour, pattern byte, offset and run value
// under the plane's trees (fills included), folded into the model for the
// next plane of its kind.
void LearnValueCosts(const PlaneSyntax& plane, const PlaneHistograms& histograms,
                     PlaneCostModel* model);
// Each offset value's bits in a refill that is not a fill, under the
// plane's trees (part of LearnValueCosts).
void LearnLiteralOffsets(const PlaneSyntax& plane, PlaneCostModel* model);
// Per-value prices of the x and y offsets (part of LearnValueCosts).
void LearnOffsetCosts(const PlaneSyntax& plane, uint64_t x_bits, uint64_t y_bits,
                      PlaneCostModel* model);
