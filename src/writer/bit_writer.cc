#include "writer/bit_writer.h"

#include <algorithm>

uint64_t BitWriterBitCount(const BitWriter* writer) {
  if (writer->counting) return writer->counted;
  return uint64_t{writer->words.size()} * 32 + writer->pending_bits;
}

void BitWriterAlign(BitWriter* writer) {
  if (writer->pending_bits) BitWriterPut(writer, 0, 32 - writer->pending_bits);
}

void BitWriterAppend(BitWriter* writer, const BitWriter& bits) {
  if (writer->counting) {
    writer->counted += uint64_t{bits.words.size()} * 32 + bits.pending_bits;
    return;
  }
  // A plane's rows are appended one by one: grow by doubling, not by each.
  std::vector<uint32_t>& words = writer->words;
  size_t needed = words.size() + bits.words.size() + 1;
  if (needed > words.capacity()) words.reserve(std::max(needed, 2 * words.capacity()));
  for (uint32_t w : bits.words) {  // as BitWriterPut(writer, w, 32)
    writer->pending |= uint64_t{w} << writer->pending_bits;
    words.push_back(static_cast<uint32_t>(writer->pending));
    writer->pending >>= 32;
  }
  BitWriterPut(writer, static_cast<uint32_t>(bits.pending), bits.pending_bits);
}

void BitWriterAppendBytes(BitWriter* writer, std::vector<uint8_t>* out) {
  BitWriterAlign(writer);
  size_t at = out->size();
  out->resize(at + 4 * writer->words.size());
  uint8_t* bytes = out->data() + at;
  for (uint32_t w : writer->words) {
    bytes[0] = static_cast<uint8_t>(w);
    bytes[1] = static_cast<uint8_t>(w >> 8);
    bytes[2] = static_cast<uint8_t>(w >> 16);
    bytes[3] = static_cast<uint8_t>(w >> 24);
    bytes += 4;
  }
}
