// The encoder's sound reader on any bytes: whatever it accepts comes out as
// mono or stereo 16-bit samples (mixed down and converted as needed). Written
// out again as plain PCM, that sound must then read back exactly: the
// writer's files are the reader's fixed point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "vorntool/encode/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WavSound sound;
  std::string error;
  if (!WavReadMemory(data, size, &sound, &error)) {
    if (error.empty()) std::abort();  // every refusal says why
    return 0;
  }
  if ((sound.channels != 1 && sound.channels != 2) || sound.rate == 0 ||
      sound.samples.size() % sound.channels != 0)
    std::abort();
  // Plain PCM as the decoder writes it: 8-bit stays 8-bit, all else 16.
  sound.bits = sound.bits == 8 && !sound.is_float ? 8 : 16;
  std::vector<uint8_t> file;
  if (!WavEncode(sound, &file)) std::abort();
  WavSound plain;
  if (!WavReadMemory(file.data(), file.size(), &plain, &error)) std::abort();
  std::vector<uint8_t> again_file;
  if (!WavEncode(plain, &again_file) || again_file != file) std::abort();
  WavSound again;
  if (!WavReadMemory(again_file.data(), again_file.size(), &again, &error)) std::abort();
  if (again.rate != plain.rate || again.channels != plain.channels || again.bits != plain.bits ||
      again.samples != plain.samples)
    std::abort();
  // 16-bit sound survives the first write unchanged.
  if (sound.bits == 16 && plain.samples != sound.samples) std::abort();
  return 0;
}
