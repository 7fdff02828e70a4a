// The library's movie handle around the engine's Movie, and the helpers its
// source files share. Every engine call happens under VornLock: the engine's
// option setters, last-error text, conversion tables and allocation list are
// process-wide.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vorn/vorn.h"

struct AudioDecoder;
struct Movie;

// One sound track of the file, decoded by the library itself (not through a
// sound driver) so every step hands back exactly that frame's PCM.
struct VornTrack {
  uint32_t id = 0, rate = 0, channels = 1, bits = 16;
  bool decodable = false;
  int use_dct = 0;
  uint32_t cpu_flags = 0;  // the movie's: its kernels as the engine chose them
  uint32_t ring_size = 0;  // the engine's ring for the track: bounds silence padding
  AudioDecoder* decoder = nullptr;
  std::vector<int16_t> pcm;     // PCM of the last step
  uint64_t first_sample = 0;    // timeline position of pcm[0], in sample frames
  // starts[f] = PCM bytes the track produced before frame f (f = 1 .. known).
  std::vector<uint64_t> starts;
};

// Read callbacks the engine's reader calls through (vorn_reader.cc).
struct VornSource {
  vorn_io io{};
  void* user = nullptr;
  int64_t size = -1;  // -1 = unknown
  bool closed = false;
};

struct vorn_movie {
  Movie* movie = nullptr;
  uint32_t flags = 0;            // the VORN_OPEN_ flags
  VornSource* source = nullptr;  // owned, for callback opens
  std::string message;           // last failure or warning
  uint32_t frames = 0;           // frames that can be decoded
  uint32_t frames_missing = 0;   // announced past the data's end
  uint32_t decoded = 0;          // frame the last step decoded, 0 = none
  uint32_t next = 1;             // frame the next step decodes
  bool audio_pending = false;    // a seek left PCM for the next step
  bool read_failed = false;
  std::vector<VornTrack> tracks;
  std::vector<uint8_t> neutral;  // chroma of grey pictures
};

std::mutex& VornLock();

// Integer a * b / c without overflow for 64-bit a and b (c > 0).
uint64_t VornMulDiv(uint64_t a, uint64_t b, uint64_t c);

// Engine glue (vorn_step.cc): the audio of the loaded packet and the
// timeline of each track.
bool VornOpenTracks(vorn_movie* m);
void VornCloseTracks(vorn_movie* m);
// Decodes the loaded frame's audio into the tracks' pcm (appending); false
// when the packet's lengths do not fit the frame (decoded as far as they do).
bool VornDecodeFrameAudio(vorn_movie* m, uint32_t frame, bool keep);

// The reader that reads through callbacks (vorn_reader.cc).
int VornCallbackIoOpen(struct IoReader* io, const void* source, uint32_t flags);
VornSource* VornFileSource(const char* path);
VornSource* VornMemorySource(const void* data, size_t size);
VornSource* VornCallbackSource(const vorn_io* io, void* user);
void VornSourceClose(VornSource* source);
