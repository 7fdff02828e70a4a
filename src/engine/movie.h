// The engine's movie record, read and written by the layers above it. The
// operations and flag words are the public ones of vorn/movie.h.
#pragma once
#include <cstdint>

#include "input/io_reader.h"
#include "vorn/movie.h"
#include "video/video_decoder.h"

struct SoundTrack;

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

// EngineAllocWithPending that first books the pending total plus size in the
// movie's memory_used.
void* MovieAlloc(Movie* movie, uint32_t size);

