#include "writer/bit_writer.h"

void BitWriterPut(BitWriter* writer, uint32_t value, uint32_t n) {
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

void BitWriterPutCode(BitWriter* writer, uint32_t code, uint32_t length) {
  // The tables list codes first-bit-left; the stream wants the first bit lowest.
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < length; i++) reversed |= ((code >> (length - 1 - i)) & 1u) << i;
  BitWriterPut(writer, reversed, length);
}

uint64_t BitWriterBitCount(const BitWriter* writer) {
  return uint64_t{writer->words.size()} * 32 + writer->pending_bits;
}

void BitWriterAlign(BitWriter* writer) {
  if (writer->pending_bits) BitWriterPut(writer, 0, 32 - writer->pending_bits);
}

void BitWriterAppendBytes(BitWriter* writer, std::vector<uint8_t>* out) {
  BitWriterAlign(writer);
  for (uint32_t w : writer->words) {
    out->push_back(static_cast<uint8_t>(w));
    out->push_back(static_cast<uint8_t>(w >> 8));
    out->push_back(static_cast<uint8_t>(w >> 16));
    out->push_back(static_cast<uint8_t>(w >> 24));
  }
}
