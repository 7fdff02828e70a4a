#include "writer/audio_encoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <new>

#include "audio/audio_decoder_record.h"
#include "vorn/movie_flags.h"
#include "writer/audio_forward.h"
#include "writer/bit_writer.h"
#include "writer/writer_memory.h"

struct AudioEncoder {
  uint32_t rate, channels;
  bool use_dct;
  uint32_t frame_len;       // L: sample frames per block
  uint32_t n;               // coefficients per coded channel
  uint32_t coded_channels;
  uint32_t block_values;    // B = L * channels 16-bit values per block
  uint32_t overlap_values;  // B / 16: the cross-faded tail
  uint32_t band_count;
  uint32_t band_edges[AUDIO_MAX_BANDS + 1];
  float scales[256];
  float min_step;           // the quantiser step the quality asks for
  AudioForward forward;
  // Per-block working arrays, kept to avoid reallocating.
  std::vector<double> block, channel, coefficients;
  std::vector<int32_t> levels;
  std::vector<uint8_t> band_of;  // band index of each coefficient >= 2
};

namespace {

constexpr uint32_t kMaxLevel = 32767;  // 15-bit magnitudes

// ---- Leading values: 5-bit exponent, 23-bit mantissa, sign ---------------------------

uint32_t LeadingField(double value) {
  const double magnitude = std::fabs(value);
  for (uint32_t e = 0; e <= 23; e++) {
    const double m = std::nearbyint(std::ldexp(magnitude, 23 - int(e)));
    if (m < double(1u << 23)) return e | uint32_t(m) << 5 | uint32_t(value < 0) << 28;
  }
  return 23 | ((1u << 23) - 1) << 5 | uint32_t(value < 0) << 28;
}

// ---- Run layout ---------------------------------------------------------------------------

struct RunChoice {
  uint32_t end_group;
  int code;  // -1: the plain 8-coefficient run
  uint32_t width;
};

// Chooses the runs over coefficients 2..n-1 (groups of 8 from 2, the last
// one short) that take the fewest bits: for every start group the cheapest
// of the 17 run lengths followed by the best layout of the rest.
std::vector<RunChoice> PlanRuns(const int32_t* levels, uint32_t n) {
  const uint32_t groups = (n - 2 + 7) / 8;
  // Each group's largest magnitude, non-zero count and size, gathered once:
  // the runs from every start group grow over the same groups.
  std::vector<uint32_t> group_peak(groups), group_nonzero(groups), group_count(groups);
  for (uint32_t g = 0; g < groups; g++) {
    const uint32_t from = 2 + 8 * g, to = std::min(from + 8, n);
    uint32_t peak = 0, nonzero = 0;
    for (uint32_t j = from; j < to; j++) {
      const uint32_t level = uint32_t(std::abs(levels[j]));
      peak = std::max(peak, level);
      nonzero += level != 0;
    }
    group_peak[g] = peak;
    group_nonzero[g] = nonzero;
    group_count[g] = to - from;
  }
  std::vector<uint32_t> best(groups + 1, 0);
  std::vector<RunChoice> choice(groups);
  for (uint32_t g = groups; g-- > 0;) {
    // Running maximum and non-zero count as the run grows group by group.
    uint32_t peak[65], nonzero[65], count[65];
    peak[0] = nonzero[0] = count[0] = 0;
    const uint32_t reach = std::min(groups - g, 64u);
    for (uint32_t len = 1; len <= reach; len++) {
      const uint32_t last = g + len - 1;
      peak[len] = std::max(peak[len - 1], group_peak[last]);
      nonzero[len] = nonzero[len - 1] + group_nonzero[last];
      count[len] = count[len - 1] + group_count[last];
    }
    best[g] = ~0u;
    auto consider = [&](uint32_t len, int code, uint32_t header_bits) {
      const uint32_t used = std::min(len, reach);
      const uint32_t width = TopBitPlusOne(peak[used]);
      const uint32_t cost = header_bits + 4 + width * count[used] + (width ? nonzero[used] : 0) + best[g + used];
      if (cost < best[g]) {
        best[g] = cost;
        choice[g] = {g + used, code, width};
      }
    };
    consider(1, -1, 1);
    for (int code = 0; code < 16; code++) consider(AUDIO_RUN_LENGTHS[code], code, 5);
  }
  std::vector<RunChoice> runs;
  for (uint32_t g = 0; g < groups; g = choice[g].end_group) runs.push_back(choice[g]);
  return runs;
}

// ---- One coded channel ---------------------------------------------------------------------

void CodeChannel(AudioEncoder* enc, const double* x, BitWriter* bits) {
  const uint32_t n = enc->n;
  BitWriterPut(bits, LeadingField(x[0]), 29);
  BitWriterPut(bits, LeadingField(x[1]), 29);
  // Each band's step: the quality's step, or larger when the band's peak
  // would not fit 15-bit magnitudes.
  float step[AUDIO_MAX_BANDS];
  for (uint32_t b = 0; b < enc->band_count; b++) {
    double peak = 0;
    for (uint32_t j = 2 * enc->band_edges[b]; j < 2 * enc->band_edges[b + 1]; j++) peak = std::max(peak, std::fabs(x[j]));
    const double needed = std::max<double>(enc->min_step, peak / (kMaxLevel + 0.49));
    uint32_t q = 0;
    while (q < 255 && enc->scales[q] < needed) q++;
    BitWriterPut(bits, q, 8);
    step[b] = enc->scales[q];
  }
  int32_t* levels = enc->levels.data();
  for (uint32_t j = 2; j < n; j++) {
    const double level = std::min<double>(std::nearbyint(std::fabs(x[j]) / step[enc->band_of[j]]), kMaxLevel);
    levels[j] = x[j] < 0 ? -int32_t(level) : int32_t(level);
  }
  uint32_t j = 2;
  for (const RunChoice& run : PlanRuns(levels, n)) {
    if (run.code < 0) {
      BitWriterPut(bits, 0, 1);
    } else {
      BitWriterPut(bits, 1, 1);
      BitWriterPut(bits, uint32_t(run.code), 4);
    }
    BitWriterPut(bits, run.width, 4);
    const uint32_t end = std::min(2 + 8 * run.end_group, n);
    for (; j < end; j++) {
      if (run.width == 0) continue;
      const uint32_t level = uint32_t(std::abs(levels[j]));
      BitWriterPut(bits, level, run.width);
      if (level) BitWriterPut(bits, levels[j] < 0 ? 1 : 0, 1);
    }
  }
}

// ---- Block content --------------------------------------------------------------------------

// The packet's samples, then the following ones, then the last one held.
struct SampleSource {
  const int16_t* pcm;
  uint32_t count;  // values in pcm
  const int16_t* following;
  uint32_t following_count;
  uint32_t channels;
  double At(uint64_t pos) const {
    if (pos < count) return pcm[pos];
    if (pos - count < following_count) return following[pos - count];
    const uint32_t channel = uint32_t(pos % channels);
    if (following_count) return following[following_count - channels + channel];
    return pcm[count - channels + channel];
  }
};

// Block values for a block whose first `used` values are output from stream
// position start: those values, then a bridge, then the tail that the next
// block's start fades in from (the stream's values at start + used).
void BuildBlock(AudioEncoder* enc, const SampleSource& src, uint64_t start, uint32_t used) {
  const uint32_t values = enc->block_values, tail = enc->overlap_values, ch = enc->channels;
  double* v = enc->block.data();
  const uint32_t body = values - tail;
  for (uint32_t t = 0; t < used; t++) v[t] = src.At(start + t);
  for (uint32_t t = 0; t < tail; t++) v[body + t] = src.At(start + used + t);
  // A block cut short by the packet's end: join its last output frame to
  // the tail with a straight line per channel (no jump to spread noise).
  const uint32_t gap = body - used;
  for (uint32_t t = 0; t < gap; t++) {
    const uint32_t c = t % ch;
    const double from = v[used - ch + c], to = v[body + c];
    const double frac = double(t / ch + 1) / double(gap / ch + 1);
    v[used + t] = from + (to - from) * frac;
  }
}

void CodeBlock(AudioEncoder* enc, BitWriter* bits) {
  const uint32_t n = enc->n;
  if (enc->use_dct) BitWriterPut(bits, 0, 2);
  for (uint32_t c = 0; c < enc->coded_channels; c++) {
    // DCT codes each channel on its own; RDFT the interleaved signal whole.
    for (uint32_t t = 0; t < n; t++) enc->channel[t] = enc->block[t * enc->coded_channels + c];
    if (enc->use_dct) {
      AudioForwardDct(&enc->forward, enc->channel.data(), enc->coefficients.data());
    } else {
      AudioForwardRealDft(&enc->forward, enc->channel.data(), enc->coefficients.data());
    }
    CodeChannel(enc, enc->coefficients.data(), bits);
  }
}

}  // namespace

AudioEncoder* AudioEncoderOpen(uint32_t rate, uint32_t channels, bool use_dct, int quality) {
  if (rate == 0 || rate > 0xFFFF || channels < 1 || channels > 2) return nullptr;
  if (!WriterMayAllocate(sizeof(AudioEncoder))) return nullptr;
  auto* enc = new (std::nothrow) AudioEncoder();
  if (!enc) return nullptr;
  enc->rate = rate;
  enc->channels = channels;
  enc->use_dct = use_dct;
  enc->frame_len = AudioFrameLength(rate);
  enc->coded_channels = use_dct ? channels : 1;
  enc->n = use_dct ? enc->frame_len : enc->frame_len * channels;
  enc->block_values = enc->frame_len * channels;
  enc->overlap_values = enc->block_values / 16;
  enc->band_count = AudioBandLayout(enc->n, use_dct ? rate : rate * channels, enc->band_edges);
  for (uint32_t q = 0; q < 256; q++) enc->scales[q] = AudioBandScale(q);
  // Quality 100 quantises with step 1 (about half a 16-bit step of noise),
  // every 10 quality points below multiply the step by about 2.5.
  const int clamped = std::clamp(quality, 0, 100);
  enc->min_step = enc->scales[(100 - clamped) * 6 / 10];
  AudioForwardInit(&enc->forward, enc->n, use_dct);
  enc->block.resize(enc->block_values);
  enc->channel.resize(enc->n);
  enc->coefficients.resize(enc->n);
  enc->levels.resize(enc->n);
  enc->band_of.assign(enc->n, 0);
  for (uint32_t b = 0; b < enc->band_count; b++) {
    for (uint32_t j = 2 * enc->band_edges[b]; j < 2 * enc->band_edges[b + 1]; j++) enc->band_of[j] = uint8_t(b);
  }
  return enc;
}

void AudioEncoderClose(AudioEncoder* encoder) { delete encoder; }

uint32_t AudioEncoderBlockFrames(const AudioEncoder* enc) {
  return (enc->block_values - enc->overlap_values) / enc->channels;
}

uint32_t AudioEncoderFramesForVideoFrame(const AudioEncoder* enc, uint32_t frame_index, uint32_t rate_num,
                                         uint32_t rate_den) {
  const uint64_t num = rate_num ? rate_num : 1, den = rate_den ? rate_den : 1;
  const uint64_t per_block = AudioEncoderBlockFrames(enc);
  // Whole blocks covering 0.75 s plus the time up to this frame's start.
  auto blocks_by = [&](uint64_t frame) {
    const uint64_t need_num = 3 * uint64_t{enc->rate} * num + 4 * frame * enc->rate * den;
    const uint64_t need_den = 4 * num;
    return (need_num + need_den * per_block - 1) / (need_den * per_block);
  };
  const uint64_t before = frame_index ? blocks_by(frame_index - 1) : 0;
  return uint32_t((blocks_by(frame_index) - before) * per_block);
}

uint32_t AudioEncoderTrackFormat(const AudioEncoder* enc, bool sixteen_bit) {
  uint32_t format = enc->rate | (enc->use_dct ? AUDIO_TRACK_DCT : AUDIO_TRACK_RDFT);
  if (enc->channels == 2) format |= AUDIO_TRACK_STEREO;
  if (sixteen_bit) format |= AUDIO_TRACK_16BIT;
  return format;
}

std::vector<uint8_t> AudioEncodePacket(AudioEncoder* enc, const int16_t* pcm, uint32_t frames,
                                       const int16_t* following, uint32_t following_frames) {
  std::vector<uint8_t> payload;
  // decoded_bytes is a 32-bit word: larger packets cannot be described.
  if (frames == 0 || !pcm || uint64_t{frames} * enc->channels * 2 > 0xFFFFFFFFull) return payload;
  const uint32_t values = frames * enc->channels;
  const uint32_t decoded_bytes = values * 2;
  for (int i = 0; i < 4; i++) payload.push_back(uint8_t(decoded_bytes >> (8 * i)));
  const SampleSource src = {pcm, values, following, following ? following_frames * enc->channels : 0,
                            enc->channels};
  const uint32_t yield = enc->block_values - enc->overlap_values;
  for (uint32_t start = 0; start < values; start += yield) {
    BuildBlock(enc, src, start, std::min(yield, values - start));
    BitWriter bits;
    CodeBlock(enc, &bits);
    BitWriterAppendBytes(&bits, &payload);
  }
  return payload;
}
