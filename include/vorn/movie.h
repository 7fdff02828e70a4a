// The playback engine as a C++ program that embeds the decoder uses it:
// open a movie, step it frame by frame (each step decodes the frame's sound
// into the track rings and its picture into the movie's frame buffers),
// copy the picture out, seek, close. The engine's record itself (`Movie`)
// is internal; the player and the tools inside this tree read its fields
// through src/engine/movie.h. libvorn's C interface is vorn/vorn.h.
#pragma once
#include <cstdint>

#include "vorn/copy_flags.h"
#include "vorn/movie_flags.h"

struct IoReader;
struct Movie;

// The result bits of a display buffer's flags that MovieGetRects reads:
// the copy lands where it is seen (no rectangles needed), or the picture is
// presented stretched (one rectangle: the whole frame).
enum : uint32_t {
  DISPLAY_DIRECT = 0x04000000,
  DISPLAY_SCALED = 0x08000000,
};

struct MovieRect {
  int32_t x, y, width, height;
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

// ---- Copying the picture out ------------------------------------------------------
// Bytes of one destination pixel (luma bytes for YV12); 0 for format 0.
uint32_t CopyBytesPerPixel(uint32_t format);

// Converts the movie's frame decoded last into dest, in the destination
// format of the flags' low four bits (COPY_*, vorn/copy_flags.h). Source
// rectangle in the movie's display coordinates; dest_pitch negative for a
// bottom-up buffer. Returns 1 when playback is late (copy skipped, or forced
// by COPY_NO_SKIP), else 0. The caller must give a buffer large enough for
// the rectangle at the chosen scaling mode; format 15 also needs room for
// its two chroma planes below dest_height lines.
int32_t MovieCopyToBuffer(Movie* movie, void* dest, int32_t dest_pitch, uint32_t dest_height,
                          int32_t dest_x, int32_t dest_y, uint32_t src_x, uint32_t src_y,
                          uint32_t src_width, uint32_t src_height, uint32_t flags);
