// Reading and writing PCM sound files in the RIFF/WAVE layout: the
// encoder's audio input and the decoder's audio output.
//
// Reading accepts what recorders and media tools commonly write (8-, 16-,
// 24- and 32-bit integer and 32/64-bit float PCM, any number of channels,
// rates above what a movie track holds) and brings it to what a track can
// carry: signed 16-bit, mono or stereo, 1000..65535 Hz. Every such change
// is listed in WavSound::notes so the user is told.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WavSound {
  uint32_t rate = 0;
  uint32_t channels = 0;       // 1 or 2 (after any mix-down)
  uint32_t bits = 0;           // bits per sample as stored in the file (8 or 16 to write)
  bool is_float = false;       // the file held floating-point samples
  std::vector<int16_t> samples;  // interleaved, always signed 16-bit
  std::vector<std::string> notes;  // what reading changed on the way
};

// Reads a whole file ("-" reads standard input). False with a one-line
// reason in *error for anything that is not WAV PCM or is cut short.
// dither: triangular dither where samples are rounded to 16 bits (deeper,
// float, mixed-down or resampled sound); plain rounding otherwise.
bool WavRead(const char* path, WavSound* sound, std::string* error, bool dither = false);
bool WavReadMemory(const uint8_t* data, size_t size, WavSound* sound, std::string* error,
                   bool dither = false);
// Writes sound.samples with sound.bits (8 or 16) per sample ("-": standard output).
bool WavWrite(const char* path, const WavSound& sound, std::string* error);
// The bytes WavWrite writes; false when the sound does not fit the 32-bit sizes.
bool WavEncode(const WavSound& sound, std::vector<uint8_t>* file_bytes);

// An unsigned 8-bit sample as 16 bits: the middle of its 256-value step, so
// that taking the high byte back (how 8-bit tracks are played and written)
// gives the same byte even after a little coding noise either way.
inline int16_t WavSampleFrom8Bit(uint8_t byte) {
  return static_cast<int16_t>((byte - 128) * 256 + 128);
}
