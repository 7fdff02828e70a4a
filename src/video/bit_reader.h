// The bit reader of one plane: little-endian 32-bit words read from their
// least significant bit upward. Reads are bounded by the bytes the caller
// hands over: past the end every bit reads as 0, the position stops at the
// end and `overrun` is set, so a broken plane can be abandoned by the caller
// without anything outside the data being touched.
#pragma once
#include <cstdint>
#include <cstring>

struct BitReader {
  const uint8_t* data;  // first byte of the plane's first word
  uint32_t size;        // readable bytes from data
  uint32_t pos;         // bits consumed, at most size x 8
  uint32_t overrun;     // 1 once a read asked for bits past the end
};

// Frames larger than this are not plausible; the cap keeps bit positions in 32 bits.
inline constexpr uint32_t BIT_READER_MAX_BYTES = 0x10000000;

inline void BitReaderInit(BitReader* reader, const uint8_t* data, uint32_t size) {
  reader->data = data;
  reader->size = size < BIT_READER_MAX_BYTES ? size : BIT_READER_MAX_BYTES;
  reader->pos = 0;
  reader->overrun = 0;
}

inline uint64_t BitReaderLoad64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The next n bits (n <= 32) without consuming them; missing bits are 0.
inline uint32_t BitReaderPeek(const BitReader* reader, uint32_t n) {
  uint32_t byte = reader->pos >> 3;
  uint64_t window;
  if (byte + 8 <= reader->size) {
    window = BitReaderLoad64(reader->data + byte);
  } else {
    window = 0;
    for (uint32_t i = 0; byte + i < reader->size && i < 8; i++)
      window |= uint64_t{reader->data[byte + i]} << (8 * i);
  }
  window >>= reader->pos & 7;
  return static_cast<uint32_t>(window & ((uint64_t{1} << n) - 1));
}

inline void BitReaderSkip(BitReader* reader, uint32_t n) {
  uint32_t limit = reader->size * 8;
  if (n > limit - reader->pos) {
    reader->pos = limit;
    reader->overrun = 1;
  } else {
    reader->pos += n;
  }
}

// The next n bits (0 <= n <= 32), the first bit read being the least significant.
inline uint32_t ReadBits(BitReader* reader, uint32_t n) {
  uint32_t value = BitReaderPeek(reader, n);
  BitReaderSkip(reader, n);
  return value;
}

inline uint32_t ReadBit(BitReader* reader) { return ReadBits(reader, 1); }

// Bytes from the start of the plane to the word after the last word any
// consumed bit came from: where the next plane of an old-format frame starts.
inline uint32_t BitReaderWordsEnd(const BitReader* reader) {
  return ((reader->pos + 31) / 32) * 4;
}
