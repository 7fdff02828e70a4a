#include "vorntool/encode/wav.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vorntool/stdio_files.h"

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
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kMinRate = 1000, kMaxRate = 65535;  // a track keeps its rate in 16 bits
constexpr uint32_t kMaxChannels = 64;

struct Layout {
  uint32_t channels = 0, bits = 0, rate = 0;
  bool is_float = false;
  uint32_t channel_mask = 0;  // speaker positions of the extensible form, 0 if none
};

bool ReadFormat(const uint8_t* chunk, uint32_t size, Layout* layout, std::string* error) {
  if (size < 16) {
    *error = "format chunk too short";
    return false;
  }
  uint16_t format = Le16(chunk);
  // The extensible form names its real format in the first two bytes of the
  // GUID and may say where each channel's speaker stands.
  if (format == kFormatExtensible && size >= 26) {
    layout->channel_mask = Le32(chunk + 20);
    format = Le16(chunk + 24);
  }
  layout->channels = Le16(chunk + 2);
  layout->rate = Le32(chunk + 4);
  layout->bits = Le16(chunk + 14);
  layout->is_float = format == kFormatFloat;
  if (format != kFormatPcm && format != kFormatFloat) {
    *error = "not PCM (format " + std::to_string(format) + ")";
    return false;
  }
  if (layout->channels == 0 || layout->channels > kMaxChannels) {
    *error = std::to_string(layout->channels) + " channels (1 to " + std::to_string(kMaxChannels) +
             " are read)";
    return false;
  }
  const bool bits_ok = layout->is_float ? layout->bits == 32 || layout->bits == 64
                                        : layout->bits == 8 || layout->bits == 16 ||
                                              layout->bits == 24 || layout->bits == 32;
  if (!bits_ok) {
    *error = std::to_string(layout->bits) + (layout->is_float ? "-bit float" : "-bit") +
             " samples (8, 16, 24 or 32-bit integer or 32/64-bit float are read)";
    return false;
  }
  if (layout->rate == 0) {
    *error = "sample rate 0 Hz";
    return false;
  }
  return true;
}

// One sample in 16-bit units (exact for 8- and 16-bit input).
double SampleValue(const uint8_t* p, const Layout& layout) {
  if (layout.is_float) {
    if (layout.bits == 32) {
      float f;
      uint32_t word = Le32(p);
      std::memcpy(&f, &word, 4);
      return std::isnan(f) ? 0.0 : double{f} * 32768.0;  // infinities clip
    }
    uint64_t word = Le32(p) | uint64_t{Le32(p + 4)} << 32;
    double d;
    std::memcpy(&d, &word, 8);
    return std::isnan(d) ? 0.0 : d * 32768.0;
  }
  switch (layout.bits) {
    case 8: return WavSampleFrom8Bit(p[0]);
    case 16: return static_cast<int16_t>(Le16(p));
    case 24: return static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (uint32_t{p[2]} << 24)) / 65536.0;
    default: return static_cast<int32_t>(Le32(p)) / 65536.0;
  }
}

// Rounds to 16 bits; with dither, first adds triangular noise of +-1 step
// (the sum of two uniform values), which turns the rounding error of quiet,
// deep sound into a steady hiss instead of distortion.
struct Quantiser {
  bool dither = false;
  uint32_t state = 0x9E3779B9u;  // fixed seed: the same file gives the same movie

  double Uniform() {  // [0, 1), xorshift32
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state / 4294967296.0;
  }
  int16_t operator()(double value) {
    if (std::isnan(value)) value = 0;  // a float file's NaN is silence, not a wild sample
    if (dither) value += Uniform() - Uniform();
    return static_cast<int16_t>(std::clamp(std::nearbyint(value), -32768.0, 32767.0));
  }
};

// Mix-down of more than two channels: each channel's share of left and
// right from its speaker position (the front pair whole, the rest at -3 dB,
// the low-frequency channel left out), each side scaled so it cannot clip.
struct MixDown {
  std::vector<double> left, right;
};

MixDown StereoMix(const Layout& layout) {
  // Speaker bits: 0 FL, 1 FR, 2 FC, 3 LFE, 4 BL, 5 BR, 6 FLC, 7 FRC, 8 BC,
  // 9 SL, 10 SR, 11 TC, 12 TFL, 13 TFC, 14 TFR, 15 TBL, 16 TBC, 17 TBR.
  constexpr uint32_t kLeft = 1u << 0 | 1u << 4 | 1u << 6 | 1u << 9 | 1u << 12 | 1u << 15;
  constexpr uint32_t kRight = 1u << 1 | 1u << 5 | 1u << 7 | 1u << 10 | 1u << 14 | 1u << 17;
  constexpr double kSide = 0.70710678;
  std::vector<uint32_t> positions;
  for (uint32_t bit = 0; bit < 32; bit++)
    if (layout.channel_mask >> bit & 1) positions.push_back(bit);
  if (positions.size() != layout.channels) {  // no usable mask: the usual order
    positions.clear();
    for (uint32_t c = 0; c < layout.channels; c++) positions.push_back(c);
  }
  MixDown mix;
  for (uint32_t bit : positions) {
    const uint32_t b = bit < 32 ? 1u << bit : 0;
    double l = kSide, r = kSide;  // centre and unknown positions: both sides
    if (bit == 3) l = r = 0;
    if (b & kLeft) l = bit == 0 ? 1.0 : kSide, r = 0;
    if (b & kRight) r = bit == 1 ? 1.0 : kSide, l = 0;
    mix.left.push_back(l);
    mix.right.push_back(r);
  }
  double left_sum = 0, right_sum = 0;
  for (size_t c = 0; c < positions.size(); c++) left_sum += mix.left[c], right_sum += mix.right[c];
  for (size_t c = 0; c < positions.size(); c++) {
    mix.left[c] /= left_sum > 0 ? left_sum : 1;
    mix.right[c] /= right_sum > 0 ? right_sum : 1;
  }
  return mix;
}

// Rates above what a track holds are divided by a whole factor of at most
// kMaxFactor (which bounds the filter's length): to 48000 or 44100 Hz where
// the rate is a multiple of one, else by the smallest factor that lands
// inside the range. 0 when no factor does.
constexpr uint32_t kMaxFactor = 16;

uint32_t DecimationFactor(uint32_t rate) {
  for (uint32_t target : {48000u, 44100u})
    if (rate % target == 0 && rate / target <= kMaxFactor) return rate / target;
  for (uint32_t k = 2; k <= kMaxFactor; k++)
    if (rate % k == 0 && rate / k <= kMaxRate) return k;
  return 0;
}

// Low-pass (windowed sinc, cut a little below the new Nyquist frequency)
// and keep every k-th sample frame.
std::vector<float> Decimate(const std::vector<float>& in, uint32_t channels, uint32_t k) {
  const int half = 16 * static_cast<int>(k);
  const double cutoff = 0.46 / k;  // cycles per input sample
  std::vector<double> taps(2 * half + 1);
  double sum = 0;
  for (int n = -half; n <= half; n++) {
    const double x = 2 * cutoff * n;
    const double sinc = n == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
    const double w = 0.42 + 0.5 * std::cos(M_PI * n / half) + 0.08 * std::cos(2 * M_PI * n / half);
    taps[n + half] = sinc * w;
    sum += taps[n + half];
  }
  for (double& t : taps) t /= sum;
  const int64_t frames = static_cast<int64_t>(in.size() / channels);
  std::vector<float> out;
  out.reserve(static_cast<size_t>((frames + k - 1) / k) * channels);
  for (int64_t at = 0; at < frames; at += k) {
    for (uint32_t c = 0; c < channels; c++) {
      double acc = 0;
      for (int n = -half; n <= half; n++) {
        const int64_t from = at - n;
        if (from >= 0 && from < frames) acc += taps[n + half] * in[size_t(from) * channels + c];
      }
      out.push_back(static_cast<float>(acc));
    }
  }
  return out;
}

bool ConvertData(const uint8_t* data, size_t bytes, const Layout& layout, bool dither,
                 WavSound* sound, std::string* error) {
  const uint32_t frame_bytes = layout.channels * layout.bits / 8;
  const size_t frames = bytes / frame_bytes;
  const bool mix_down = layout.channels > 2;
  const uint32_t out_channels = mix_down ? 2 : layout.channels;
  uint32_t factor = 1;
  if (layout.rate > kMaxRate) {
    factor = DecimationFactor(layout.rate);
    if (factor == 0) {
      *error = "sample rate " + std::to_string(layout.rate) + " Hz outside the " +
               std::to_string(kMinRate) + "..65535 Hz a track holds, and not 2 to " +
               std::to_string(kMaxFactor) + " times a rate inside it";
      return false;
    }
  } else if (layout.rate < kMinRate) {
    *error = "sample rate " + std::to_string(layout.rate) + " Hz outside " +
             std::to_string(kMinRate) + "..65535";
    return false;
  }
  const MixDown mix = mix_down ? StereoMix(layout) : MixDown{};
  const uint32_t sample_bytes = layout.bits / 8;
  auto frame_value = [&](size_t f, uint32_t out_channel) {
    const uint8_t* p = data + f * frame_bytes;
    if (!mix_down) return SampleValue(p + out_channel * sample_bytes, layout);
    const std::vector<double>& weights = out_channel ? mix.right : mix.left;
    double value = 0;
    for (uint32_t c = 0; c < layout.channels; c++)
      if (weights[c] != 0) value += weights[c] * SampleValue(p + c * sample_bytes, layout);
    return value;
  };
  sound->channels = out_channels;
  sound->rate = layout.rate / factor;
  // Only values that fall between 16-bit steps are dithered; 8- and 16-bit
  // sound passed through as it is stays exact.
  const bool inexact = layout.is_float || layout.bits > 16 || mix_down || factor > 1;
  Quantiser Quantise{dither && inexact};
  if (factor == 1) {
    sound->samples.resize(frames * out_channels);
    for (size_t f = 0; f < frames; f++)
      for (uint32_t c = 0; c < out_channels; c++)
        sound->samples[f * out_channels + c] = Quantise(frame_value(f, c));
  } else {
    std::vector<float> mixed(frames * out_channels);
    for (size_t f = 0; f < frames; f++)
      for (uint32_t c = 0; c < out_channels; c++)
        mixed[f * out_channels + c] = static_cast<float>(frame_value(f, c));
    const std::vector<float> decimated = Decimate(mixed, out_channels, factor);
    sound->samples.resize(decimated.size());
    for (size_t i = 0; i < decimated.size(); i++) sound->samples[i] = Quantise(decimated[i]);
  }
  if (layout.is_float || layout.bits > 16)
    sound->notes.push_back(std::to_string(layout.bits) + (layout.is_float ? "-bit float" : "-bit") +
                           " samples rounded to 16 bits" + (dither ? " with dither" : ""));
  if (mix_down)
    sound->notes.push_back(std::to_string(layout.channels) + " channels mixed down to stereo");
  if (factor > 1)
    sound->notes.push_back("resampled from " + std::to_string(layout.rate) + " Hz to " +
                           std::to_string(sound->rate) + " Hz");
  return true;
}

bool Recognise(const uint8_t* data, size_t size, std::string* error) {
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WAVE", 4) == 0)
    return true;
  if (size >= 4 && std::memcmp(data, "RF64", 4) == 0) {
    *error = "an RF64 file (WAV beyond 4 GB), which is not read: give it as plain RIFF/WAVE";
  } else if (size >= 12 && std::memcmp(data, "FORM", 4) == 0 &&
             (std::memcmp(data + 8, "AIFF", 4) == 0 || std::memcmp(data + 8, "AIFC", 4) == 0)) {
    *error = "an AIFF file, not WAV: convert it to RIFF/WAVE first";
  } else {
    *error = "not a RIFF/WAVE file";
  }
  return false;
}

}  // namespace

bool WavReadMemory(const uint8_t* data, size_t size, WavSound* sound, std::string* error,
                   bool dither) {
  *sound = WavSound{};
  if (!Recognise(data, size, error)) return false;
  Layout layout;
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
      if (!ReadFormat(chunk, chunk_size, &layout, error)) return false;
      have_format = true;
    } else if (std::memcmp(data + pos, "data", 4) == 0) {
      if (!have_format) {
        *error = "data chunk before the format chunk";
        return false;
      }
      // A data size past the end (streams written before their length was
      // known, such as a pipe) is taken as "to the end of the file".
      const size_t bytes = chunk_size <= available ? chunk_size : available;
      sound->bits = layout.bits;
      sound->is_float = layout.is_float;
      return ConvertData(chunk, bytes, layout, dither, sound, error);
    }
    if (chunk_size > available) break;
    pos += 8 + size_t{chunk_size} + (chunk_size & 1);
  }
  *error = have_format ? "no data chunk" : "no format chunk";
  return false;
}

bool WavRead(const char* path, WavSound* sound, std::string* error, bool dither) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeInput(path, &bytes)) {
    *error = std::string("cannot read '") + path + "'";
    return false;
  }
  return WavReadMemory(bytes.data(), bytes.size(), sound, error, dither);
}

bool WavWrite(const char* path, const WavSound& sound, std::string* error) {
  std::vector<uint8_t> out;
  if (!WavEncode(sound, &out)) {
    *error = std::string("too much sound for one file: '") + path + "'";
    return false;
  }
  if (!WriteWholeOutput(path, out)) {
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
