// The engine's movie record, the open flags and the engine's public operations.
#pragma once
#include <cstdint>

#include "input/io_reader.h"
#include "video/video_decoder.h"

struct SoundTrack;

// ---- Open flags (also stored as Movie::flags) ---------------------------------
enum : uint32_t {
  OPEN_FRAME_RATE = 0x1000,
  OPEN_PRELOAD = 0x2000,
  OPEN_TRACKS = 0x4000,
  OPEN_OLD_COLOURS = 0x8000,
  OPEN_UV_ORDER = 0x10000,
  OPEN_GRAYSCALE = 0x20000,
  OPEN_NO_MMX = 0x40000,
  OPEN_NO_SKIP = 0x80000,
  OPEN_ALPHA = 0x100000,
  OPEN_NO_FILL = 0x200000,
  OPEN_READ_SPEED = 0x400000,
  OPEN_FILE_HANDLE = 0x800000,
  OPEN_IO_SIZE = 0x1000000,
  OPEN_CUSTOM_IO = 0x2000000,
  OPEN_FROM_MEMORY = 0x4000000,
  OPEN_NO_THREAD = 0x8000000,
  OPEN_SCALE_MASK = 0x70000000,
  OPEN_SCALE_SHIFT = 28,
};

// ---- Header video flags and track formats ---------------------------------------
enum : uint32_t {
  VIDEO_FLAG_GREY = 0x20000,
  VIDEO_FLAG_ALPHA = 0x100000,
  VIDEO_FLAG_SCALE_MASK = 0x70000000,

  AUDIO_TRACK_RATE_MASK = 0xFFFF,
  AUDIO_TRACK_DCT = 0x10000000,
  AUDIO_TRACK_STEREO = 0x20000000,
  AUDIO_TRACK_16BIT = 0x40000000,
  AUDIO_TRACK_RDFT = 0x80000000,
};

inline constexpr uint32_t MOVIE_HEADER_SIZE = 44;
inline constexpr int MOVIE_BUNDLE_COUNT = 9;
inline constexpr int MOVIE_RECT_COUNT = 8;

struct MovieRect {
  int32_t x, y, width, height;
};

struct Movie {
  uint32_t width, height;       // display size (doubled by scaling modes)
  uint32_t frames;
  int32_t frame_num;            // 1-based frame whose packet is loaded; -1 before
  int32_t shown_frame_num;
  uint32_t rate_num, rate_den;  // playback rate; rate_num 0 = as fast as possible
  uint32_t read_error;
  uint32_t flags;               // effective open flags
  uint32_t video_flags;
  uint32_t size_less_8;
  MovieRect rects[MOVIE_RECT_COUNT];
  int32_t rect_count;           // -1 = not computed for the current frame
  uint32_t cur_buffer;
  uint8_t* yuv_buffers[2];
  uint8_t* alpha_buffers[2];
  uint32_t plane_width, plane_height;
  uint32_t chroma_width, chroma_height;
  uint8_t* block_map;
  uint32_t blocks_per_row, block_count;
  uint32_t largest_frame, index_frames, track_count;
  uint32_t peak_rate, peak_frame;
  uint32_t paused;
  uint8_t* frame_data;
  uint8_t* preload;
  const uint32_t* frame_index;
  IoReader io;
  uint8_t* io_buffer;
  uint32_t io_buffer_size;
  uint32_t decoded_width, decoded_height;
  uint32_t* selected_tracks;
  const uint32_t* track_max_bytes;
  const uint32_t* track_formats;
  const uint32_t* track_ids;

  // Timing, in engine-clock milliseconds.
  uint32_t frames_decoded;
  uint32_t first_frame_time;
  uint32_t frame_start_time;
  uint32_t frame_end_time;
  uint32_t clock_start;         // 0 = frame clock stopped
  uint32_t clock_start_frames;
  uint32_t late_limit;
  uint32_t slow_frame_start;
  uint32_t slowest_ms, slowest_frame;
  uint32_t second_slowest_ms, second_slowest_frame;

  uint32_t sound_on, video_on;
  uint32_t memory_used;
  uint32_t video_ms, audio_ms, blit_ms, open_ms;
  uint32_t file_rate_num, file_rate_den;
  uint32_t history_len, history_shift;
  uint32_t* history_time;
  uint32_t* history_audio;
  uint32_t* history_video;
  uint32_t* history_blit;
  uint32_t* history_read;
  uint32_t* history_idle_read;
  uint32_t* history_background_read;
  uint32_t copy_flags;
  int32_t last_decoded;
  uint32_t restart_time, restart_sound;
  uint32_t selected_count, sound_skips;
  SoundTrack* tracks;
  uint32_t skip_blit, skipped_blits;
  uint8_t* bundle_buffers[MOVIE_BUNDLE_COUNT];
  uint32_t skip_run;
  uint32_t clock_adjust, clock_adjust_step;
  uint32_t reader_service_tick, sound_service_tick;
  ServiceNode sound_node;

  // Processor features the movie's kernels use (CpuKernelFlags at open:
  // none with OPEN_NO_MMX), and the video decoder's tables made from them.
  uint32_t cpu_flags;
  VideoKernels video_kernels;
  // The conversion's own state (its row kernels and scratch lines), made by
  // the first copy; the close hands it back through convert_release.
  void* convert_state;
  void (*convert_release)(void* state);

  // Frames that could not be shown as stored: bytes missing after a read
  // error, or video data the decoder had to abandon. Each step counts once;
  // first_damaged_frame is 0 while every frame so far was whole.
  uint32_t damaged_frames, first_damaged_frame;
  int32_t last_damaged_step;     // frame_num last counted (guards repeated calls)
  // Frames after a read error keep the movie's pace: the time the first of
  // them was stepped and how many have been since.
  uint32_t missing_clock_start, missing_steps;
  // Bytes of the preload block (or memory image) that hold movie data from
  // frame 1 on: a frame reaching past them is missing.
  uint32_t preload_bytes;
  // Bytes of the frame-data buffer: the largest frame the index holds, and no
  // more than the file has, whatever the header claims.
  uint32_t frame_data_size;
  // Where each played track's sound stands in its decoded stream: for played
  // track j, sound_positions[j * (frames + 1) + f - 1] is the number of PCM
  // bytes the packets before frame f decode to. Filled by seeks as far as
  // they needed (sound_positions_known packets so far); null when the table
  // could not be allocated (seeks then restart the sound at the new frame's
  // own packet).
  uint64_t* sound_positions;
  uint32_t sound_positions_known;
};

// ---- Open, close, options ---------------------------------------------------------
Movie* MovieOpen(const void* source, uint32_t flags);
void MovieClose(Movie* movie);
const char* MovieGetError();
void MovieSetError(const char* text);  // the player writes its own texts here too
void MovieSetFrameRate(int32_t num, int32_t den);
void MovieSetSoundTracks(uint32_t count, const uint32_t* ids);
void MovieSetReadSpeed(int32_t bytes_per_second);
void MovieSetIoBufferSize(int32_t bytes);
using IoOpenFunction = int (*)(IoReader* io, const void* source, uint32_t flags);
void MovieSetIoOpen(IoOpenFunction open);
// The byte length of the image the next OPEN_FROM_MEMORY open reads; the open
// then reads nothing outside the image: tables that do not fit are refused,
// and frames cut off by the image's end are missing (read errors), as in a
// truncated file. Without it (0) the caller vouches that the image is as
// long as its header says.
void MovieSetMemorySize(uint32_t bytes);

// ---- Seeking ----------------------------------------------------------------------
enum : uint32_t {
  SEEK_EXACT = 1,  // decode on from the key frame to the requested frame
};

// Moves playback to frame_number (1-based; 0 counts as 1). Without
// SEEK_EXACT the movie goes to the key frame at or before it; with it the
// frames from that key frame up to the requested one are decoded without
// being shown. On return the new frame is decoded, exactly as if
// MovieDoFrame had just run for it (MovieDoFrame returns 0 at once): the
// caller copies and blits it, then goes on with MovieNextFrame. Every block
// counts as changed, so the copy converts the whole picture.
//
// Everything that depends on the position starts afresh: the reader is moved
// and its read-ahead ring refilled; the previous picture is the key frame's
// chain; each track's device queue is flushed, its ring emptied and its
// decoder reset, so nothing from before the seek is heard; the ring is then
// filled with the track's sound from the new frame's time on. Where the file
// carries sound ahead of its frames (a lead-in), the packets before the new
// frame that hold that sound are read and decoded too. The sound starts with
// the next feeding, in step with the new picture; the frame clock restarts
// at the new frame, the skip and lateness counters are cleared, and the
// jump counts neither as a played frame (only the new frame does) nor as
// lateness. A paused movie stays paused, showing the new frame.
//
// A movie with no key frame after frame 1 is seeked by decoding forward:
// from the frame on screen when the target lies ahead of it, otherwise from
// frame 1 (the cost grows with the distance; nothing is refused).
//
// Returns 1 on success. Returns 0 with the reason in MovieGetError when the
// frame does not exist (nothing changes) or when the movie cannot be read
// at the new position (the movie then stands there with its read error set,
// as after a read error in play; a later seek may succeed).
int MovieSeek(Movie* movie, uint32_t frame_number, uint32_t flags);

// ---- Frame stepping -------------------------------------------------------------
uint32_t MovieClockMs();
int MovieWait(Movie* movie);
int MovieDoFrame(Movie* movie);
void MovieNextFrame(Movie* movie);
void MovieLoadFrame(Movie* movie, uint32_t frame);
int MovieSetPause(Movie* movie, int on);
void MovieStartClock(Movie* movie);
void MovieNoteFrameTime(Movie* movie, uint32_t now);
int MovieGetRects(Movie* movie, uint32_t display_flags);
