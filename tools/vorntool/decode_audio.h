// Writes the sound of one audio track of a movie to a file: a WAV at the
// track's rate (16-bit, or 8-bit for 8-bit tracks, converted as the sound
// output converts), or with raw the signed 16-bit PCM exactly as the engine
// appends it to the track's ring.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DecodeAudioRequest {
  const char* movie_path = nullptr;
  const char* out_path = nullptr;
  bool has_track = false;  // else the first track
  uint32_t track_id = 0;
  bool raw = false;
  bool has_frames = false;  // else every frame
  uint32_t frames = 0;      // at most this many frames from the first
  uint64_t start_ms = 0;    // the sound from the frame on screen at this time
};

struct DecodedTrack {
  uint32_t rate = 0, channels = 0, bits = 0;
  std::vector<int16_t> pcm;  // interleaved, as appended to the ring
  // Frames cut off by the end of the file: their sound is missing (first 0 = none).
  uint32_t missing_frames = 0, first_missing_frame = 0;
};

// Decodes from a movie held in memory. False with a one-line reason.
// max_frames limits the frames read (from frame 1, or from the start frame:
// the frame on screen start_ms into the movie, whose time the sound then
// starts at, exactly where the player's seek starts it).
bool DecodeAudioTrack(const uint8_t* movie, size_t size, bool has_track, uint32_t track_id,
                      DecodedTrack* track, std::string* error, uint32_t max_frames = UINT32_MAX,
                      uint64_t start_ms = 0);
// Reads the movie, decodes and writes the file; 0 on success, 1 with the
// reason on stderr.
int DecodeAudioToFile(const DecodeAudioRequest& request);
