#include "convert/copy_to_buffer.h"

#include <algorithm>
#include <new>

#include "convert/colour_tables.h"
#include "convert/copy_drivers.h"
#include "convert/families.h"
#include "engine/movie.h"
#include "engine/movie_clock.h"

namespace {

// The conversion's state of one movie: the row kernels for the movie's
// processor flags, the plain ones for copies that ask for no vector code, and
// the scratch lines. Made by the first copy, released by the movie's close.
struct ConvertState {
  RowKernels kernels;
  RowKernels plain;
  ConvertScratch scratch;
  uint32_t used_vector;
};

void ReleaseState(void* state) {
  auto* s = static_cast<ConvertState*>(state);
  ConvertScratchRelease(&s->scratch);
  delete s;
}

ConvertState* StateOf(Movie* m) {
  if (m->convert_state) return static_cast<ConvertState*>(m->convert_state);
  auto* s = new (std::nothrow) ConvertState{};
  if (!s) return nullptr;
  RowKernelsInit(&s->kernels, m->cpu_flags);
  RowKernelsInit(&s->plain, 0);
  m->convert_state = s;
  m->convert_release = ReleaseState;
  return s;
}

constexpr uint32_t kMaxSkipRun = 3;

// Maps one source coordinate or length from display to decoded pixels.
uint32_t ToDecoded(uint32_t value, uint32_t decoded, uint32_t display) {
  if (display == 0) return 0;
  return static_cast<uint32_t>(uint64_t{value} * decoded / display);
}

// 0: copy; 1: copy but report lateness; 2: skip and report lateness.
enum LateAction { LATE_COPY, LATE_COPY_REPORT, LATE_SKIP };

LateAction CheckLateness(Movie* m, uint32_t flags) {
  if (m->selected_count == 0 || m->rate_num == 0 || m->paused) return LATE_COPY;
  MovieStartClock(m);
  uint32_t now = MovieClockMs();
  uint32_t due = MovieDueMs(m, m->frames_decoded - m->clock_start_frames);
  uint32_t elapsed = now - m->clock_adjust - m->clock_start;
  if (elapsed < due) {
    m->skip_blit = 0;
    return LATE_COPY;
  }
  if (elapsed - due <= m->late_limit) {
    m->skip_run = 0;
    m->skip_blit = 0;
    return LATE_COPY;
  }
  if (++m->skip_run > kMaxSkipRun) {
    // At most three copies in a row are skipped; this one goes through.
    m->skip_run = 0;
    return LATE_COPY;
  }
  if ((flags & COPY_NO_SKIP) || (m->flags & OPEN_NO_SKIP)) return LATE_COPY_REPORT;
  m->skip_blit = 1;
  ++m->skipped_blits;
  return LATE_SKIP;
}

// Reads one chunk ahead when the ring is under 75 % full and the reader's
// mutex is free right now; the copy never waits for the background thread.
void ReadAhead(Movie* m) {
  IoReader& io = m->io;
  if (m->preload || io.reading_now) return;
  uint64_t fill = (uint64_t{io.buffered.load()} + 1) * 100 / (uint64_t{io.fill_target} + 1);
  if (fill >= 75) return;
  if (!io.try_lock || io.try_lock(&io)) {
    if (io.idle) io.idle(&io);
    if (io.unlock) io.unlock(&io);
  } else if (!(m->flags & OPEN_NO_THREAD) && io.yield) {
    io.yield(&io);
  }
}

// Whether the changed-block map leaves at least one block unchanged.
bool SomeBlockUnchanged(const Movie* m) {
  if (!m->block_map) return false;
  for (uint32_t i = 0; i < m->block_count; ++i)
    if (m->block_map[i] == 0) return true;
  return false;
}

void Dispatch(Movie* m, const RowKernels& kernels, const CopyArgs& args, uint32_t dest_height) {
  uint32_t format = args.flags & COPY_FORMAT_MASK;
  if (format == COPY_YV12) {
    PlanarCopy(args, dest_height);
    return;
  }
  FamilyId id = FamilyForFormat(format, args.alpha != nullptr);
  if (id == FAMILY_COUNT) return;
  const FamilyDescriptor& family = kernels.families[id];
  uint32_t block_rows = m->blocks_per_row ? m->block_count / m->blocks_per_row : 0;
  if (!(args.flags & COPY_ALL) && SomeBlockUnchanged(m))
    FamilyChangedCopy(family, args, m->block_map, m->blocks_per_row, block_rows);
  else
    FamilyFullCopy(family, args);
}

}  // namespace

uint32_t ConvertUsedVector(const Movie* movie) {
  const auto* s = static_cast<const ConvertState*>(movie->convert_state);
  return s ? s->used_vector : 0;
}

uint32_t CopyBytesPerPixel(uint32_t format) {
  static constexpr uint8_t kBytes[COPY_FORMAT_COUNT] = {0, 3, 3, 4, 4, 4, 4, 2,
                                                        2, 2, 2, 2, 2, 2, 2, 1};
  return format < COPY_FORMAT_COUNT ? kBytes[format] : 0;
}

int32_t MovieCopyToBuffer(Movie* movie, void* dest, int32_t dest_pitch, uint32_t dest_height,
                          int32_t dest_x, int32_t dest_y, uint32_t src_x, uint32_t src_y,
                          uint32_t src_width, uint32_t src_height, uint32_t flags) {
  if (!movie || !dest) return 0;
  Movie* m = movie;
  uint32_t x = ToDecoded(src_x, m->decoded_width, m->width);
  uint32_t y = ToDecoded(src_y, m->decoded_height, m->height);
  uint32_t width = ToDecoded(src_width, m->decoded_width, m->width);
  uint32_t height = ToDecoded(src_height, m->decoded_height, m->height);
  // The frame never reaches past its padded planes, whatever the record says.
  uint32_t frame_width = std::min(m->decoded_width, m->plane_width);
  uint32_t frame_height = std::min(m->decoded_height, m->plane_height);
  if (x > frame_width) x = frame_width;
  if (y > frame_height) y = frame_height;
  if (width > frame_width - x) width = frame_width - x;
  if (height > frame_height - y) height = frame_height - y;
  if (width == 0 || height == 0) return 0;

  flags |= m->flags & COPY_MOVIE_FLAG_MASK;
  m->io.foreground_busy = 1;
  ConvertPrepareTables(static_cast<int32_t>(flags & COPY_FORMAT_MASK));

  uint8_t* base = static_cast<uint8_t*>(dest);
  if (dest_pitch < 0) {
    // Bottom-up buffer: line destY counted from the top is the first written.
    base += static_cast<intptr_t>(dest_pitch) *
            (static_cast<intptr_t>(dest_y) - static_cast<intptr_t>(dest_height) + 1);
    dest_y = 0;
  }

  LateAction late = CheckLateness(m, flags);
  if (late == LATE_SKIP) {
    m->io.foreground_busy = 0;
    return 1;
  }
  ReadAhead(m);
  m->copy_flags = flags;
  // The movie's own no-vector flag counts too: a movie opened without vector
  // paths gets none anywhere.
  bool plain = (flags & COPY_NO_MMX) || (m->flags & OPEN_NO_MMX);
  ConvertState* state = StateOf(m);
  ConvertState fallback;  // out of memory: plain converters, no scratch lines
  if (!state) {
    RowKernelsInit(&fallback.plain, 0);
    fallback.used_vector = 0;
    plain = true;
    state = &fallback;
  }
  state->used_vector = !plain && m->cpu_flags ? 1 : 0;

  uint32_t shown = (m->cur_buffer & 1) ^ 1;  // the buffer decoded last
  CopyArgs args = {};
  args.dest = base;
  args.dest_x = dest_x;
  args.dest_y = dest_y;
  args.pitch = dest_pitch;
  args.frame = m->yuv_buffers[shown];
  args.alpha = m->alpha_buffers[0] ? m->alpha_buffers[shown] : nullptr;
  args.src_x = x;
  args.src_y = y;
  args.src_width = width;
  args.src_height = height;
  args.plane_width = m->plane_width;
  args.plane_height = m->plane_height;
  args.flags = flags;
  args.scratch = state == &fallback ? nullptr : &state->scratch;
  if (args.frame) Dispatch(m, plain ? state->plain : state->kernels, args, dest_height);
  m->io.foreground_busy = 0;
  return late == LATE_COPY ? 0 : 1;
}
