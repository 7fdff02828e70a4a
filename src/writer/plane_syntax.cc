#include "writer/plane_syntax.h"

#include <algorithm>
#include <cstring>

#include "writer/coefficient_writer.h"

// ---- Planes -------------------------------------------------------------------

void PlaneSyntaxInit(PlaneSyntax* plane, uint32_t width8, uint32_t height8, bool old_colours) {
  plane->width8 = width8;
  plane->height8 = height8;
  plane->old_colours = old_colours;
  for (int b = 0; b < BUNDLE_COUNT; b++) {
    plane->trees[b] = CodeTreeIdentity(0);
    plane->modes[b] = BUNDLE_MODE_AUTO;
  }
  for (int i = 0; i < 16; i++) plane->colour_high[i] = CodeTreeIdentity(0);
  plane->rows.assign(height8 / 8, PlaneRowSyntax{});
}

void PlaneSyntaxChooseTrees(PlaneSyntax* plane) {
  uint32_t counts[BUNDLE_COUNT][16] = {};
  uint32_t high[16][16] = {};
  uint32_t context = 0;
  for (const PlaneRowSyntax& row : plane->rows) {
    for (int b : {BUNDLE_BLOCK_TYPES, BUNDLE_SUB_BLOCK_TYPES, BUNDLE_RUNS})
      for (int32_t v : row.values[b]) counts[b][v & 15]++;
    for (int b : {BUNDLE_X_OFFSET, BUNDLE_Y_OFFSET})
      for (int32_t v : row.values[b]) counts[b][Magnitude(v) & 15]++;
    for (int32_t v : row.values[BUNDLE_PATTERN]) {
      counts[BUNDLE_PATTERN][v & 15]++;
      counts[BUNDLE_PATTERN][(v >> 4) & 15]++;
    }
    for (int32_t v : row.values[BUNDLE_COLOURS]) {
      uint32_t coded = ColourCodeValue(static_cast<uint8_t>(v), plane->old_colours);
      counts[BUNDLE_COLOURS][coded & 15]++;
      high[context][coded >> 4]++;
      context = coded >> 4;
    }
  }
  for (int b = 0; b < BUNDLE_COUNT; b++)
    if (b != BUNDLE_INTRA_DC && b != BUNDLE_INTER_DC) plane->trees[b] = CodeTreeForHistogram(counts[b]);
  for (int c = 0; c < 16; c++) plane->colour_high[c] = CodeTreeForHistogram(high[c]);
}

namespace {

bool WriteRefill(const PlaneSyntax& plane, int b, const std::vector<int32_t>& values,
                 ColourCoder* coder, BitWriter* out) {
  uint32_t count = static_cast<uint32_t>(values.size());
  WriteBundleCount(out, BundleCountBits(b, plane.width8), count);
  if (count == 0) return true;
  std::vector<uint8_t> bytes(count);
  for (uint32_t i = 0; i < count; i++) bytes[i] = static_cast<uint8_t>(values[i]);
  BundleMode mode = plane.modes[b];
  switch (b) {
    case BUNDLE_BLOCK_TYPES:
    case BUNDLE_SUB_BLOCK_TYPES:
      return WriteTypeBundle(out, plane.trees[b], bytes.data(), count, mode);
    case BUNDLE_COLOURS:
      return WriteColourBundle(out, coder, bytes.data(), count, mode);
    case BUNDLE_PATTERN:
      WritePatternBundle(out, plane.trees[b], bytes.data(), count);
      return true;
    case BUNDLE_X_OFFSET:
    case BUNDLE_Y_OFFSET:
      for (int32_t v : values)
        if (v < -15 || v > 15) return false;
      return WriteOffsetBundle(out, plane.trees[b], reinterpret_cast<const int8_t*>(bytes.data()),
                               count, mode);
    case BUNDLE_INTRA_DC:
    case BUNDLE_INTER_DC: {
      std::vector<int16_t> dc(values.begin(), values.end());
      return WriteDcBundle(out, dc.data(), count, b == BUNDLE_INTER_DC);
    }
    default:
      return WriteRunBundle(out, plane.trees[b], bytes.data(), count, mode);
  }
}

}  // namespace

bool WritePlane(const PlaneSyntax& plane, BitWriter* out) {
  bool ok = WriteCodeTree(out, plane.trees[BUNDLE_BLOCK_TYPES]) &&
            WriteCodeTree(out, plane.trees[BUNDLE_SUB_BLOCK_TYPES]);
  for (int c = 0; c < 16; c++) ok = ok && WriteCodeTree(out, plane.colour_high[c]);
  for (int b : {BUNDLE_COLOURS, BUNDLE_PATTERN, BUNDLE_X_OFFSET, BUNDLE_Y_OFFSET, BUNDLE_RUNS})
    ok = ok && WriteCodeTree(out, plane.trees[b]);
  ColourCoder coder;
  std::memcpy(coder.high, plane.colour_high, sizeof(coder.high));
  coder.low = plane.trees[BUNDLE_COLOURS];
  coder.old_colours = plane.old_colours;
  // Per bundle: values written but not yet taken, and whether a 0 count ended it.
  size_t pending[BUNDLE_COUNT] = {};
  bool ended[BUNDLE_COUNT] = {};
  size_t rows = plane.rows.size();
  for (size_t r = 0; r < rows && ok; r++) {
    for (int b = 0; b < BUNDLE_COUNT && ok; b++) {
      if (ended[b] || pending[b]) continue;
      // The decoder refills now: with this row's values, or else those of the
      // next row that has any (they wait as leftovers); a count of 0 only
      // when no later row needs the bundle.
      size_t k = r;
      while (k < rows && plane.rows[k].values[b].empty()) k++;
      if (k == rows) {
        WriteBundleCount(out, BundleCountBits(b, plane.width8), 0);
        ended[b] = true;
        continue;
      }
      ok = WriteRefill(plane, b, plane.rows[k].values[b], &coder, out);
      pending[b] = plane.rows[k].values[b].size();
    }
    for (int b = 0; b < BUNDLE_COUNT; b++) {
      size_t used = plane.rows[r].values[b].size();
      if (used > pending[b]) ok = false;  // values nothing wrote (cannot happen)
      pending[b] -= std::min(used, pending[b]);
    }
    BitWriterAppend(out, plane.rows[r].fields);
  }
  BitWriterAlign(out);
  return ok;
}

bool WritePlaneBytes(const PlaneSyntax& plane, std::vector<uint8_t>* out) {
  BitWriter writer;
  bool ok = WritePlane(plane, &writer);
  BitWriterAppendBytes(&writer, out);
  return ok;
}

void PutBlockType(PlaneRowSyntax* row, uint32_t type) {
  row->values[BUNDLE_BLOCK_TYPES].push_back(static_cast<int32_t>(type));
}

void PutSubBlockType(PlaneRowSyntax* row, uint32_t sub_type) {
  row->values[BUNDLE_SUB_BLOCK_TYPES].push_back(static_cast<int32_t>(sub_type));
}

void PutMotionContent(PlaneRowSyntax* row, int32_t x, int32_t y) {
  row->values[BUNDLE_X_OFFSET].push_back(x);
  row->values[BUNDLE_Y_OFFSET].push_back(y);
}

void PutFillContent(PlaneRowSyntax* row, uint8_t colour) {
  row->values[BUNDLE_COLOURS].push_back(colour);
}

void PutPatternContent(PlaneRowSyntax* row, uint8_t c0, uint8_t c1, const uint8_t pattern[8]) {
  row->values[BUNDLE_COLOURS].push_back(c0);
  row->values[BUNDLE_COLOURS].push_back(c1);
  for (int i = 0; i < 8; i++) row->values[BUNDLE_PATTERN].push_back(pattern[i]);
}

void PutRawContent(PlaneRowSyntax* row, const uint8_t colours[64]) {
  for (int i = 0; i < 64; i++) row->values[BUNDLE_COLOURS].push_back(colours[i]);
}

void PutRunContent(PlaneRowSyntax* row, uint32_t scan, const uint8_t pixels[64]) {
  BitWriterPut(&row->fields, scan, 4);
  uint8_t seq[64];
  for (int i = 0; i < 64; i++) seq[i] = pixels[RUN_SCANS[scan & 15][i]];
  std::vector<int32_t>& colours = row->values[BUNDLE_COLOURS];
  uint32_t i = 0;
  while (i < 63) {
    uint32_t same = 1;
    while (i + same < 64 && same < 16 && seq[i + same] == seq[i]) same++;
    if (same >= 2) {
      BitWriterPut(&row->fields, 1, 1);
      row->values[BUNDLE_RUNS].push_back(static_cast<int32_t>(same - 1));
      colours.push_back(seq[i]);
      i += same;
      continue;
    }
    // A literal stretch up to where two equal colours begin a fill run.
    uint32_t n = 1;
    while (i + n < 64 && n < 16 && !(i + n + 1 < 64 && seq[i + n] == seq[i + n + 1])) n++;
    BitWriterPut(&row->fields, 0, 1);
    row->values[BUNDLE_RUNS].push_back(static_cast<int32_t>(n - 1));
    for (uint32_t k = 0; k < n; k++) colours.push_back(seq[i + k]);
    i += n;
  }
  if (i == 63) colours.push_back(seq[63]);
}

void PutIntraContent(PlaneRowSyntax* row, int16_t dc, const int16_t coeffs[64], uint32_t q) {
  row->values[BUNDLE_INTRA_DC].push_back(dc);
  WriteDctCoefficients(&row->fields, coeffs, q);
}

void PutInterContent(PlaneRowSyntax* row, int32_t x, int32_t y, int16_t dc,
                     const int16_t coeffs[64], uint32_t q) {
  PutMotionContent(row, x, y);
  row->values[BUNDLE_INTER_DC].push_back(dc);
  WriteDctCoefficients(&row->fields, coeffs, q);
}

void PutResidueContent(PlaneRowSyntax* row, int32_t x, int32_t y, const int8_t residue[64],
                       int8_t decoded[64]) {
  PutMotionContent(row, x, y);
  WriteResidue(&row->fields, residue, decoded);
}

// ---- Frames -------------------------------------------------------------------

namespace {

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> AssembleVideoFrame(const std::vector<uint8_t>& luma,
                                        const std::vector<uint8_t>* chroma_first,
                                        const std::vector<uint8_t>* chroma_second,
                                        const std::vector<uint8_t>* alpha, bool luma_size_word) {
  std::vector<uint8_t> out;
  if (alpha) {
    PutLe32(&out, static_cast<uint32_t>(4 + alpha->size()));
    out.insert(out.end(), alpha->begin(), alpha->end());
  }
  if (luma_size_word) PutLe32(&out, static_cast<uint32_t>(4 + luma.size()));
  out.insert(out.end(), luma.begin(), luma.end());
  if (chroma_first) out.insert(out.end(), chroma_first->begin(), chroma_first->end());
  if (chroma_second) out.insert(out.end(), chroma_second->begin(), chroma_second->end());
  return out;
}
