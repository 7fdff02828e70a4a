#include "engine/movie_header.h"

#include "engine/movie.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool KnownVersion(uint8_t v) { return v == 'f' || v == 'g' || v == 'h' || v == 'i'; }

// (n + 1) / 2 rounded up to a multiple of 8.
uint32_t ChromaSize(uint32_t n) { return ((n + 1) / 2 + 7) & ~7u; }

uint32_t Entry(const Movie* movie, uint32_t i) { return movie->frame_index[i] & ~1u; }

}  // namespace

const char* MovieParseHeader(const uint8_t* bytes, uint32_t available, MovieHeaderInfo* info) {
  if (available < 4 || bytes[0] != 'V' || bytes[1] != 'X' || bytes[2] != 'N' || !KnownVersion(bytes[3]))
    return MOVIE_ERROR_NOT_VORN;
  if (available < MOVIE_HEADER_SIZE) return MOVIE_ERROR_HEADER_SHORT;
  info->version = static_cast<char>(bytes[3]);
  info->size_less_8 = Le32(bytes + 4);
  info->frames = Le32(bytes + 8);
  info->largest_frame = Le32(bytes + 12);
  info->index_frames = Le32(bytes + 16);
  info->width = Le32(bytes + 20);
  info->height = Le32(bytes + 24);
  info->rate_num = Le32(bytes + 28);
  info->rate_den = Le32(bytes + 32);
  info->video_flags = Le32(bytes + 36);
  info->track_count = Le32(bytes + 40);
  if (info->frames == 0) return MOVIE_ERROR_NO_FRAMES;
  if (info->width == 0 || info->height == 0 || info->width > MOVIE_MAX_DIMENSION ||
      info->height > MOVIE_MAX_DIMENSION)
    return MOVIE_ERROR_SIZE;
  if (info->rate_num == 0 || info->rate_den == 0 ||
      (uint64_t{info->rate_num} + info->rate_den / 2) / info->rate_den > MOVIE_MAX_FILE_RATE ||
      info->rate_den > uint64_t{info->rate_num} * MOVIE_MAX_FRAME_SECONDS)
    return MOVIE_ERROR_RATE;
  if (info->index_frames < info->frames) return MOVIE_ERROR_INDEX_FRAMES;
  const uint64_t length = uint64_t{info->size_less_8} + 8;
  if (length > UINT32_MAX || MovieTablesEnd(info->track_count, info->index_frames) > length ||
      info->largest_frame > length)
    return MOVIE_ERROR_LAYOUT;
  return nullptr;
}

uint64_t MovieTablesEnd(uint32_t track_count, uint32_t index_frames) {
  return MOVIE_HEADER_SIZE + 12 * uint64_t{track_count} + 4 * (uint64_t{index_frames} + 1);
}

void MovieApplyHeader(Movie* movie, const MovieHeaderInfo& info) {
  movie->size_less_8 = info.size_less_8;
  movie->frames = info.frames;
  movie->largest_frame = info.largest_frame;
  movie->index_frames = info.index_frames;
  movie->decoded_width = movie->width = info.width;
  movie->decoded_height = movie->height = info.height;
  movie->rate_num = info.rate_num;
  movie->rate_den = info.rate_den;
  movie->video_flags = info.video_flags;
  movie->track_count = info.track_count;
  movie->chroma_width = ChromaSize(info.width);
  movie->chroma_height = ChromaSize(info.height);
  movie->plane_width = 2 * movie->chroma_width;
  movie->plane_height = 2 * movie->chroma_height;
  movie->blocks_per_row = movie->plane_width / 16;
  movie->block_count = movie->blocks_per_row * (movie->plane_height / 16);
}

const char* MovieCheckLayout(const Movie* movie, uint64_t source_length) {
  if (source_length && MovieTablesEnd(movie->track_count, movie->index_frames) > source_length)
    return MOVIE_ERROR_PAST_FILE_END;
  return nullptr;
}

const char* MovieCheckIndex(const Movie* movie) {
  if (Entry(movie, 0) != MovieTablesEnd(movie->track_count, movie->index_frames))
    return MOVIE_ERROR_INDEX_START;
  const uint32_t length = movie->size_less_8 + 8;
  for (uint32_t k = 1; k <= movie->frames; k++) {
    const uint32_t start = Entry(movie, k - 1);
    const uint32_t end = Entry(movie, k);
    if (end < start) return MOVIE_ERROR_INDEX_ORDER;
    if (end > length) return MOVIE_ERROR_INDEX_END;
    if (end - start > movie->largest_frame) return MOVIE_ERROR_LARGEST;
  }
  return nullptr;
}

bool FindPeakRate(Movie* movie) {
  const uint32_t window = movie->history_len;
  const uint32_t frames = movie->frames;
  uint32_t peak = 0, peak_frame = 0;
  if (frames > window) {
    for (uint32_t i = 0; i + window < frames; i++) {
      const uint32_t bytes = Entry(movie, i + window) - Entry(movie, i);
      if (bytes > peak) {  // the first start wins ties
        peak = bytes;
        peak_frame = i;
      }
    }
  }
  if (peak == 0) {
    const uint64_t average = uint64_t{Entry(movie, frames) - Entry(movie, 0)} * window / frames;
    peak = average > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(average);
    peak_frame = 0;
  }
  movie->peak_rate = peak;
  movie->peak_frame = peak_frame;
  for (uint32_t i = 0; i < frames; i++)
    if (!(movie->frame_index[i] & 1)) return false;
  return true;
}

uint32_t MovieFrameOffset(const Movie* movie, uint32_t k) { return Entry(movie, k - 1); }

uint32_t MovieFrameSize(const Movie* movie, uint32_t k) {
  return Entry(movie, k) - Entry(movie, k - 1);
}
