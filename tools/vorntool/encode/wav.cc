#include "vorntool/encode/wav.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

bool ReadFormat(const uint8_t* chunk, uint32_t size, WavSound* sound, std::string* error) {
  if (size < 16) {
    *error = "format chunk too short";
    return false;
  }
  uint16_t format = Le16(chunk);
  // The extensible form names its real format in the first two bytes of the GUID.
  if (format == kFormatExtensible && size >= 26) format = Le16(chunk + 24);
  if (format != kFormatPcm) {
    *error = "not PCM (format " + std::to_string(format) + ")";
    return false;
  }
  sound->channels = Le16(chunk + 2);
  sound->rate = Le32(chunk + 4);
  sound->bits = Le16(chunk + 14);
  if (sound->channels != 1 && sound->channels != 2) {
    *error = std::to_string(sound->channels) + " channels (1 or 2 supported)";
    return false;
  }
  if (sound->bits != 8 && sound->bits != 16) {
    *error = std::to_string(sound->bits) + "-bit samples (8 or 16 supported)";
    return false;
  }
  // The track format keeps the rate in 16 bits.
  if (sound->rate < 1000 || sound->rate > 65535) {
    *error = "sample rate " + std::to_string(sound->rate) + " Hz outside 1000..65535";
    return false;
  }
  return true;
}

}  // namespace

bool WavReadMemory(const uint8_t* data, size_t size, WavSound* sound, std::string* error) {
  *sound = WavSound{};
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
    *error = "not a RIFF/WAVE file";
    return false;
  }
  bool have_format = false;
  size_t pos = 12;
  while (pos + 8 <= size) {
    uint32_t chunk_size = Le32(data + pos + 4);
    const uint8_t* chunk = data + pos + 8;
    size_t available = size - pos - 8;
    if (std::memcmp(data + pos, "fmt ", 4) == 0) {
      if (chunk_size > available) {
        *error = "format chunk cut short";
        return false;
      }
      if (!ReadFormat(chunk, chunk_size, sound, error)) return false;
      have_format = true;
    } else if (std::memcmp(data + pos, "data", 4) == 0) {
      if (!have_format) {
        *error = "data chunk before the format chunk";
        return false;
      }
      // A data size past the end (streams written before their length was
      // known) is taken as "to the end of the file".
      size_t bytes = chunk_size <= available ? chunk_size : available;
      uint32_t frame_bytes = sound->channels * sound->bits / 8;
      bytes -= bytes % frame_bytes;
      if (sound->bits == 16) {
        sound->samples.resize(bytes / 2);
        for (size_t i = 0; i < bytes / 2; i++)
          sound->samples[i] = static_cast<int16_t>(Le16(chunk + 2 * i));
      } else {
        sound->samples.resize(bytes);
        for (size_t i = 0; i < bytes; i++)
          sound->samples[i] = static_cast<int16_t>((chunk[i] - 128) * 256);
      }
      return true;
    }
    if (chunk_size > available) break;
    pos += 8 + size_t{chunk_size} + (chunk_size & 1);
  }
  *error = have_format ? "no data chunk" : "no format chunk";
  return false;
}

bool WavRead(const char* path, WavSound* sound, std::string* error) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    *error = std::string("cannot open '") + path + "'";
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return WavReadMemory(bytes.data(), bytes.size(), sound, error);
}

bool WavWrite(const char* path, const WavSound& sound, std::string* error) {
  std::vector<uint8_t> out;
  if (!WavEncode(sound, &out)) {
    *error = std::string("too much sound for one file: '") + path + "'";
    return false;
  }
  std::FILE* file = std::fopen(path, "wb");
  if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size()) {
    if (file) std::fclose(file);
    *error = std::string("cannot write '") + path + "'";
    return false;
  }
  if (std::fclose(file) != 0) {
    *error = std::string("cannot write '") + path + "'";
    return false;
  }
  return true;
}

bool WavEncode(const WavSound& sound, std::vector<uint8_t>* file_bytes) {
  uint32_t bytes_per_sample = sound.bits == 8 ? 1 : 2;
  // The RIFF size field counts data bytes plus 36 in 32 bits.
  if (sound.samples.size() > (UINT32_MAX - 64) / bytes_per_sample) return false;
  uint32_t data_bytes = static_cast<uint32_t>(sound.samples.size()) * bytes_per_sample;
  std::vector<uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(&out, 36 + data_bytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(&out, 16);
  Put16(&out, kFormatPcm);
  Put16(&out, sound.channels);
  Put32(&out, sound.rate);
  Put32(&out, sound.rate * sound.channels * bytes_per_sample);
  Put16(&out, sound.channels * bytes_per_sample);
  Put16(&out, bytes_per_sample * 8);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  Put32(&out, data_bytes);
  for (int16_t s : sound.samples) {
    if (bytes_per_sample == 1)
      out.push_back(static_cast<uint8_t>((s >> 8) + 128));
    else
      Put16(&out, static_cast<uint16_t>(s));
  }
  *file_bytes = std::move(out);
  return true;
}
