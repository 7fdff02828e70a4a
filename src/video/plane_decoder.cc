// The block loop of one plane: bundle refills at the start of every block
// row, then one block after another by its type.
#include "video/plane_decoder.h"

#include <cstring>

#include "video/block_ops.h"
#include "video/bundles.h"
#include "video/coefficients.h"
#include "video/idct.h"
#include "video/video_tables.h"

namespace {

struct PlaneState {
  const PlaneDecodeArgs* args;
  BundleSet bundles;
  BitReader reader;
  uint32_t plane_bytes;  // pitch x plane_rows: the bound of every motion source
  uint32_t rows, cols;   // blocks
  const IdctKernels* idct;
  const BlockKernels* block;
};

Bundle* Take(PlaneState* s, int bundle) { return &s->bundles.bundles[bundle]; }

uint8_t TakeColour(PlaneState* s) {
  return static_cast<uint8_t>(BundleTake(Take(s, BUNDLE_COLOURS)));
}

// The source of a displaced block in the previous plane (x offset first).
const uint8_t* MotionPointer(PlaneState* s, uint32_t offset) {
  int32_t x = BundleTakeSigned(Take(s, BUNDLE_X_OFFSET));
  int32_t y = BundleTakeSigned(Take(s, BUNDLE_Y_OFFSET));
  return s->args->prev + MotionSource(offset, x, y, s->args->pitch, s->plane_bytes);
}

// Colours along one of the sixteen scans. Runs are cut at the block's end,
// so no stream can place a colour past position 63.
void DecodeRuns(PlaneState* s, uint8_t block[64]) {
  const uint8_t* scan = RUN_SCANS[ReadBits(&s->reader, 4)];
  std::memset(block, 0, 64);
  uint32_t i = 0;
  while (i < 63) {
    bool fill = ReadBit(&s->reader);
    uint32_t n = 1 + BundleTake(Take(s, BUNDLE_RUNS));
    if (n > 64 - i) n = 64 - i;
    if (fill) {
      uint8_t colour = TakeColour(s);
      for (uint32_t k = 0; k < n; k++) block[scan[i + k]] = colour;
    } else {
      for (uint32_t k = 0; k < n; k++) block[scan[i + k]] = TakeColour(s);
    }
    i += n;
  }
  if (i == 63) block[scan[63]] = TakeColour(s);
}

void TakePattern(PlaneState* s, uint8_t pattern[8]) {
  for (int i = 0; i < 8; i++) pattern[i] = static_cast<uint8_t>(BundleTake(Take(s, BUNDLE_PATTERN)));
}

void IntraCoefficients(PlaneState* s, int16_t coeffs[64], const int32_t** table) {
  coeffs[0] = static_cast<int16_t>(BundleTakeDc(Take(s, BUNDLE_INTRA_DC)));
  *table = QUANT_INTRA[ReadDctCoefficients(&s->reader, coeffs)];
}

// A doubled block's 16x16 area is cut where it would leave the plane's
// memory: a doubled block in the last column of a chroma plane with an odd
// number of block columns, or in the last row of one with an odd number of
// block rows. The stream never asks for that; a luma plane's spare columns
// and lines take such writes as the stream has them.
void PutDoubledClipped(PlaneState* s, uint8_t* dest, uint32_t row, uint32_t col,
                       const uint8_t samples[64]) {
  const PlaneDecodeArgs& a = *s->args;
  uint8_t area[256];
  s->block->put_doubled(area, 16, samples);
  uint32_t width = a.pitch - col * 8 < 16 ? a.pitch - col * 8 : 16;
  uint32_t height = a.plane_rows - row * 8 < 16 ? a.plane_rows - row * 8 : 16;
  for (uint32_t y = 0; y < height; y++) std::memcpy(dest + y * a.pitch, area + 16 * y, width);
}

// The sub-type of a doubled block on an even row, written over 16x16.
void DecodeDoubled(PlaneState* s, uint8_t* dest, uint32_t row, uint32_t col) {
  uint32_t sub = BundleTake(Take(s, BUNDLE_SUB_BLOCK_TYPES));
  uint32_t pitch = s->args->pitch;
  bool inside = col * 8 + 16 <= s->args->pitch && row * 8 + 16 <= s->args->plane_rows;
  uint8_t samples[64];
  switch (sub) {
    case BT_RUNS:
      DecodeRuns(s, samples);
      break;
    case BT_INTRA: {  // as IdctPutDoubled does, with this plane's kernels
      alignas(16) int16_t coeffs[64];
      const int32_t* table;
      IntraCoefficients(s, coeffs, &table);
      alignas(16) int32_t out[64];
      s->idct->block(coeffs, table, out);
      for (int i = 0; i < 64; i++) samples[i] = static_cast<uint8_t>(out[i]);
      break;
    }
    case BT_FILL: {
      uint8_t colour = TakeColour(s);
      if (inside) {
        s->block->fill_doubled(dest, pitch, colour);
        return;
      }
      std::memset(samples, colour, 64);
      break;
    }
    case BT_PATTERN: {
      uint8_t c0 = TakeColour(s), c1 = TakeColour(s);
      uint8_t pattern[8];
      TakePattern(s, pattern);
      if (inside) {
        s->block->pattern_doubled(dest, pitch, c0, c1, pattern);
        return;
      }
      PatternSamples(c0, c1, pattern, samples);
      break;
    }
    case BT_RAW:
      for (int i = 0; i < 64; i++) samples[i] = TakeColour(s);
      break;
    default:
      return;  // other sub-types read and write nothing
  }
  if (inside)
    s->block->put_doubled(dest, pitch, samples);
  else
    PutDoubledClipped(s, dest, row, col, samples);
}

// Decodes the block at (row, col) of the given type; returns the block
// columns it consumed.
uint32_t DecodeBlock(PlaneState* s, uint32_t type, uint32_t row, uint32_t col) {
  const PlaneDecodeArgs& a = *s->args;
  uint32_t offset = row * 8 * a.pitch + col * 8;
  uint8_t* dest = a.dest + offset;
  alignas(16) uint8_t block[64];
  alignas(16) int16_t coeffs[64];
  switch (type) {
    case BT_DOUBLED:
      if (row % 2 == 0) DecodeDoubled(s, dest, row, col);
      return 2;
    case BT_MOTION:
      s->block->copy(dest, MotionPointer(s, offset), a.pitch);
      return 1;
    case BT_RUNS:
      DecodeRuns(s, block);
      s->block->put(dest, a.pitch, block);
      return 1;
    case BT_RESIDUE: {
      s->block->predict(MotionPointer(s, offset), a.pitch, block);
      uint32_t n = ReadBits(&s->reader, 7);
      alignas(16) int8_t residue[64];
      ReadResidue(&s->reader, n, residue);
      ResidueAdd(residue, block, dest, a.pitch);
      return 1;
    }
    case BT_INTRA: {
      const int32_t* table;
      IntraCoefficients(s, coeffs, &table);
      s->idct->put(coeffs, table, dest, a.pitch);
      return 1;
    }
    case BT_FILL:
      s->block->fill(dest, a.pitch, TakeColour(s));
      return 1;
    case BT_INTER: {
      s->block->predict(MotionPointer(s, offset), a.pitch, block);
      coeffs[0] = static_cast<int16_t>(BundleTakeDc(Take(s, BUNDLE_INTER_DC)));
      const int32_t* table = QUANT_INTER[ReadDctCoefficients(&s->reader, coeffs)];
      s->idct->add(coeffs, table, block, dest, a.pitch);
      return 1;
    }
    case BT_PATTERN: {
      uint8_t c0 = TakeColour(s), c1 = TakeColour(s);
      uint8_t pattern[8];
      TakePattern(s, pattern);
      s->block->pattern(dest, a.pitch, c0, c1, pattern);
      return 1;
    }
    case BT_RAW:
      for (int i = 0; i < 64; i++) block[i] = TakeColour(s);
      s->block->put(dest, a.pitch, block);
      return 1;
    default:
      return 1;  // undefined types read and write nothing
  }
}

void MarkBlock(PlaneState* s, uint32_t row, uint32_t col) {
  const PlaneDecodeArgs& a = *s->args;
  uint32_t map_row = a.scale == 1 ? row / 2 : row;
  uint32_t map_col = a.scale == 1 ? col / 2 : col;
  a.block_map[map_row * a.map_pitch + map_col] = 1;
}

// The rest of a broken plane, from block (row, col) on, is taken from the
// previous frame, as if every remaining block were kept.
void KeepRest(PlaneState* s, uint32_t row, uint32_t col) {
  const PlaneDecodeArgs& a = *s->args;
  if (a.dest == a.prev) return;
  for (uint32_t y = row * 8; y < a.height8; y++) {
    uint32_t x = y < row * 8 + 8 ? col * 8 : 0;
    std::memcpy(a.dest + y * a.pitch + x, a.prev + y * a.pitch + x, a.width8 - x);
  }
}

// A keep block and the keep blocks that follow it in the row, copied as one
// stretch of 8 lines. Returns the columns consumed.
uint32_t KeepRun(PlaneState* s, uint32_t row, uint32_t col) {
  Bundle* types = Take(s, BUNDLE_BLOCK_TYPES);
  uint32_t n = 1;
  while (col + n < s->cols && types->read < types->end && types->buffer[types->read] == BT_KEEP) {
    types->read++;
    n++;
  }
  const PlaneDecodeArgs& a = *s->args;
  uint32_t offset = row * 8 * a.pitch + col * 8;
  if (n == 1) {
    s->block->copy(a.dest + offset, a.prev + offset, a.pitch);
  } else if (a.dest != a.prev) {
    for (uint32_t y = 0; y < 8; y++)
      std::memcpy(a.dest + offset + y * a.pitch, a.prev + offset + y * a.pitch, 8 * n);
  }
  return n;
}

bool Broken(const PlaneState* s) { return s->bundles.fault || BitReaderOverrun(&s->reader); }

}  // namespace

uint32_t VideoDecodePlane(const PlaneDecodeArgs& args, const uint8_t* data, uint32_t size,
                          int* ok) {
  PlaneState s;
  s.args = &args;
  s.plane_bytes = args.pitch * args.plane_rows;
  s.rows = args.height8 / 8;
  s.cols = args.width8 / 8;
  s.idct = &args.kernels->idct;
  s.block = &args.kernels->block;
  BitReaderInit(&s.reader, data, size);
  BundleSetInit(&s.bundles, args.bundle_buffers, args.buffer_width, args.width8,
                args.old_colours);
  BundleSetReadTrees(&s.bundles, &s.reader);
  *ok = 1;
  for (uint32_t row = 0; row < s.rows; row++) {
    BundleSetRefill(&s.bundles, &s.reader);
    for (uint32_t col = 0; col < s.cols;) {
      // A block decoded after a fault stays inside its own area and takes
      // nothing real; it is then replaced along with the rest of the plane.
      uint32_t type = BundleTake(Take(&s, BUNDLE_BLOCK_TYPES));
      uint32_t used = type == BT_KEEP ? KeepRun(&s, row, col) : DecodeBlock(&s, type, row, col);
      if (Broken(&s)) {
        KeepRest(&s, row, col);
        *ok = 0;
        return BitReaderWordsEnd(&s.reader);
      }
      if (type >= BT_DOUBLED && type <= BT_RAW) {
        MarkBlock(&s, row, col);
        if (used == 2 && col + 1 < s.cols) MarkBlock(&s, row, col + 1);
      }
      col += used;
    }
  }
  return BitReaderWordsEnd(&s.reader);
}
