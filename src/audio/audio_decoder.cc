#include "audio/audio_decoder.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/audio_decoder_record.h"
#include "audio/audio_transform.h"

namespace {

// ---- Memory ----------------------------------------------------------------------

// A 32-byte-aligned block of the C heap; the address malloc gave sits just
// in front of the aligned block.
void* HeapAlloc32(uint32_t size) {
  const size_t extra = 32 + sizeof(void*);
  void* raw = std::malloc(size_t{size} + extra);
  if (!raw) return nullptr;
  const uintptr_t aligned = (reinterpret_cast<uintptr_t>(raw) + extra) & ~uintptr_t{31};
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void HeapFree32(void* block) {
  if (block) std::free(static_cast<void**>(block)[-1]);
}

AudioAllocFunction g_alloc = HeapAlloc32;
AudioFreeFunction g_free = HeapFree32;

// Offsets of the arrays behind the record in the decoder's one block.
struct DecoderLayout {
  uint32_t frame_len, n, coded_channels, block_bytes;
  uint32_t pcm, prev_tail, band_edges, scale_table, coefficients, work, table, total;
};

uint32_t Align32(uint32_t bytes) { return (bytes + 31) & ~31u; }

bool LayoutDecoder(uint32_t rate, uint32_t channels, int use_dct, DecoderLayout* layout) {
  if (rate == 0 || rate > 0xFFFF || channels < 1 || channels > 2) return false;
  layout->frame_len = AudioFrameLength(rate);
  layout->coded_channels = use_dct ? channels : 1;
  layout->n = use_dct ? layout->frame_len : layout->frame_len * channels;
  layout->block_bytes = layout->frame_len * channels * 2;
  uint32_t at = Align32(sizeof(AudioDecoder));
  auto take = [&at](uint32_t bytes) {
    const uint32_t offset = at;
    at += Align32(bytes);
    return offset;
  };
  layout->pcm = take(layout->block_bytes);
  layout->prev_tail = take(layout->block_bytes / 16);
  layout->band_edges = take(4 * (AUDIO_MAX_BANDS + 1));
  layout->scale_table = take(4 * 256);
  layout->coefficients = take(4 * layout->n * layout->coded_channels);
  layout->work = take(4 * AUDIO_TRANSFORM_WORK_WORDS);
  layout->table = take(4 * AudioTransformTableFloats(layout->n));
  layout->total = at;
  return true;
}

// ---- Bit reading -----------------------------------------------------------------

// Little-endian 32-bit words, least significant bit first. Words at or past
// the end of the input read as zero (a partial last word keeps its bytes).
struct BlockBits {
  const uint8_t* start;
  size_t size;           // bytes from start to the end of the input
  uint64_t buffer;       // unread bits, lowest first
  uint32_t count;        // bits in buffer
  uint32_t words;        // words fetched so far
};

// Words are fetched ahead of need; the block's length is counted from the
// bits actually consumed, not from the words fetched.
inline uint32_t FetchWord(BlockBits* bits) {
  const size_t offset = size_t{bits->words} * 4;
  bits->words++;
  if (offset + 4 <= bits->size) {
    const uint8_t* p = bits->start + offset;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  uint32_t word = 0;
  for (size_t i = offset; i < bits->size; i++) word |= uint32_t{bits->start[i]} << (8 * (i - offset));
  return word;
}

// Precondition: count < 32.
inline void Refill(BlockBits* bits) {
  bits->buffer |= uint64_t{FetchWord(bits)} << bits->count;
  bits->count += 32;
}

// n <= 29.
inline uint32_t ReadBits(BlockBits* bits, uint32_t n) {
  if (bits->count < n) Refill(bits);
  const uint32_t value = static_cast<uint32_t>(bits->buffer) & ((1u << n) - 1);
  bits->buffer >>= n;
  bits->count -= n;
  return value;
}

// Words the block has started: the consumed bits rounded up to words.
inline uint32_t WordsUsed(const BlockBits* bits) {
  const uint64_t consumed = uint64_t{bits->words} * 32 - bits->count;
  return uint32_t((consumed + 31) / 32);
}

// One run of width 1..15: per coefficient width bits of magnitude, then a
// sign bit only when the magnitude is not 0. Branch-free per coefficient:
// both fields fit the 16 bits the buffer is kept above.
void ReadRunValues(BlockBits* bits, uint32_t width, float scale, float* x, uint32_t count) {
  const uint32_t mask = (1u << width) - 1;
  uint64_t buffer = bits->buffer;
  uint32_t have = bits->count;
  for (uint32_t i = 0; i < count; i++) {
    if (have < 16) {
      bits->buffer = buffer;
      bits->count = have;
      Refill(bits);
      buffer = bits->buffer;
      have = bits->count;
    }
    const uint32_t magnitude = static_cast<uint32_t>(buffer) & mask;
    const uint32_t nonzero = magnitude != 0;
    const uint32_t sign = static_cast<uint32_t>(buffer >> width) & nonzero;
    buffer >>= width + nonzero;
    have -= width + nonzero;
    x[i] = std::bit_cast<float>(std::bit_cast<uint32_t>(float(magnitude) * scale) | sign << 31);
  }
  bits->buffer = buffer;
  bits->count = have;
}

// 2^(e - 23) for every 5-bit exponent. Exponents 24..31 lie outside the
// format; they simply continue the formula (at most 2^31 in magnitude).
constexpr float kLeadingScale[32] = {
    0x1p-23f, 0x1p-22f, 0x1p-21f, 0x1p-20f, 0x1p-19f, 0x1p-18f, 0x1p-17f, 0x1p-16f,
    0x1p-15f, 0x1p-14f, 0x1p-13f, 0x1p-12f, 0x1p-11f, 0x1p-10f, 0x1p-9f,  0x1p-8f,
    0x1p-7f,  0x1p-6f,  0x1p-5f,  0x1p-4f,  0x1p-3f,  0x1p-2f,  0x1p-1f,  0x1p0f,
    0x1p1f,   0x1p2f,   0x1p3f,   0x1p4f,   0x1p5f,   0x1p6f,   0x1p7f,   0x1p8f};

float ReadLeadingValue(BlockBits* bits) {
  const uint32_t field = ReadBits(bits, 29);
  const float magnitude = float(field >> 5 & 0x7FFFFF) * kLeadingScale[field & 31];
  return (field >> 28) ? -magnitude : magnitude;
}

// One coded channel's coefficients: two leading values, the band scales and
// the runs from coefficient 2 on.
void ReadChannel(const AudioDecoder* d, BlockBits* bits, float* x) {
  const uint32_t n = d->transform_len;
  const uint32_t* edges = d->band_edges;
  const uint32_t band_count = d->band_count;
  x[0] = ReadLeadingValue(bits);
  x[1] = ReadLeadingValue(bits);
  float scale[AUDIO_MAX_BANDS];
  for (uint32_t b = 0; b < band_count; b++) scale[b] = d->scale_table[ReadBits(bits, 8)];
  // band = number of band starts passed; the current band is band - 1.
  uint32_t band = 0;
  uint32_t j = 2;
  while (j < n) {
    uint32_t run = 8;
    if (ReadBits(bits, 1)) run = 8 * AUDIO_RUN_LENGTHS[ReadBits(bits, 4)];
    const uint32_t end = (run < n - j) ? j + run : n;
    const uint32_t width = ReadBits(bits, 4);
    if (width == 0) {
      std::memset(x + j, 0, sizeof(float) * (end - j));
      j = end;
      while (band < band_count && end > 2 * edges[band]) band++;
      continue;
    }
    // Before each coefficient the band advances by one when the coefficient
    // is the next band's first; between such points the scale is fixed.
    while (j < end) {
      if (band < band_count && j == 2 * edges[band]) band++;
      uint32_t stop = end;
      if (band < band_count && 2 * edges[band] < stop) stop = 2 * edges[band];
      if (stop <= j) stop = j + 1;
      ReadRunValues(bits, width, scale[band ? band - 1 : 0], x + j, stop - j);
      j = stop;
    }
  }
}

// Linear cross-fade of the held-back tail into the new block's start; the
// division by the power of two n floors, as an arithmetic shift does.
void CrossFade(const AudioDecoder* d) {
  const int32_t n = int32_t(d->overlap_bytes / 2);
  for (int32_t i = 0; i < n; i++) {
    const int32_t mixed = int32_t{d->prev_tail[i]} * (n - i) + int32_t{d->pcm[i]} * i;
    d->pcm[i] = static_cast<int16_t>(mixed >> d->overlap_shift);
  }
}

}  // namespace

uint32_t AudioFrameLength(uint32_t rate) {
  if (rate >= 44100) return 2048;
  if (rate >= 22050) return 1024;
  return 512;
}

uint32_t AudioBandLayout(uint32_t n, uint32_t band_rate, uint32_t edges[AUDIO_MAX_BANDS + 1]) {
  const uint32_t half = n / 2;
  const uint32_t nyquist = (band_rate + 1) / 2;
  uint32_t count = 0;
  while (count < AUDIO_BAND_EDGE_COUNT && AUDIO_BAND_EDGES[count] < nyquist) count++;
  for (uint32_t b = 0; b < count; b++) {
    const uint32_t edge = uint32_t(uint64_t{AUDIO_BAND_EDGES[b]} * half / nyquist);
    edges[b] = edge ? edge : 1;
  }
  edges[count] = half;
  return count;
}

float AudioBandScale(uint32_t q) {
  // The exponent is q times the float nearest 0.0664, formed exactly.
  const long double exponent = static_cast<long double>(q) * static_cast<long double>(0.0664f);
  return static_cast<float>(std::pow(10.0L, exponent));
}

void AudioSetMemoryFunctions(AudioAllocFunction alloc, AudioFreeFunction free) {
  g_alloc = alloc ? alloc : HeapAlloc32;
  g_free = free ? free : HeapFree32;
}

uint32_t AudioDecoderMemorySize(uint32_t rate, uint32_t channels, int use_dct) {
  DecoderLayout layout;
  return LayoutDecoder(rate, channels, use_dct, &layout) ? layout.total : 0;
}

AudioDecoder* AudioDecoderOpen(uint32_t rate, uint32_t channels, int use_dct, uint32_t cpu_flags) {
  DecoderLayout layout;
  if (!LayoutDecoder(rate, channels, use_dct, &layout)) return nullptr;
  uint8_t* block = static_cast<uint8_t*>(g_alloc(layout.total));
  if (!block) return nullptr;
  std::memset(block, 0, layout.total);
  AudioDecoder* d = reinterpret_cast<AudioDecoder*>(block);
  d->transform_len = layout.n;
  d->output_scale = float(2.0 / std::sqrt(double(layout.n)));
  d->block_bytes = layout.block_bytes;
  d->overlap_bytes = layout.block_bytes / 16;
  uint32_t shift = 0;
  while ((2u << shift) < d->overlap_bytes) shift++;
  d->overlap_shift = shift;
  d->channels = channels;
  d->coded_channels = layout.coded_channels;
  d->use_dct = use_dct ? 1 : 0;
  d->first_block = 1;
  d->pcm = reinterpret_cast<int16_t*>(block + layout.pcm);
  d->prev_tail = reinterpret_cast<int16_t*>(block + layout.prev_tail);
  d->band_edges = reinterpret_cast<uint32_t*>(block + layout.band_edges);
  d->scale_table = reinterpret_cast<float*>(block + layout.scale_table);
  d->coefficients = reinterpret_cast<float*>(block + layout.coefficients);
  d->transform_work = reinterpret_cast<uint32_t*>(block + layout.work);
  d->transform_table = reinterpret_cast<float*>(block + layout.table);
  AudioFftKernelsInit(&d->kernels, cpu_flags);
  const uint32_t band_rate = use_dct ? rate : rate * channels;
  d->band_count = AudioBandLayout(layout.n, band_rate, d->band_edges);
  for (uint32_t q = 0; q < 256; q++) d->scale_table[q] = AudioBandScale(q);
  return d;
}

void AudioDecoderReset(AudioDecoder* decoder) {
  if (decoder) decoder->first_block = 1;
}

void AudioDecoderClose(AudioDecoder* decoder) { g_free(decoder); }

AudioBlockOutput AudioDecodeBlock(AudioDecoder* d, const uint8_t* input, const uint8_t* input_end) {
  const size_t available = input < input_end ? size_t(input_end - input) : 0;
  BlockBits bits = {input, available, 0, 0, 0};
  const uint32_t n = d->transform_len;
  if (d->use_dct) ReadBits(&bits, 2);
  for (uint32_t c = 0; c < d->coded_channels; c++) {
    float* x = d->coefficients + c * n;
    ReadChannel(d, &bits, x);
    if (d->use_dct) {
      InverseDct(n, x, d->transform_work, d->transform_table, d->kernels);
    } else {
      InverseRealDft(n, x, d->transform_work, d->transform_table, d->kernels);
    }
  }
  const AudioFftKernels& kernels = d->kernels;
  if (d->coded_channels == 2) {
    kernels.to_pcm(d->coefficients, d->coefficients + n, d->pcm, n, d->output_scale);
  } else {
    kernels.to_pcm(d->coefficients, nullptr, d->pcm, n, d->output_scale);
  }
  if (d->first_block) {
    d->first_block = 0;
  } else {
    CrossFade(d);
  }
  const uint32_t values = d->block_bytes / 2;
  const uint32_t tail = d->overlap_bytes / 2;
  std::memcpy(d->prev_tail, d->pcm + values - tail, d->overlap_bytes);
  const size_t used = size_t{WordsUsed(&bits)} * 4;
  AudioBlockOutput out;
  out.pcm = d->pcm;
  out.bytes = d->block_bytes - d->overlap_bytes;
  out.next = used < available ? input + used : (input < input_end ? input_end : input);
  return out;
}
