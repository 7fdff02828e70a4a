// The mirror of the video bit reader: packs values least significant bit
// first into little-endian 32-bit words. Used by the encoder and by tests
// that build streams by hand.
#pragma once
#include <bit>
#include <cstdint>
#include <vector>

struct BitWriter {
  std::vector<uint32_t> words;  // finished words
  uint64_t pending = 0;         // bits not yet forming a whole word, low first
  uint32_t pending_bits = 0;
  // A counting writer only adds up how many bits it was given (the block
  // decisions price their codings this way, many times per block).
  bool counting = false;
  uint64_t counted = 0;
};

// Bits needed to write v (0 for 0), and the magnitude of a signed value:
// the syntax writers size their fields with these.
inline uint32_t TopBitPlusOne(uint32_t v) { return static_cast<uint32_t>(std::bit_width(v)); }
inline uint32_t Magnitude(int32_t v) { return static_cast<uint32_t>(v < 0 ? -v : v); }

// Appends the low n bits of value (0 <= n <= 32), first bit = least significant.
inline void BitWriterPut(BitWriter* writer, uint32_t value, uint32_t n) {
  if (writer->counting) {
    writer->counted += n;
    return;
  }
  if (n == 0) return;
  if (n < 32) value &= (1u << n) - 1;
  writer->pending |= uint64_t{value} << writer->pending_bits;
  writer->pending_bits += n;
  if (writer->pending_bits >= 32) {
    writer->words.push_back(static_cast<uint32_t>(writer->pending));
    writer->pending >>= 32;
    writer->pending_bits -= 32;
  }
}
// Bits written so far.
uint64_t BitWriterBitCount(const BitWriter* writer);
// Pads with zero bits to the next word boundary (a plane ends on whole words).
void BitWriterAlign(BitWriter* writer);
// Appends what another writer holds (its whole words and pending bits).
void BitWriterAppend(BitWriter* writer, const BitWriter& bits);
// Appends the words (after aligning) as little-endian bytes.
void BitWriterAppendBytes(BitWriter* writer, std::vector<uint8_t>* out);
