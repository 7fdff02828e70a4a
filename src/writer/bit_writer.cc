#include "writer/bit_writer.h"

void BitWriterPutCode(BitWriter* writer, uint32_t code, uint32_t length) {
  // The tables list codes first-bit-left; the stream wants the first bit lowest.
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < length; i++) reversed |= ((code >> (length - 1 - i)) & 1u) << i;
  BitWriterPut(writer, reversed, length);
}

uint64_t BitWriterBitCount(const BitWriter* writer) {
  if (writer->counting) return writer->counted;
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
