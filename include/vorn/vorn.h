/* libvorn: decoding Vorn movies (.vxn) from C, C++ or any language that can
 * call C.
 *
 * A movie is an opaque handle. Open it from a file, a memory image or your
 * own read callbacks, step through its frames (each step decodes one frame's
 * picture and the sound every track carries in that frame), copy the
 * picture into a buffer in one of fifteen pixel formats or read its planes
 * directly, and seek by frame number.
 *
 * Every function that can fail returns a vorn_result; VORN_OK is 0 and every
 * failure is negative. vorn_error_text() tells what went wrong in words.
 *
 * Threads: any number of movies may be open in any threads; the library
 * serialises its own work. One movie handle must not be used by two threads
 * at the same time.
 */
#ifndef VORN_VORN_H
#define VORN_VORN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define VORN_API
#elif defined(__GNUC__)
#define VORN_API __attribute__((visibility("default")))
#else
#define VORN_API
#endif

#define VORN_VERSION_MAJOR 1
#define VORN_VERSION_MINOR 0
#define VORN_VERSION_PATCH 0
#define VORN_VERSION "1.0.0"
/* 0xMMmmpp: compare with vorn_version_number() to see the library at run time. */
#define VORN_VERSION_NUMBER ((VORN_VERSION_MAJOR << 16) | (VORN_VERSION_MINOR << 8) | VORN_VERSION_PATCH)

typedef struct vorn_movie vorn_movie;

typedef enum vorn_result {
  VORN_OK = 0,
  VORN_END = 1,                 /* vorn_step: the last frame was already decoded */
  VORN_DAMAGED = 2,             /* vorn_step: frame decoded, but its data was inconsistent */
  VORN_ERROR_ARGUMENT = -1,     /* a null handle or pointer, or a value out of range */
  VORN_ERROR_OPEN = -2,         /* the source could not be opened or read */
  VORN_ERROR_NOT_MOVIE = -3,    /* the source is not a usable Vorn movie */
  VORN_ERROR_MEMORY = -4,       /* out of memory */
  VORN_ERROR_READ = -5,         /* the movie's data ended or failed to read while stepping */
  VORN_ERROR_NO_FRAME = -6      /* nothing decoded yet (step first) */
} vorn_result;

/* The library's version text and number (VORN_VERSION of the build that made it). */
VORN_API const char* vorn_version(void);
VORN_API uint32_t vorn_version_number(void);

/* A short fixed text for a result code. */
VORN_API const char* vorn_result_text(int result);

/* What went wrong last, in words: with a movie, its last failure or warning;
 * with NULL, the calling thread's last failed open. Never NULL; "" when
 * nothing went wrong. */
VORN_API const char* vorn_error_text(const vorn_movie* movie);

/* ---- Opening ------------------------------------------------------------------ */

#define VORN_OPEN_NO_ALPHA 0x1u    /* do not decode a movie's alpha plane */
#define VORN_OPEN_GREY 0x2u        /* decode luma only; chroma comes out neutral */
#define VORN_OPEN_NO_AUDIO 0x4u    /* decode no sound */
#define VORN_OPEN_NO_SCALING 0x8u  /* ignore the scaling mode a movie asks for */
#define VORN_OPEN_NO_VECTOR 0x10u  /* plain code paths only, no processor vector units */

/* Read callbacks. read() fills up to size bytes from offset (counted from the
 * movie's first byte) and returns the bytes read: fewer only at the end of
 * the data; -1 for an error. size() returns the data's total length, or -1
 * when it is not known. close() (may be NULL) is called once by vorn_close
 * or by a failed open. The callbacks run inside libvorn's calls and must not
 * call libvorn themselves. */
typedef struct vorn_io {
  int64_t (*read)(void* user, uint64_t offset, void* dest, uint32_t size);
  int64_t (*size)(void* user);
  void (*close)(void* user);
} vorn_io;

/* On success *movie is the new handle. On failure *movie is NULL and
 * vorn_error_text(NULL) tells why.
 *
 * A movie whose data ends before its header says it does (a cut download)
 * opens with the frames that are complete; vorn_info.frames_missing counts
 * the others and vorn_error_text(movie) describes it. */
VORN_API int vorn_open_file(const char* path, uint32_t flags, vorn_movie** movie);
/* The image is read in place: it must stay valid and unchanged until vorn_close. */
VORN_API int vorn_open_memory(const void* data, size_t size, uint32_t flags, vorn_movie** movie);
VORN_API int vorn_open_callbacks(const vorn_io* io, void* user, uint32_t flags, vorn_movie** movie);
/* Releases everything of the movie; NULL is ignored. */
VORN_API void vorn_close(vorn_movie* movie);

/* ---- Information ---------------------------------------------------------------- */

typedef struct vorn_info {
  uint32_t width, height;                 /* decoded picture size in pixels */
  uint32_t display_width, display_height; /* after the movie's scaling mode (vorn_copy_frame's size) */
  uint32_t frames;                        /* frames that can be decoded */
  uint32_t frames_missing;                /* frames the header announces past the data's end */
  uint32_t rate_num, rate_den;            /* frames per second = rate_num / rate_den */
  uint32_t track_count;                   /* sound tracks in the file (decodable or not) */
  uint32_t has_alpha;                     /* 1 when alpha planes are decoded */
  uint32_t grey;                          /* 1 when the picture has no colour */
  uint32_t scaling_mode;                  /* 0-6: how display size derives from the decoded size */
  uint32_t key_frames;                    /* number of key frames */
  uint64_t size_bytes;                    /* the movie's length in bytes */
  uint64_t duration_ns;                   /* frames x frame time, in nanoseconds */
  uint32_t reserved[8];
} vorn_info;

typedef struct vorn_track_info {
  uint32_t id;            /* the identifier the author gave the track */
  uint32_t rate;          /* samples per second */
  uint32_t channels;      /* 1 or 2; PCM is interleaved */
  uint32_t bits;          /* 8 or 16 as stored for playback; PCM from vorn_audio is always 16-bit */
  uint32_t decodable;     /* 0 when the track carries no sound this library can decode */
  uint32_t reserved[7];
} vorn_track_info;

VORN_API int vorn_get_info(const vorn_movie* movie, vorn_info* info);
/* index: 0 .. track_count - 1, in the file's order. */
VORN_API int vorn_get_track_info(const vorn_movie* movie, uint32_t index, vorn_track_info* info);
/* 1 when frame (1-based) is a key frame, 0 when not or out of range. */
VORN_API int vorn_is_key_frame(const vorn_movie* movie, uint32_t frame);
/* Presentation time of frame (1-based) in nanoseconds: (frame - 1) frame times. */
VORN_API uint64_t vorn_frame_time_ns(const vorn_movie* movie, uint32_t frame);
/* The frame shown at time_ns (1-based, at most the last frame). */
VORN_API uint32_t vorn_frame_at_time(const vorn_movie* movie, uint64_t time_ns);

/* ---- Stepping and seeking ----------------------------------------------------------- */

/* Decodes the next frame: frame 1 after open, the frame landed on after a
 * seek, else the frame after the last one decoded. VORN_OK, VORN_DAMAGED
 * (decoded, with a warning text), VORN_END after the last frame, or
 * VORN_ERROR_READ when the data could not be read (nothing more follows). */
VORN_API int vorn_step(vorn_movie* movie);
/* The frame the last vorn_step decoded (1-based), 0 before the first step. */
VORN_API uint32_t vorn_frame_number(const vorn_movie* movie);

#define VORN_SEEK_ACCURATE 0x0u  /* land on the frame asked for */
#define VORN_SEEK_KEY 0x1u       /* land on the key frame at or before it (faster) */

/* Positions the movie so that the next vorn_step decodes frame (1-based;
 * beyond the last frame means the last) or, with VORN_SEEK_KEY, the key
 * frame at or before it. *landed (may be NULL) receives that frame. The
 * sound of the next step starts early enough to cover the landed frame's
 * time (see vorn_audio). */
VORN_API int vorn_seek(vorn_movie* movie, uint32_t frame, uint32_t flags, uint32_t* landed);

/* ---- Pictures --------------------------------------------------------------------- */

/* Planes of the frame the last step decoded: 8-bit luma of width x height,
 * two chroma planes of ((width + 1) / 2) x ((height + 1) / 2) (u drives
 * blue, v red; neutral 128 for grey movies), and alpha of width x height or
 * NULL. Valid until the next vorn_step, vorn_seek or vorn_close. */
typedef struct vorn_planes {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  const uint8_t* a;
  uint32_t y_pitch, uv_pitch, a_pitch;
  uint32_t width, height, chroma_width, chroma_height;
} vorn_planes;
VORN_API int vorn_get_planes(const vorn_movie* movie, vorn_planes* planes);

/* Destination pixel formats (byte orders as they lie in memory). */
#define VORN_FORMAT_BGR24 1
#define VORN_FORMAT_RGB24 2
#define VORN_FORMAT_BGRX32 3
#define VORN_FORMAT_RGBX32 4
#define VORN_FORMAT_BGRA32 5    /* alpha from the movie's alpha plane; 0 without one */
#define VORN_FORMAT_RGBA32 6
#define VORN_FORMAT_ARGB4444 7  /* 16-bit little-endian words */
#define VORN_FORMAT_ARGB1555 8
#define VORN_FORMAT_RGB555 9
#define VORN_FORMAT_RGB565 10
#define VORN_FORMAT_RGB655 11
#define VORN_FORMAT_RGB664 12
#define VORN_FORMAT_YUY2 13
#define VORN_FORMAT_UYVY 14
#define VORN_FORMAT_YV12 15     /* planar: Y, then V, then U, each at even sizes */

/* Bytes one whole frame takes in format at its display size with lines
 * packed tightly; *pitch (may be NULL) receives that line pitch. 0 for an
 * unknown format. */
VORN_API size_t vorn_frame_buffer_size(const vorn_movie* movie, int format, int32_t* pitch);

#define VORN_COPY_GREY 0x20000u  /* write grey: luma only */

/* Copies the whole frame the last step decoded into dest (display size;
 * format 15 writes its chroma planes after height lines). dest is the
 * buffer's first (lowest) byte and must hold vorn_frame_buffer_size bytes at
 * the given pitch; pitch is the byte distance between lines, negative for a
 * bottom-up buffer (the picture's top line then goes to the buffer's last). */
VORN_API int vorn_copy_frame(vorn_movie* movie, int format, void* dest, int32_t pitch, uint32_t flags);

/* ---- Sound ----------------------------------------------------------------------- */

/* The signed 16-bit PCM (native byte order, interleaved) that track index
 * (file order) produced in the last vorn_step, and the position of its
 * first sample frame on the track's timeline (samples per channel from the
 * movie's start; time = position / rate). The first step after a seek also
 * returns the sound of earlier frames that plays at or after the landed
 * frame's time; bytes may be 0. Valid until the next vorn_step, vorn_seek
 * or vorn_close. */
VORN_API int vorn_audio(const vorn_movie* movie, uint32_t index, const int16_t** pcm, size_t* bytes,
                        uint64_t* first_sample);

#ifdef __cplusplus
}
#endif

#endif /* VORN_VORN_H */
