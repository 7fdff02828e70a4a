// Reading and writing PCM sound files in the RIFF/WAVE layout (8- or 16-bit,
// mono or stereo): the encoder's audio input and the decoder's audio output.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WavSound {
  uint32_t rate = 0;
  uint32_t channels = 0;       // 1 or 2
  uint32_t bits = 0;           // 8 or 16, as stored in the file
  std::vector<int16_t> samples;  // interleaved, always signed 16-bit
};

// Reads a whole file. False with a one-line reason in *error for anything
// that is not plain 8/16-bit mono/stereo PCM or is cut short.
bool WavRead(const char* path, WavSound* sound, std::string* error);
bool WavReadMemory(const uint8_t* data, size_t size, WavSound* sound, std::string* error);
// Writes sound.samples with sound.bits (8 or 16) per sample.
bool WavWrite(const char* path, const WavSound& sound, std::string* error);
// The bytes WavWrite writes; false when the sound does not fit the 32-bit sizes.
bool WavEncode(const WavSound& sound, std::vector<uint8_t>* file_bytes);
