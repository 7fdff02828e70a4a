// The encoder's sound reader on any bytes: a file it accepts is written out
// again and read back, which must give the same sound.
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
  if ((sound.channels != 1 && sound.channels != 2) || (sound.bits != 8 && sound.bits != 16) ||
      sound.samples.size() % sound.channels != 0)
    std::abort();
  std::vector<uint8_t> file;
  if (!WavEncode(sound, &file)) std::abort();
  WavSound again;
  if (!WavReadMemory(file.data(), file.size(), &again, &error)) std::abort();
  if (again.rate != sound.rate || again.channels != sound.channels || again.bits != sound.bits ||
      again.samples != sound.samples)
    std::abort();
  return 0;
}
