// Opening and closing a movie: the header, track tables and frame index, the
// sizing of every buffer, preloading, the read-ahead fill and track
// selection. A movie is three allocations (the record with its small arrays,
// the frame buffers, the read-ahead ring with the frame-data buffer or the
// preload block) plus a ring and a decoder per played track.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "base/engine_memory.h"
#include "engine/movie.h"
#include "engine/movie_header.h"
#include "engine/movie_service.h"
#include "engine/sound_track.h"
#include "platform/cpu.h"
#include "platform/platform.h"
#include "video/video_decoder.h"

static_assert(std::endian::native == std::endian::little,
              "movie tables are used in place as little-endian words");

namespace {

constexpr uint32_t kLastErrorSize = 256;
constexpr uint32_t kMaxRequestedTracks = 256;
constexpr int32_t kUnset = -1;

char g_last_error[kLastErrorSize];

// Options set before an open, each consumed by the open that uses it.
int32_t g_rate_num = kUnset;
int32_t g_rate_den = 1;
uint32_t g_requested_count = 1;
uint32_t g_requested_ids[kMaxRequestedTracks];
int32_t g_read_speed = kUnset;
int32_t g_io_buffer_size = kUnset;
IoOpenFunction g_io_open = nullptr;
uint32_t g_memory_size = 0;  // 0 = the caller vouches for the image
// What a layer above the engine keeps between a movie's frames (the
// conversion's scratch lines), let go at every close.

void ResetRequestedTracks() {
  g_requested_count = 1;
  g_requested_ids[0] = 0;
}

// ---- Reader lock hooks: the reader node's mutex, or nothing without one ----
PlatformMutex* ReaderMutex(IoReader* io) { return io->service_node.mutex; }
void ReaderLock(IoReader* io) {
  if (PlatformMutex* m = ReaderMutex(io)) MutexLock(m);
}
int ReaderTryLock(IoReader* io) {
  PlatformMutex* m = ReaderMutex(io);
  return !m || MutexTryLock(m) ? 1 : 0;
}
void ReaderUnlock(IoReader* io) {
  if (PlatformMutex* m = ReaderMutex(io)) MutexUnlock(m);
}
void ReaderYield(IoReader*) { SleepMs(0); }

void FillReaderHooks(IoReader* io) {
  io->lock = ReaderLock;
  io->try_lock = ReaderTryLock;
  io->unlock = ReaderUnlock;
  io->yield = ReaderYield;
}

// ---- Open state ---------------------------------------------------------------

struct OpenJob {
  Movie local;            // the record while it is built, before its allocation
  Movie* movie = nullptr; // the allocated record, once there is one
  uint32_t open_flags = 0;
  bool from_memory = false;
  bool reader_open = false;
  const uint8_t* image = nullptr;
  uint32_t requested_count = 1;
  uint32_t requested_ids[kMaxRequestedTracks] = {};
  uint32_t forced_num = 0, forced_den = 0;  // 0: the movie's own rate plays
  uint32_t read_speed = 0;
  bool all_key = false;
  uint64_t source_length = 0;  // 0 = unknown
};

Movie* Current(OpenJob* job) { return job->movie ? job->movie : &job->local; }

// Gives back everything obtained so far, then records the reason.
Movie* FailOpen(OpenJob* job, const char* text) {
  Movie* m = Current(job);
  if (job->reader_open && m->io.close) m->io.close(&m->io);
  if (job->movie) {
    if (m->preload && !job->from_memory) EngineFree(m->preload);
    EngineFree(m->yuv_buffers[0]);
    if (m->io_buffer)
      EngineFree(m->io_buffer);  // carries frame_data
    else if (!m->preload)
      EngineFree(m->frame_data);
    EngineFree(job->movie);
  }
  MovieSetError(text);
  return nullptr;
}

bool OpenReader(OpenJob* job, const void* source) {
  IoOpenFunction open = IoFileOpen;
  if ((job->open_flags & OPEN_CUSTOM_IO) && g_io_open) open = g_io_open;
  g_io_open = nullptr;
  IoReader* io = &job->local.io;
  if (!open(io, source, job->open_flags)) {
    if (!g_last_error[0]) MovieSetError(MOVIE_ERROR_OPEN);
    return false;
  }
  job->reader_open = true;
  // The file reader knows its source's length, which bounds the tables.
  if (open == IoFileOpen) {
    const int64_t size = FileSize(io->file_handle);
    if (size > 0 && static_cast<uint64_t>(size) > io->base_offset)
      job->source_length = static_cast<uint64_t>(size) - io->base_offset;
  }
  return true;
}

// Doubling of the display size by scaling mode: 3 doubles the width, 4 and 5
// both, 1 and 2 the height, 6 neither.
void ApplyScaling(Movie* m, uint32_t open_flags) {
  const uint32_t asked = (open_flags & OPEN_SCALE_MASK) >> OPEN_SCALE_SHIFT;
  uint32_t mode = asked ? asked : (m->video_flags & VIDEO_FLAG_SCALE_MASK) >> OPEN_SCALE_SHIFT;
  if (asked == 7) mode = 0;
  m->flags |= mode << OPEN_SCALE_SHIFT;
  if (mode == 3 || mode == 4 || mode == 5) m->width *= 2;
  if (mode == 1 || mode == 2 || mode == 4 || mode == 5) m->height *= 2;
}

void ApplyVersionAndFlags(Movie* m, char version, uint32_t open_flags) {
  m->flags = open_flags & ~OPEN_SCALE_MASK;
  m->flags |= m->video_flags & OPEN_GRAYSCALE;
  if (!(m->video_flags & VIDEO_FLAG_ALPHA)) m->flags &= ~OPEN_ALPHA;
  ApplyScaling(m, open_flags);
  if (version == 'f' || version == 'g') m->flags |= OPEN_OLD_COLOURS | OPEN_UV_ORDER;
  if (version == 'h') m->flags |= OPEN_OLD_COLOURS;
  m->cpu_flags = CpuKernelFlags((m->flags & OPEN_NO_MMX) != 0);
  VideoKernelsInit(&m->video_kernels, m->cpu_flags);
}

void ApplyFrameRate(OpenJob* job) {
  Movie* m = &job->local;
  m->file_rate_num = m->rate_num;
  m->file_rate_den = m->rate_den;
  if ((job->open_flags & OPEN_FRAME_RATE) && g_rate_num != kUnset) {
    if (g_rate_num == 0) {
      // As fast as possible, whatever the denominator: the player's bare /F
      // hands over 0/0. A denominator of 1 keeps every later division defined.
      m->rate_num = 0;
      m->rate_den = 1;
    } else if (g_rate_den != 0) {  // n/0 cannot be a rate: the movie's own plays
      m->rate_num = static_cast<uint32_t>(g_rate_num);
      m->rate_den = static_cast<uint32_t>(g_rate_den);
      job->forced_num = m->rate_num;
      job->forced_den = m->rate_den;
    }
    g_rate_num = kUnset;
  }
  m->history_len = std::max<uint32_t>(1, (m->file_rate_num + m->file_rate_den / 2) / m->file_rate_den);
  m->history_shift = 4 * (m->history_len - 1);
}

// The record's small arrays, gathered into its allocation.
void RegisterRecordArrays(OpenJob* job) {
  Movie* m = &job->local;
  EngineDefer(&m->block_map, m->block_count + 16);
  uint32_t** history[] = {&m->history_time,   &m->history_audio,     &m->history_video,
                          &m->history_blit,   &m->history_read,      &m->history_idle_read,
                          &m->history_background_read};
  for (uint32_t** h : history) EngineDefer(h, m->history_len * 4);
  const uint32_t records = std::max<uint32_t>(job->requested_count, 1);
  EngineDefer(&m->tracks, records * static_cast<uint32_t>(sizeof(SoundTrack)));
  EngineDefer(&m->selected_tracks, records * 4);
  uint32_t bundle_sizes[BUNDLE_COUNT];
  BundleBuffersSize(m->plane_width, bundle_sizes);
  for (int b = 0; b < MOVIE_BUNDLE_COUNT; b++) EngineDefer(&m->bundle_buffers[b], bundle_sizes[b]);
  // Tables are copied even from a memory image: its words need not be aligned.
  EngineDefer(&m->frame_index, 4 * (m->index_frames + 1));
  EngineDefer(&m->track_max_bytes, 4 * m->track_count);
  EngineDefer(&m->track_formats, 4 * m->track_count);
  EngineDefer(&m->track_ids, 4 * m->track_count);
}

bool AllocateRecord(OpenJob* job) {
  const uint32_t total = EnginePendingState().total;
  auto* block = static_cast<uint8_t*>(MovieAlloc(&job->local, sizeof(Movie)));
  if (!block) return false;
  // Zero the record and every array that came with it, then move the record in.
  std::memset(block, 0, ((sizeof(Movie) + 31) & ~size_t{31}) + total);
  job->movie = reinterpret_cast<Movie*>(block);
  std::memcpy(static_cast<void*>(job->movie), static_cast<const void*>(&job->local), sizeof(Movie));
  job->movie->io.owner = job->movie;
  job->movie->io.service_node.owner = &job->movie->io;
  job->movie->sound_node.owner = job->movie;
  return true;
}

// Reads the three track tables and the frame index that follow the header.
bool ReadTables(OpenJob* job) {
  Movie* m = job->movie;
  const uint32_t table_bytes = 4 * m->track_count;
  const uint32_t index_bytes = 4 * (m->index_frames + 1);
  auto* max_bytes = const_cast<uint32_t*>(m->track_max_bytes);
  auto* formats = const_cast<uint32_t*>(m->track_formats);
  auto* ids = const_cast<uint32_t*>(m->track_ids);
  auto* index = const_cast<uint32_t*>(m->frame_index);
  if (job->from_memory) {
    const uint8_t* at = job->image + MOVIE_HEADER_SIZE;
    std::memcpy(max_bytes, at, table_bytes);
    std::memcpy(formats, at + table_bytes, table_bytes);
    std::memcpy(ids, at + 2 * table_bytes, table_bytes);
    std::memcpy(index, at + 3 * table_bytes, index_bytes);
    return true;
  }
  IoReader* io = &m->io;
  return io->read_header(io, -1, max_bytes, table_bytes) == table_bytes &&
         io->read_header(io, -1, formats, table_bytes) == table_bytes &&
         io->read_header(io, -1, ids, table_bytes) == table_bytes &&
         io->read_header(io, -1, index, index_bytes) == index_bytes;
}

// The two frame buffers (one when every frame is a key frame) and the alpha
// planes, in one allocation.
bool AllocateFrameBuffers(OpenJob* job) {
  Movie* m = job->movie;
  const uint32_t luma = m->plane_width * m->plane_height;
  const uint32_t chroma = m->chroma_width * m->chroma_height;
  const uint32_t frame = luma + 2 * chroma;
  if (m->flags & OPEN_ALPHA) {
    EngineDefer(&m->alpha_buffers[0], luma);
    if (!job->all_key) EngineDefer(&m->alpha_buffers[1], luma);
  }
  if (!job->all_key) EngineDefer(&m->yuv_buffers[1], frame);
  m->yuv_buffers[0] = static_cast<uint8_t*>(MovieAlloc(m, frame));
  if (!m->yuv_buffers[0]) return false;
  if (job->all_key) {
    m->yuv_buffers[1] = m->yuv_buffers[0];
    m->alpha_buffers[1] = m->alpha_buffers[0];
  }
  // A stream that predicts before its first key frame sees black, not garbage.
  for (int b = 0; b < (job->all_key ? 1 : 2); b++) {
    std::memset(m->yuv_buffers[b], 0, luma);
    std::memset(m->yuv_buffers[b] + luma, 128, 2 * chroma);
    if (m->alpha_buffers[b]) std::memset(m->alpha_buffers[b], 0, luma);
  }
  return true;
}

// The frame-data buffer holds the largest frame of the index (each is at
// most the header's largest_frame), and never more than the source holds:
// a header may claim gigabytes for a file of a few hundred bytes. Frames
// reaching past the end are missing all the same.
void SizeFrameData(OpenJob* job) {
  Movie* m = job->movie;
  uint32_t largest = 0;
  for (uint32_t k = 1; k <= m->frames; k++) largest = std::max(largest, MovieFrameSize(m, k));
  if (job->source_length) largest = static_cast<uint32_t>(std::min<uint64_t>(largest, job->source_length));
  m->frame_data_size = largest;
}

// Reads every frame into one block and closes the reader.
bool Preload(OpenJob* job) {
  Movie* m = job->movie;
  const uint32_t first = m->frame_index[0] & ~1u;
  // No more than the file holds, whatever length the header claims.
  uint64_t length = uint64_t{m->size_less_8} + 8;
  if (job->source_length) length = std::min<uint64_t>(length, job->source_length);
  const uint32_t bytes = static_cast<uint32_t>(length - first);  // tables end <= source length
  m->preload = static_cast<uint8_t*>(EngineAlloc(std::max<uint32_t>(bytes, 1)));
  if (!m->preload) return false;
  m->memory_used += bytes;
  IoReader* io = &m->io;
  io->set_info(io, nullptr, 0, static_cast<uint32_t>(length), job->read_speed);
  const uint32_t got = io->read_frame(io, 0, first, m->preload, bytes);
  // A short read keeps what arrived: the frames wholly inside it play, the
  // first frame reaching past it meets the read error (MovieLoadFrame).
  if (got < bytes) std::memset(m->preload + got, 0, bytes - got);
  m->preload_bytes = got;
  io->read_error = 0;
  io->close(io);
  job->reader_open = false;
  io->frame_read_time_ms = 0;
  return true;
}

// The read-ahead ring with the frame-data buffer behind it. Without memory
// for the ring the movie reads straight from the file, but the frame-data
// buffer is indispensable.
bool AllocateReadBuffers(OpenJob* job) {
  Movie* m = job->movie;
  EngineDefer(&m->frame_data, m->frame_data_size);
  m->io_buffer = static_cast<uint8_t*>(MovieAlloc(m, m->io_buffer_size));
  if (!m->io_buffer) {
    m->io_buffer_size = 0;
    m->frame_data = static_cast<uint8_t*>(EngineAlloc(std::max<uint32_t>(m->frame_data_size, 1)));
    if (!m->frame_data) return false;
  }
  m->io.set_info(&m->io, m->io_buffer, m->io_buffer_size, m->size_less_8 + 8, job->read_speed);
  return true;
}

// Requested identifiers in request order; each names the first file track
// that carries it. A file track is selected at most once.
void SelectTracks(OpenJob* job) {
  Movie* m = job->movie;
  uint32_t count = 0;
  for (uint32_t r = 0; r < job->requested_count; r++) {
    for (uint32_t t = 0; t < m->track_count; t++) {
      if (m->track_ids[t] != job->requested_ids[r]) continue;
      if (std::find(m->selected_tracks, m->selected_tracks + count, t) == m->selected_tracks + count)
        m->selected_tracks[count++] = t;
      break;
    }
  }
  m->selected_count = count;
}

// The seeks' table of where each played track's sound stands per frame
// (P(1) = 0 for every track, nothing scanned yet). Without memory for it
// seeks still work, with the sound restarting at the new frame's packet.
void AllocateSoundPositions(Movie* m) {
  if (!m->selected_count) return;
  const uint64_t bytes = uint64_t{m->selected_count} * (uint64_t{m->frames} + 1) * 8;
  if (bytes >= UINT32_MAX) return;
  m->sound_positions = static_cast<uint64_t*>(EngineAlloc(static_cast<uint32_t>(bytes)));
  if (!m->sound_positions) return;
  std::memset(m->sound_positions, 0, static_cast<size_t>(bytes));
  m->memory_used += static_cast<uint32_t>(bytes);
  m->sound_positions_known = 0;
}

void FillReadAhead(Movie* m) {
  for (;;) {
    const int32_t got = m->io.idle(&m->io);
    if (got == 0) break;
  }
}

Movie* OpenSteps(OpenJob* job, const void* source, uint32_t open_start) {
  Movie* m = &job->local;
  uint8_t header[MOVIE_HEADER_SIZE] = {};
  uint32_t header_bytes = MOVIE_HEADER_SIZE;
  const uint32_t image_size = g_memory_size;  // consumed by every open
  g_memory_size = 0;
  if (job->from_memory) {
    // With a known image length nothing outside the image is ever read.
    if (image_size) {
      header_bytes = std::min(image_size, MOVIE_HEADER_SIZE);
      job->source_length = image_size;
    }
    std::memcpy(header, job->image, header_bytes);
  } else {
    if (!OpenReader(job, source)) return nullptr;
    header_bytes = m->io.read_header(&m->io, 0, header, MOVIE_HEADER_SIZE);
  }

  MovieHeaderInfo info;
  if (const char* refusal = MovieParseHeader(header, header_bytes, &info)) return FailOpen(job, refusal);
  MovieApplyHeader(m, info);
  ApplyVersionAndFlags(m, info.version, job->open_flags);
  ApplyFrameRate(job);
  if (const char* refusal = MovieCheckLayout(m, job->source_length)) return FailOpen(job, refusal);

  RegisterRecordArrays(job);
  if (!AllocateRecord(job)) return FailOpen(job, MOVIE_ERROR_MEMORY);
  m = job->movie;
  if (!ReadTables(job)) return FailOpen(job, MOVIE_ERROR_TABLES_SHORT);
  if (const char* refusal = MovieCheckIndex(m)) return FailOpen(job, refusal);
  job->all_key = FindPeakRate(m);
  SizeFrameData(job);
  if (!AllocateFrameBuffers(job)) return FailOpen(job, MOVIE_ERROR_MEMORY);

  m->io_buffer_size = m->peak_rate;
  if ((job->open_flags & OPEN_IO_SIZE) && g_io_buffer_size != kUnset) {
    m->io_buffer_size = static_cast<uint32_t>(g_io_buffer_size);
    g_io_buffer_size = kUnset;
  }
  if ((job->open_flags & OPEN_READ_SPEED) && g_read_speed != kUnset) {
    job->read_speed = static_cast<uint32_t>(g_read_speed);
    g_read_speed = kUnset;
  }
  if (job->from_memory) {
    const uint32_t first = m->frame_index[0] & ~1u;
    m->preload = const_cast<uint8_t*>(job->image) + first;
    uint64_t image_end = uint64_t{m->size_less_8} + 8;
    if (job->source_length) image_end = std::min<uint64_t>(image_end, job->source_length);
    m->preload_bytes = static_cast<uint32_t>(image_end - first);  // tables end <= image end
  } else {
    // A ring larger than the whole file would never fill.
    if (job->source_length)
      m->io_buffer_size = static_cast<uint32_t>(std::min<uint64_t>(m->io_buffer_size, job->source_length));
    m->io_buffer_size = m->io.get_buffer_size(&m->io, m->io_buffer_size);
    if (m->io_buffer_size >= uint64_t{m->size_less_8} * 9 / 10) m->flags |= OPEN_PRELOAD;
    if (m->flags & OPEN_PRELOAD) {
      m->io_buffer_size = 0;
      if (!Preload(job)) return FailOpen(job, MOVIE_ERROR_MEMORY);
    } else if (!AllocateReadBuffers(job)) {
      return FailOpen(job, MOVIE_ERROR_MEMORY);
    }
  }

  m->block_map[m->block_count] = 0;
  m->frame_num = -1;
  m->late_limit = m->rate_num ? static_cast<uint32_t>(2000 * uint64_t{m->rate_den} / m->rate_num) : 2000;
  m->video_on = 1;
  MovieLoadFrame(m, 1);
  m->open_ms = MovieClockMs() - open_start;
  m->tracks[0].speed_factor = SOUND_SPEED_NOMINAL;

  SelectTracks(job);
  SoundTracksOpen(m, job->forced_num, job->forced_den);
  AllocateSoundPositions(m);
  // The hooks go in before the reading thread can call the reader.
  FillReaderHooks(&m->io);
  MovieServiceAttach(m);
  if (!m->preload && !(m->flags & OPEN_NO_FILL)) FillReadAhead(m);
  return m;
}

}  // namespace

const char* MovieGetError() { return g_last_error; }

void MovieSetError(const char* text) {
  std::snprintf(g_last_error, sizeof(g_last_error), "%s", text ? text : "");
}

void MovieSetFrameRate(int32_t num, int32_t den) {
  g_rate_num = num;
  g_rate_den = den;
}

void MovieSetSoundTracks(uint32_t count, const uint32_t* ids) {
  if (!ids) count = 0;
  g_requested_count = std::min(count, kMaxRequestedTracks);
  for (uint32_t i = 0; i < g_requested_count; i++) g_requested_ids[i] = ids[i];
}

void MovieSetReadSpeed(int32_t bytes_per_second) { g_read_speed = bytes_per_second; }
void MovieSetIoBufferSize(int32_t bytes) { g_io_buffer_size = bytes; }
void MovieSetIoOpen(IoOpenFunction open) { g_io_open = open; }
void MovieSetMemorySize(uint32_t bytes) { g_memory_size = bytes; }

Movie* MovieOpen(const void* source, uint32_t flags) {
  if (!(flags & OPEN_TRACKS)) ResetRequestedTracks();
  const uint32_t open_start = MovieClockMs();
  g_last_error[0] = 0;

  OpenJob job;
  std::memset(static_cast<void*>(&job.local), 0, sizeof(job.local));
  job.open_flags = flags;
  job.from_memory = (flags & OPEN_FROM_MEMORY) != 0;
  job.image = job.from_memory ? static_cast<const uint8_t*>(source) : nullptr;
  job.requested_count = g_requested_count;
  std::copy_n(g_requested_ids, g_requested_count, job.requested_ids);
  if (job.from_memory && !source) {
    MovieSetError(MOVIE_ERROR_OPEN);
    return nullptr;
  }
  Movie* movie = OpenSteps(&job, source, open_start);
  if (movie) ResetRequestedTracks();
  return movie;
}

void MovieClose(Movie* movie) {
  if (!movie) return;
  for (uint32_t i = 0; i < movie->selected_count; i++)
    if (movie->tracks[i].pause) movie->tracks[i].pause(&movie->tracks[i], 1);
  movie->paused = 1;
  // The service threads let go of the movie first (and end with their last
  // movie); the reader's hooks then do nothing.
  MovieServiceDetach(movie);
  SoundTracksClose(movie);
  EngineFree(movie->sound_positions);
  if (movie->convert_release) movie->convert_release(movie->convert_state);
  const bool from_memory = (movie->flags & OPEN_FROM_MEMORY) != 0;
  if (movie->preload) {
    if (!from_memory) EngineFree(movie->preload);
  } else {
    if (movie->io.close) movie->io.close(&movie->io);
    if (!movie->io_buffer) EngineFree(movie->frame_data);
    EngineFree(movie->io_buffer);
  }
  EngineFree(movie->yuv_buffers[0]);
  std::memset(static_cast<void*>(movie), 0, sizeof(*movie));
  EngineFree(movie);
}
