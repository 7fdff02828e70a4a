// Reading and checking a movie's header, track tables and frame index. The
// container's own rules are few (signature, version, a frame count); the
// further checks here refuse layouts that would make the engine read or
// allocate outside what the movie really holds.
#pragma once
#include <cstdint>

struct Movie;

// Texts of the last-error buffer.
inline constexpr char MOVIE_ERROR_NOT_VORN[] = "Not a Vorn file.";
inline constexpr char MOVIE_ERROR_NO_FRAMES[] = "The file doesn't contain any compressed frames yet.";
inline constexpr char MOVIE_ERROR_OPEN[] = "Error opening file.";
inline constexpr char MOVIE_ERROR_MEMORY[] = "Out of memory.";
inline constexpr char MOVIE_ERROR_HEADER_SHORT[] = "The movie's header is incomplete.";
inline constexpr char MOVIE_ERROR_SIZE[] =
    "The movie's picture size is not supported (1 to 16384 pixels each way).";
inline constexpr char MOVIE_ERROR_RATE[] = "The movie's frame rate is not valid.";
inline constexpr char MOVIE_ERROR_INDEX_FRAMES[] =
    "The movie's frame index describes fewer frames than the movie has.";
inline constexpr char MOVIE_ERROR_LAYOUT[] = "The movie's header sizes are out of range.";
inline constexpr char MOVIE_ERROR_PAST_FILE_END[] =
    "The movie's track tables or frame index run past the end of the file.";
inline constexpr char MOVIE_ERROR_TABLES_SHORT[] =
    "The movie's track tables or frame index could not be read.";
inline constexpr char MOVIE_ERROR_INDEX_START[] =
    "The movie's first frame does not start where its frame index ends.";
inline constexpr char MOVIE_ERROR_INDEX_ORDER[] =
    "The movie's frame index is damaged: a frame starts before the previous one.";
inline constexpr char MOVIE_ERROR_INDEX_END[] =
    "The movie's frame index is damaged: a frame lies past the end of the movie.";
inline constexpr char MOVIE_ERROR_IMAGE_SHORT[] =
    "The movie is longer than the memory image holding it.";
inline constexpr char MOVIE_ERROR_LARGEST[] =
    "The movie has a frame larger than its header allows.";

inline constexpr uint32_t MOVIE_MAX_DIMENSION = 16384;
inline constexpr uint32_t MOVIE_MAX_FILE_RATE = 1000;  // frames per second, rounded
// The longest a frame may last: the clock's 32-bit milliseconds hold about 49
// days, and a movie of one frame a year would hold the player for ever.
inline constexpr uint32_t MOVIE_MAX_FRAME_SECONDS = 3600;

struct MovieHeaderInfo {
  char version;
  uint32_t size_less_8;
  uint32_t frames;
  uint32_t largest_frame;
  uint32_t index_frames;
  uint32_t width, height;
  uint32_t rate_num, rate_den;
  uint32_t video_flags;
  uint32_t track_count;
};

// Parses `available` bytes (normally 44) of a header. Returns null when the
// header is acceptable, otherwise the refusal text.
const char* MovieParseHeader(const uint8_t* bytes, uint32_t available, MovieHeaderInfo* info);

// Bytes from the movie's start to its first frame packet: header, tables, index.
uint64_t MovieTablesEnd(uint32_t track_count, uint32_t index_frames);

// Copies the header into the record and derives the plane and block sizes
// (display size and flags are the opener's business).
void MovieApplyHeader(Movie* movie, const MovieHeaderInfo& info);

// Checks that tables and index fit the movie and, when known (non-zero), the
// source's length from the movie's first byte. Null = fine.
const char* MovieCheckLayout(const Movie* movie, uint64_t source_length);

// Checks the frame index entries 0..frames: the first equals the tables'
// end, none goes backwards or past the movie's length, no packet exceeds
// largest_frame. Null = fine.
const char* MovieCheckIndex(const Movie* movie);

// Sets peak_rate and peak_frame from the frame index (the densest
// history_len consecutive frames, or the average when there is no such
// window) and returns whether every frame is a key frame.
bool FindPeakRate(Movie* movie);

// Offset and size of frame k's packet (1 <= k <= frames).
uint32_t MovieFrameOffset(const Movie* movie, uint32_t k);
uint32_t MovieFrameSize(const Movie* movie, uint32_t k);
