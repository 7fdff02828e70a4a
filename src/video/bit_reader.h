// The bit reader of one plane: little-endian 32-bit words read from their
// least significant bit upward. Reads are bounded by the bytes the caller
// hands over: past the end every bit reads as 0 and the reader reports an
// overrun, so a broken plane can be abandoned by the caller without anything
// outside the data being touched.
//
// Bits are kept in a 64-bit cache refilled a whole number of bytes at a time
// (eight-byte loads where eight bytes remain). A fast refill also ORs in some
// bits beyond the bytes it counts; they are the very bits the next refill puts
// at the same place, so the OR leaves them unchanged.
#pragma once
#include <cstdint>
#include <cstring>

struct BitReader {
  const uint8_t* data;  // first byte of the plane's first word
  uint32_t size;        // readable bytes from data
  uint32_t next;        // bytes loaded into the cache (past size: zero bytes)
  uint64_t cache;       // loaded, unconsumed bits, the next one lowest
  uint32_t cached;      // how many bits of cache are loaded
};

// Frames larger than this are not plausible; the cap keeps bit positions in 32 bits.
inline constexpr uint32_t BIT_READER_MAX_BYTES = 0x10000000;

inline void BitReaderInit(BitReader* reader, const uint8_t* data, uint32_t size) {
  reader->data = data;
  reader->size = size < BIT_READER_MAX_BYTES ? size : BIT_READER_MAX_BYTES;
  reader->next = 0;
  reader->cache = 0;
  reader->cached = 0;
}

inline void BitReaderRefill(BitReader* reader) {
  if (reader->size >= 8 && reader->next <= reader->size - 8) {
    uint64_t w;
    std::memcpy(&w, reader->data + reader->next, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    reader->cache |= w << reader->cached;
    uint32_t bytes = (63 - reader->cached) >> 3;
    reader->next += bytes;
    reader->cached += 8 * bytes;
    return;
  }
  while (reader->cached <= 56) {
    uint64_t byte = reader->next < reader->size ? reader->data[reader->next] : 0;
    reader->cache |= byte << reader->cached;
    reader->next++;
    reader->cached += 8;
  }
}

// The next n bits (n <= 32) without consuming them; missing bits are 0.
inline uint32_t BitReaderPeek(BitReader* reader, uint32_t n) {
  if (reader->cached < n) BitReaderRefill(reader);
  return static_cast<uint32_t>(reader->cache & ((uint64_t{1} << n) - 1));
}

// Consumes n bits (n <= 32).
inline void BitReaderSkip(BitReader* reader, uint32_t n) {
  if (reader->cached < n) BitReaderRefill(reader);
  reader->cache >>= n;
  reader->cached -= n;
}

// The next n bits (0 <= n <= 32), the first bit read being the least significant.
inline uint32_t ReadBits(BitReader* reader, uint32_t n) {
  uint32_t value = BitReaderPeek(reader, n);
  reader->cache >>= n;
  reader->cached -= n;
  return value;
}

inline uint32_t ReadBit(BitReader* reader) { return ReadBits(reader, 1); }

// Bits consumed so far.
inline uint64_t BitReaderPosition(const BitReader* reader) {
  return uint64_t{reader->next} * 8 - reader->cached;
}

// Whether a read went past the end of the data.
inline bool BitReaderOverrun(const BitReader* reader) {
  return BitReaderPosition(reader) > uint64_t{reader->size} * 8;
}

// Bytes from the start of the plane to the word after the last word any
// consumed bit came from: where the next plane of an old-format frame starts.
inline uint32_t BitReaderWordsEnd(const BitReader* reader) {
  uint64_t words = (BitReaderPosition(reader) + 31) / 32;
  uint64_t bytes = words * 4;
  return bytes < BIT_READER_MAX_BYTES ? static_cast<uint32_t>(bytes) : BIT_READER_MAX_BYTES;
}
