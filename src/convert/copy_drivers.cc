#include "convert/copy_drivers.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"

namespace {

// Everything the drivers fix once per copy.
struct Region {
  GroupEntry group_even, group_odd;
  RowEntry row;
  bool line_doubled;
  ConvertScratch* scratch;
  uint32_t out_bytes;  // destination bytes per source pixel
  intptr_t pitch;      // the caller's pitch: a line to its line-doubled twin
  intptr_t dest_step;  // between the destination lines of consecutive source rows
  size_t luma_pitch;   // doubled in mode 6
  size_t chroma_pitch;
  const uint8_t* luma;
  const uint8_t* u_plane;
  const uint8_t* v_plane;
  const uint8_t* alpha;
  int32_t align_x;  // destination x of the rectangle's first pixel, 4-byte normalised
};

// Line-doubled groups are converted once into the scratch lines and then
// copied to both destination lines, so the destination is never read back.
uint8_t* Scratch(ConvertScratch* scratch, size_t bytes) {
  if (!scratch) return nullptr;
  if (bytes <= scratch->size) return scratch->bytes;
  void* grown = std::realloc(scratch->bytes, bytes);
  if (!grown) return nullptr;
  scratch->bytes = static_cast<uint8_t*>(grown);
  scratch->size = bytes;
  return scratch->bytes;
}

uint32_t ScaleMode(uint32_t flags) { return (flags & COPY_SCALE_MASK) >> COPY_SCALE_SHIFT; }

// The destination x by which leading pixels are counted: the buffer base
// rounded down to 4 bytes by whole pixels, the first pixel's address unchanged.
int32_t AlignedDestX(const uint8_t* dest, int32_t dest_x, uint32_t bytes_per_pixel) {
  uint32_t mod = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dest) & 3);
  if (bytes_per_pixel == 2 && mod == 2) return dest_x + 1;
  if (bytes_per_pixel == 3 && mod != 0) return dest_x + static_cast<int32_t>(4 - mod);
  return dest_x;
}

Region Setup(const FamilyDescriptor& family, const CopyArgs& a) {
  uint32_t mode = ScaleMode(a.flags);
  bool grey = (a.flags & COPY_GRAYSCALE) != 0;
  bool x2 = mode == SCALE_W2 || mode == SCALE_W2_H2_DOUBLED || mode == SCALE_W2_H2_INTERLACED;
  Region r = {};
  r.line_doubled = mode == SCALE_H2_DOUBLED || mode == SCALE_W2_H2_DOUBLED;
  const GroupEntry* groups = family.groups;
  if (grey) {
    r.group_even = r.group_odd = groups[x2 ? GROUP_X2_GREY : GROUP_GREY];
  } else {
    r.group_even = groups[x2 ? GROUP_X2_EVEN : GROUP_COLOUR_EVEN];
    r.group_odd = groups[x2 ? GROUP_X2_ODD : GROUP_COLOUR_ODD];
  }
  r.row = family.rows[(grey ? 1 : 0) + (x2 ? 2 : 0) + (r.line_doubled ? 4 : 0)];
  r.out_bytes = family.bytes_per_pixel * (x2 ? 2 : 1);
  r.pitch = a.pitch;
  bool every_second_line = mode == SCALE_H2_INTERLACED || mode == SCALE_W2_H2_INTERLACED ||
                           mode == SCALE_H1_INTERLACED || r.line_doubled;
  r.dest_step = every_second_line ? 2 * a.pitch : a.pitch;
  r.luma_pitch = mode == SCALE_H1_INTERLACED ? 2 * size_t{a.plane_width} : a.plane_width;
  r.chroma_pitch = r.luma_pitch / 2;
  r.luma = a.frame;
  size_t luma_size = size_t{a.plane_width} * a.plane_height;
  const uint8_t* first = a.frame + luma_size;
  const uint8_t* second = first + luma_size / 4;
  // The first stored plane drives red unless the movie stores U first.
  bool u_first = (a.flags & COPY_UV_ORDER) != 0;
  r.u_plane = u_first ? first : second;
  r.v_plane = u_first ? second : first;
  r.alpha = a.alpha;
  r.scratch = a.scratch;
  r.align_x = AlignedDestX(a.dest, a.dest_x, family.bytes_per_pixel);
  return r;
}

void PointAt(const Region& r, RowPairContext& c, uint32_t x, uint32_t y, uint8_t* dest) {
  c.luma[0] = r.luma + y * r.luma_pitch + x;
  c.luma[1] = c.luma[0] + r.luma_pitch;
  size_t chroma = (y / 2) * r.chroma_pitch + x / 2;
  c.u = r.u_plane + chroma;
  c.v = r.v_plane + chroma;
  c.alpha[0] = r.alpha ? r.alpha + y * r.luma_pitch + x : nullptr;
  c.alpha[1] = r.alpha ? c.alpha[0] + r.luma_pitch : nullptr;
  c.dest[0] = dest;
  c.dest[1] = dest + r.dest_step;
  c.line_pitch = r.pitch;
}

// Moves every pointer of the context n pixels to the right of source x.
void Advance(const Region& r, RowPairContext& c, uint32_t& x, uint32_t n) {
  for (int i = 0; i < 2; ++i) {
    c.luma[i] += n;
    if (c.alpha[i]) c.alpha[i] += n;
    c.dest[i] += size_t{n} * r.out_bytes;
  }
  size_t chroma_step = ((x + n) >> 1) - (x >> 1);
  c.u += chroma_step;
  c.v += chroma_step;
  x += n;
}

void NextRows(const Region& r, RowPairContext& c, uint32_t x, uint32_t& y, uint32_t rows,
              uint8_t*& dest_line) {
  y += rows;
  dest_line += static_cast<intptr_t>(rows) * r.dest_step;
  PointAt(r, c, x, y, dest_line);
}

// A whole number of groups of both rows; line-doubled modes go through the
// scratch lines (or, without them, convert once per destination line).
void ConvertGroups(const Region& r, const RowPairContext& c, uint32_t x, uint32_t n) {
  const GroupEntry& group = (x & 1) ? r.group_odd : r.group_even;
  if (!r.line_doubled) {
    group.convert(c, 2, x & 1, n);
    return;
  }
  size_t line_bytes = (size_t{n} * r.out_bytes + 31) & ~size_t{31};
  uint8_t* scratch = Scratch(r.scratch, 2 * line_bytes);
  RowPairContext twin = c;
  if (!scratch) {
    group.convert(c, 2, x & 1, n);
    twin.dest[0] += r.pitch;
    twin.dest[1] += r.pitch;
    group.convert(twin, 2, x & 1, n);
    return;
  }
  twin.dest[0] = scratch;
  twin.dest[1] = scratch + line_bytes;
  group.convert(twin, 2, x & 1, n);
  size_t bytes = size_t{n} * r.out_bytes;
  for (int i = 0; i < 2; ++i) {
    std::memcpy(c.dest[i], twin.dest[i], bytes);
    std::memcpy(c.dest[i] + r.pitch, twin.dest[i], bytes);
  }
}

// One row pair: leading pixels to a 4-pixel destination boundary through the
// edge converter, whole groups, then the rest through the edge converter.
void ConvertPair(const Region& r, const RowPairContext& pair, uint32_t x, uint32_t width) {
  uint32_t lead = static_cast<uint32_t>(-r.align_x) & 3;
  if (lead > width) lead = width;
  uint32_t granularity = ((x + lead) & 1) ? r.group_odd.granularity : r.group_even.granularity;
  uint32_t groups = ((width - lead) >> granularity) << granularity;
  uint32_t trail = width - lead - groups;
  if (!lead && !trail) {
    // The common case takes the caller's context as it is: copying it would
    // read back the pointers just stored, which waits for every pending
    // store of the previous rows to drain.
    if (groups) ConvertGroups(r, pair, x, groups);
    return;
  }
  RowPairContext c = pair;
  if (lead) {
    r.row.edge(c, 2, x & 1, lead);
    Advance(r, c, x, lead);
  }
  if (groups) {
    ConvertGroups(r, c, x, groups);
    Advance(r, c, x, groups);
  }
  if (trail) r.row.edge(c, 2, x & 1, trail);
}

// The rectangle (source coordinates after mode 6 halving) into dest_line.
void ConvertRect(const Region& r, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                 uint8_t* dest_line) {
  if (!width || !height) return;
  RowPairContext c;
  PointAt(r, c, x, y, dest_line);
  if (y & 1) {
    // An odd first row shares the chroma row of the pair it belongs to.
    r.row.single(c, 1, x & 1, width);
    NextRows(r, c, x, y, 1, dest_line);
    --height;
  }
  for (; height >= 2; height -= 2) {
    ConvertPair(r, c, x, width);
    NextRows(r, c, x, y, 2, dest_line);
  }
  if (height) r.row.single(c, 1, x & 1, width);
}

struct Rect {
  uint32_t x, y, width, height;
};

Rect SourceRect(const CopyArgs& a) {
  Rect s = {a.src_x, a.src_y, a.src_width, a.src_height};
  if (ScaleMode(a.flags) == SCALE_H1_INTERLACED) {
    s.y /= 2;
    s.height /= 2;
  }
  return s;
}

uint8_t* FirstLine(const CopyArgs& a, uint32_t bytes_per_pixel) {
  return a.dest + static_cast<intptr_t>(a.dest_y) * a.pitch +
         static_cast<intptr_t>(a.dest_x) * static_cast<intptr_t>(bytes_per_pixel);
}

// Whether any map block under a cell's source area changed.
bool CellChanged(const CopyArgs& a, const Rect& s, uint32_t cell_x, uint32_t cell_y,
                 const uint8_t* map, uint32_t blocks_per_row, uint32_t block_rows) {
  uint32_t col0 = s.x + cell_x, col1 = col0 + 15;
  uint32_t row0 = s.y + cell_y, row1 = row0 + 15;
  if (ScaleMode(a.flags) == SCALE_H1_INTERLACED) {
    // The 16 converted rows are every second row of 32 stored ones.
    row0 *= 2;
    row1 = row1 * 2 + 1;
  }
  uint32_t last_row = row1 / 16 < block_rows ? row1 / 16 : block_rows - 1;
  uint32_t last_col = col1 / 16 < blocks_per_row ? col1 / 16 : blocks_per_row - 1;
  for (uint32_t by = row0 / 16; by <= last_row; ++by)
    for (uint32_t bx = col0 / 16; bx <= last_col; ++bx)
      if (map[size_t{by} * blocks_per_row + bx]) return true;
  return false;
}

// A run of whole cells over one band of 16 rows.
void ConvertRun(const Region& r, uint32_t x, uint32_t y, uint32_t width, uint8_t* dest) {
  RowPairContext c;
  PointAt(r, c, x, y, dest);
  for (int pair = 0; pair < 8; ++pair) {
    ConvertGroups(r, c, x, width);
    NextRows(r, c, x, y, 2, dest);
  }
}

// Rows of bytes; one block when both sides are contiguous.
void CopyRows(uint8_t* dest, intptr_t dest_pitch, const uint8_t* src, size_t src_pitch,
              uint32_t width, uint32_t rows) {
  if (dest_pitch == static_cast<intptr_t>(width) && src_pitch == width) {
    std::memcpy(dest, src, size_t{width} * rows);
    return;
  }
  for (uint32_t row = 0; row < rows; ++row)
    std::memcpy(dest + static_cast<intptr_t>(row) * dest_pitch, src + row * src_pitch, width);
}

}  // namespace

void FamilyFullCopy(const FamilyDescriptor& family, const CopyArgs& args) {
  Region r = Setup(family, args);
  Rect s = SourceRect(args);
  ConvertRect(r, s.x, s.y, s.width, s.height, FirstLine(args, family.bytes_per_pixel));
}

void FamilyChangedCopy(const FamilyDescriptor& family, const CopyArgs& args,
                       const uint8_t* block_map, uint32_t blocks_per_row, uint32_t block_rows) {
  Region r = Setup(family, args);
  Rect s = SourceRect(args);
  uint8_t* first = FirstLine(args, family.bytes_per_pixel);
  // Cells must begin on a chroma row; a rectangle starting on an odd row is
  // simply converted whole.
  if ((s.y & 1) || !blocks_per_row || !block_rows) {
    ConvertRect(r, s.x, s.y, s.width, s.height, first);
    return;
  }
  uint32_t cells = s.width / 16, bands = s.height / 16;
  for (uint32_t band = 0; band < bands; ++band) {
    uint8_t* band_dest = first + static_cast<intptr_t>(band) * 16 * r.dest_step;
    uint32_t y = s.y + 16 * band;
    // Neighbouring changed cells go through the group converter as one run:
    // the same pixels as cell by cell, with fewer calls.
    uint32_t cell = 0;
    while (cell < cells) {
      auto changed = [&](uint32_t c) {
        return CellChanged(args, s, 16 * c, 16 * band, block_map, blocks_per_row, block_rows);
      };
      if (!changed(cell)) {
        ++cell;
        continue;
      }
      uint32_t end = cell + 1;
      while (end < cells && changed(end)) ++end;
      ConvertRun(r, s.x + 16 * cell, y, 16 * (end - cell),
                 band_dest + size_t{16} * cell * r.out_bytes);
      cell = end;
    }
  }
  uint32_t done_width = cells * 16, done_height = bands * 16;
  ConvertRect(r, s.x + done_width, s.y, s.width - done_width, s.height,
              first + size_t{done_width} * r.out_bytes);
  ConvertRect(r, s.x, s.y + done_height, s.width, s.height - done_height,
              first + static_cast<intptr_t>(done_height) * r.dest_step);
}

void PlanarCopy(const CopyArgs& a, uint32_t dest_height) {
  // Planar chroma lies below the luma plane: a bottom-up buffer has no such
  // layout, so nothing is written for one.
  if (a.pitch <= 0) return;
  uint32_t sx = a.src_x, sy = a.src_y, width = a.src_width, height = a.src_height;
  int32_t dx = a.dest_x, dy = a.dest_y;
  bool shift_x = (sx & 1) || (dx & 1), shift_y = (sy & 1) || (dy & 1);
  sx += sx & 1, sy += sy & 1, dx += dx & 1, dy += dy & 1;
  if (shift_x) width = width ? width - 1 : 0;
  if (shift_y) height = height ? height - 1 : 0;
  width &= ~1u, height &= ~1u;
  if (!width || !height) return;

  size_t plane = a.plane_width;
  bool grey = (a.flags & COPY_GRAYSCALE) != 0;
  // The whole frame into a buffer of its own shape: the destination's planes
  // lie exactly as the frame's (V first), so one copy moves all three.
  if (!sx && !sy && !dx && !dy && width == plane && height == a.plane_height &&
      a.pitch == static_cast<intptr_t>(plane) && dest_height == a.plane_height && !grey &&
      !(a.flags & COPY_UV_ORDER)) {
    std::memcpy(a.dest, a.frame, plane * a.plane_height * 3 / 2);
    return;
  }
  CopyRows(a.dest + intptr_t{dy} * a.pitch + dx, a.pitch, a.frame + sy * plane + sx, plane, width,
           height);

  intptr_t chroma_pitch = a.pitch / 2;
  uint8_t* first_dest = a.dest + a.pitch * static_cast<intptr_t>(dest_height);
  uint8_t* second_dest = first_dest + chroma_pitch * static_cast<intptr_t>(dest_height / 2);
  const uint8_t* first_src = a.frame + plane * a.plane_height;
  const uint8_t* second_src = first_src + (plane / 2) * (a.plane_height / 2);
  // The destination wants V first; the frame stores V first unless UV order.
  if (a.flags & COPY_UV_ORDER) std::swap(first_src, second_src);
  intptr_t dest_offset = intptr_t{dy} / 2 * chroma_pitch + dx / 2;
  if (grey) {
    for (uint32_t row = 0; row < height / 2; ++row) {
      intptr_t line = static_cast<intptr_t>(row) * chroma_pitch;
      std::memset(first_dest + dest_offset + line, 128, width / 2);
      std::memset(second_dest + dest_offset + line, 128, width / 2);
    }
  } else {
    size_t src_offset = (sy / 2) * (plane / 2) + sx / 2;
    CopyRows(first_dest + dest_offset, chroma_pitch, first_src + src_offset, plane / 2, width / 2,
             height / 2);
    CopyRows(second_dest + dest_offset, chroma_pitch, second_src + src_offset, plane / 2, width / 2,
             height / 2);
  }
}

void ConvertScratchRelease(ConvertScratch* scratch) {
  std::free(scratch->bytes);
  scratch->bytes = nullptr;
  scratch->size = 0;
}
