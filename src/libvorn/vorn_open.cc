// libvorn: opening and closing movies, their information, results and texts.
#include <cstdio>
#include <cstring>

#include "engine/movie.h"
#include "engine/movie_header.h"
#include "libvorn/vorn_handle.h"
#include "platform/platform.h"

namespace {

thread_local std::string t_open_error;

uint32_t EngineFlags(uint32_t flags) {
  uint32_t engine = OPEN_TRACKS | OPEN_NO_THREAD;
  if (!(flags & VORN_OPEN_NO_ALPHA)) engine |= OPEN_ALPHA;
  if (flags & VORN_OPEN_GREY) engine |= OPEN_GRAYSCALE;
  if (flags & VORN_OPEN_NO_VECTOR) engine |= OPEN_NO_MMX;
  if (flags & VORN_OPEN_NO_SCALING) engine |= 7u << OPEN_SCALE_SHIFT;
  return engine;
}

constexpr uint32_t kKnownFlags =
    VORN_OPEN_NO_ALPHA | VORN_OPEN_GREY | VORN_OPEN_NO_AUDIO | VORN_OPEN_NO_SCALING | VORN_OPEN_NO_VECTOR;

// The engine's refusal texts that mean "not a usable movie" rather than
// "could not read it" or "no memory".
int ResultForEngineError(const char* text) {
  if (!std::strcmp(text, MOVIE_ERROR_MEMORY)) return VORN_ERROR_MEMORY;
  if (!std::strcmp(text, MOVIE_ERROR_OPEN)) return VORN_ERROR_OPEN;
  return VORN_ERROR_NOT_MOVIE;
}

int FailOpen(int result, const char* text) {
  t_open_error = text;
  return result;
}

// Frames whose packets end within the data's known length: a cut-short
// movie plays the frames it has and then ends.
uint32_t CompleteFrames(const Movie* movie, int64_t length) {
  if (length < 0) return movie->frames;
  uint32_t complete = 0;
  while (complete < movie->frames &&
         static_cast<int64_t>(MovieFrameOffset(movie, complete + 1) + MovieFrameSize(movie, complete + 1)) <= length)
    complete++;
  return complete;
}

// Releases the handle; the caller holds the library's lock.
void CloseLocked(vorn_movie* m) {
  VornCloseTracks(m);
  MovieClose(m->movie);
  if (m->source) {
    VornSourceClose(m->source);
    delete m->source;
  }
  delete m;
}

// The engine's open has succeeded: the handle takes the movie over.
int Adopt(Movie* movie, VornSource* source, int64_t length, uint32_t flags, vorn_movie** out) {
  auto* m = new vorn_movie;
  m->movie = movie;
  m->flags = flags;
  m->source = source;
  m->frames = CompleteFrames(movie, length);
  m->frames_missing = movie->frames - m->frames;
  if (m->frames == 0) {
    MovieClose(movie);
    delete source;
    delete m;
    return FailOpen(VORN_ERROR_NOT_MOVIE, "The movie's data ends before its first frame is complete.");
  }
  if (m->frames_missing) {
    char text[160];
    std::snprintf(text, sizeof text, "The movie is cut short: only %u of its %u frames are present.",
                  m->frames, movie->frames);
    m->message = text;
  }
  if (movie->flags & OPEN_GRAYSCALE) m->neutral.assign(size_t{movie->plane_width / 2} * (movie->plane_height / 2), 128);
  if (!VornOpenTracks(m)) {
    CloseLocked(m);
    return FailOpen(VORN_ERROR_MEMORY, MOVIE_ERROR_MEMORY);
  }
  *out = m;
  return VORN_OK;
}

// Opens through the callback reader; the source is the handle's from here on.
int OpenThroughSource(VornSource* source, uint32_t flags, vorn_movie** out) {
  MovieSetSoundTracks(0, nullptr);
  MovieSetIoOpen(VornCallbackIoOpen);
  Movie* movie = MovieOpen(source, EngineFlags(flags) | OPEN_CUSTOM_IO);
  if (!movie) {
    VornSourceClose(source);
    delete source;
    return FailOpen(ResultForEngineError(MovieGetError()), MovieGetError());
  }
  return Adopt(movie, source, source->size, flags, out);
}

bool CheckOpenArguments(const void* source, uint32_t flags, vorn_movie** out) {
  if (out) *out = nullptr;
  if (!out || !source) {
    t_open_error = "A null argument was given.";
    return false;
  }
  if (flags & ~kKnownFlags) {
    t_open_error = "Unknown open flags were given.";
    return false;
  }
  t_open_error.clear();
  return true;
}

}  // namespace

std::mutex& VornLock() {
  static std::mutex lock;
  return lock;
}

uint64_t VornMulDiv(uint64_t a, uint64_t b, uint64_t c) {
#if defined(__SIZEOF_INT128__)
  return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
#else
  return static_cast<uint64_t>(static_cast<long double>(a) * b / c);
#endif
}

extern "C" {

const char* vorn_version(void) { return VORN_VERSION; }
uint32_t vorn_version_number(void) { return VORN_VERSION_NUMBER; }

const char* vorn_result_text(int result) {
  switch (result) {
    case VORN_OK: return "No error.";
    case VORN_END: return "The movie has no further frame.";
    case VORN_DAMAGED: return "The frame's data is damaged.";
    case VORN_ERROR_ARGUMENT: return "An argument is not valid.";
    case VORN_ERROR_OPEN: return "The movie could not be opened.";
    case VORN_ERROR_NOT_MOVIE: return "The data is not a usable Vorn movie.";
    case VORN_ERROR_MEMORY: return "Out of memory.";
    case VORN_ERROR_READ: return "The movie's data could not be read.";
    case VORN_ERROR_NO_FRAME: return "No frame has been decoded yet.";
    default: return "Unknown result.";
  }
}

const char* vorn_error_text(const vorn_movie* movie) {
  return movie ? movie->message.c_str() : t_open_error.c_str();
}

int vorn_open_file(const char* path, uint32_t flags, vorn_movie** out) {
  if (!CheckOpenArguments(path, flags, out)) return VORN_ERROR_ARGUMENT;
  std::lock_guard<std::mutex> hold(VornLock());
  int64_t length = -1;
  const PlatformFile file = FileOpenRead(path, true);
  if (file != kInvalidFile) {
    length = FileSize(file);
    FileClose(file);
  }
  MovieSetSoundTracks(0, nullptr);
  Movie* movie = MovieOpen(path, EngineFlags(flags));
  if (!movie) return FailOpen(ResultForEngineError(MovieGetError()), MovieGetError());
  if (CompleteFrames(movie, length) == movie->frames) return Adopt(movie, nullptr, length, flags, out);
  // A cut-short file: the engine's reader would preload it and fail on the
  // missing end; the callback reader reads frame by frame up to the cut.
  MovieClose(movie);
  VornSource* source = VornFileSource(path);
  if (!source) return FailOpen(VORN_ERROR_OPEN, MOVIE_ERROR_OPEN);
  return OpenThroughSource(source, flags, out);
}

int vorn_open_memory(const void* data, size_t size, uint32_t flags, vorn_movie** out) {
  if (!CheckOpenArguments(data, flags, out)) return VORN_ERROR_ARGUMENT;
  if (size < MOVIE_HEADER_SIZE) return FailOpen(VORN_ERROR_NOT_MOVIE, MOVIE_ERROR_HEADER_SHORT);
  std::lock_guard<std::mutex> hold(VornLock());
  MovieSetSoundTracks(0, nullptr);
  MovieSetMemorySize(size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size));
  Movie* movie = MovieOpen(data, EngineFlags(flags) | OPEN_FROM_MEMORY);
  if (movie) return Adopt(movie, nullptr, static_cast<int64_t>(size), flags, out);
  // An image shorter than its header says is read through the callback
  // reader, which plays the frames the image holds.
  if (std::strcmp(MovieGetError(), MOVIE_ERROR_IMAGE_SHORT) != 0)
    return FailOpen(ResultForEngineError(MovieGetError()), MovieGetError());
  return OpenThroughSource(VornMemorySource(data, size), flags, out);
}

int vorn_open_callbacks(const vorn_io* io, void* user, uint32_t flags, vorn_movie** out) {
  if (!CheckOpenArguments(io, flags, out) || !io->read) {
    if (io && io->close) io->close(user);
    if (out && io) t_open_error = "The read callback is missing.";
    return VORN_ERROR_ARGUMENT;
  }
  std::lock_guard<std::mutex> hold(VornLock());
  return OpenThroughSource(VornCallbackSource(io, user), flags, out);
}

void vorn_close(vorn_movie* m) {
  if (!m) return;
  std::lock_guard<std::mutex> hold(VornLock());
  CloseLocked(m);
}

int vorn_get_info(const vorn_movie* m, vorn_info* info) {
  if (!m || !info) return VORN_ERROR_ARGUMENT;
  const Movie* movie = m->movie;
  std::memset(info, 0, sizeof *info);
  info->width = movie->decoded_width;
  info->height = movie->decoded_height;
  info->display_width = movie->width;
  info->display_height = movie->height;
  info->frames = m->frames;
  info->frames_missing = m->frames_missing;
  info->rate_num = movie->file_rate_num;
  info->rate_den = movie->file_rate_den;
  info->track_count = movie->track_count;
  info->has_alpha = movie->alpha_buffers[0] ? 1 : 0;
  info->grey = movie->flags & OPEN_GRAYSCALE ? 1 : 0;
  info->scaling_mode = (movie->flags & OPEN_SCALE_MASK) >> OPEN_SCALE_SHIFT;
  for (uint32_t k = 1; k <= m->frames; k++) info->key_frames += vorn_is_key_frame(m, k);
  info->size_bytes = uint64_t{movie->size_less_8} + 8;
  info->duration_ns = vorn_frame_time_ns(m, m->frames + 1);
  return VORN_OK;
}

int vorn_get_track_info(const vorn_movie* m, uint32_t index, vorn_track_info* info) {
  if (!m || !info || index >= m->tracks.size()) return VORN_ERROR_ARGUMENT;
  const VornTrack& t = m->tracks[index];
  std::memset(info, 0, sizeof *info);
  info->id = t.id;
  info->rate = t.rate;
  info->channels = t.channels;
  info->bits = t.bits;
  info->decodable = t.decodable ? 1 : 0;
  return VORN_OK;
}

int vorn_is_key_frame(const vorn_movie* m, uint32_t frame) {
  if (!m || frame < 1 || frame > m->frames) return 0;
  return m->movie->frame_index[frame - 1] & 1u;
}

uint64_t vorn_frame_time_ns(const vorn_movie* m, uint32_t frame) {
  if (!m || frame < 1 || m->movie->file_rate_num == 0) return 0;
  return VornMulDiv(uint64_t{frame - 1} * m->movie->file_rate_den, 1000000000u, m->movie->file_rate_num);
}

uint32_t vorn_frame_at_time(const vorn_movie* m, uint64_t time_ns) {
  if (!m || m->movie->file_rate_num == 0) return 1;
  // The largest k whose start, floor(k x den x 1e9 / num), is at most the
  // time: so seeking to a frame's own time stamp lands on that frame.
  const uint64_t per_frame = uint64_t{m->movie->file_rate_den} * 1000000000u;
  if (time_ns >= UINT64_MAX / 2) return m->frames;
  uint64_t k = VornMulDiv(time_ns + 1, m->movie->file_rate_num, per_frame);
  // An exact multiple belongs to the next frame's start only from time + 1 on.
  if (k > 0 && VornMulDiv(k, per_frame, m->movie->file_rate_num) > time_ns) k--;
  return k + 1 >= m->frames ? m->frames : static_cast<uint32_t>(k + 1);
}

}  // extern "C"
