// Writing the embedded command line into an executable image: used by the
// bundle tool, never by the player itself. Every offset read from the image
// is checked against its size before use.
#include "vorntool/embedded_patch.h"

#include <cstdio>
#include <cstring>

#include "player/command_line.h"

namespace {

constexpr uint32_t kStringTableType = 6;  // string resources, in blocks of 16

struct Image {
  const uint8_t* data;
  size_t size;
};

bool Read16(Image im, uint64_t at, uint32_t* v) {
  if (at + 2 > im.size) return false;
  *v = im.data[at] | (im.data[at + 1] << 8);
  return true;
}

bool Read32(Image im, uint64_t at, uint32_t* v) {
  if (at + 4 > im.size) return false;
  *v = static_cast<uint32_t>(im.data[at]) | (im.data[at + 1] << 8) | (im.data[at + 2] << 16) |
       (static_cast<uint32_t>(im.data[at + 3]) << 24);
  return true;
}

// The section table of a Windows executable, enough to map addresses.
struct PeLayout {
  Image im;
  uint64_t sections;  // file offset of the first section header
  uint32_t section_count;
  uint32_t resource_rva;
};

// File offset of len bytes at rva; false when they lie outside the raw data.
bool RvaToOffset(const PeLayout& pe, uint32_t rva, uint32_t len, uint64_t* offset) {
  for (uint32_t i = 0; i < pe.section_count; ++i) {
    uint64_t h = pe.sections + 40ull * i;
    uint32_t va, raw_size, raw_pos;
    if (!Read32(pe.im, h + 12, &va) || !Read32(pe.im, h + 16, &raw_size) ||
        !Read32(pe.im, h + 20, &raw_pos))
      return false;
    if (rva < va || uint64_t(rva) - va + len > raw_size) continue;
    *offset = uint64_t(raw_pos) + (rva - va);
    return *offset + len <= pe.im.size;
  }
  return false;
}

bool ReadPeLayout(Image im, PeLayout* pe) {
  uint32_t pe_pos, signature, count, optional_size, magic;
  if (im.size < 64 || im.data[0] != 'M' || im.data[1] != 'Z') return false;
  if (!Read32(im, 0x3C, &pe_pos) || !Read32(im, pe_pos, &signature) || signature != 0x4550)
    return false;
  if (!Read16(im, pe_pos + 6, &count) || !Read16(im, pe_pos + 20, &optional_size) ||
      !Read16(im, pe_pos + 24, &magic))
    return false;
  uint64_t optional = pe_pos + 24ull;
  uint64_t directories = optional + (magic == 0x20b ? 112 : 96);
  uint32_t dir_count;
  if ((magic != 0x10b && magic != 0x20b) ||
      !Read32(im, optional + (magic == 0x20b ? 108 : 92), &dir_count) || dir_count < 3)
    return false;
  pe->im = im;
  pe->sections = optional + optional_size;
  pe->section_count = count;
  return Read32(im, directories + 2 * 8, &pe->resource_rva) && pe->resource_rva != 0;
}

// Entries of the resource directory at dir (offset from the resource root)
// whose identifier is id; calls found(entry's OffsetToData) for each.
template <typename Found>
bool ForEachResourceEntry(const PeLayout& pe, uint32_t dir, uint32_t id, Found found) {
  uint64_t at;
  uint32_t named, ids;
  if (!RvaToOffset(pe, pe.resource_rva + dir, 16, &at) || !Read16(pe.im, at + 12, &named) ||
      !Read16(pe.im, at + 14, &ids))
    return false;
  for (uint32_t i = 0; i < named + ids; ++i) {
    uint64_t e;
    uint32_t name, target;
    if (!RvaToOffset(pe, pe.resource_rva + dir + 16 + 8 * i, 8, &e) || !Read32(pe.im, e, &name) ||
        !Read32(pe.im, e + 4, &target))
      return false;
    if (id == UINT32_MAX || (!(name & 0x80000000u) && name == id)) found(target);
  }
  return true;
}

// Finds string 1 in every language of the first string block; returns the
// file offsets of their length words.
uint32_t FindStringOne(const PeLayout& pe, uint64_t* found, uint32_t max_found) {
  uint32_t count = 0;
  auto language = [&](uint32_t target) {
    uint64_t entry;
    uint32_t data_rva, data_size;
    if ((target & 0x80000000u) || !RvaToOffset(pe, pe.resource_rva + target, 16, &entry) ||
        !Read32(pe.im, entry, &data_rva) || !Read32(pe.im, entry + 4, &data_size))
      return;
    uint64_t block;
    if (!RvaToOffset(pe, data_rva, data_size, &block)) return;
    // The block holds strings 0 to 15 as a length word and UTF-16 units.
    uint64_t at = block, end = block + data_size;
    uint32_t len;
    if (!Read16(pe.im, at, &len) || at + 2 + 2ull * len > end) return;
    at += 2 + 2ull * len;
    if (!Read16(pe.im, at, &len) || at + 2 + 2ull * len > end) return;
    if (count < max_found) found[count++] = at;
  };
  auto block = [&](uint32_t target) {
    if (target & 0x80000000u)
      ForEachResourceEntry(pe, target & 0x7FFFFFFF, UINT32_MAX, language);
  };
  auto type = [&](uint32_t target) {
    // Strings 0-15 form block 1.
    if (target & 0x80000000u)
      ForEachResourceEntry(pe, target & 0x7FFFFFFF, (kStringResourceId >> 4) + 1, block);
  };
  ForEachResourceEntry(pe, 0, kStringTableType, type);
  return count;
}

bool CheckText(const char* text, char* error, uint32_t error_size) {
  size_t n = std::strlen(text);
  if (n > kEmbeddedTextMax) {
    std::snprintf(error, error_size, "The embedded command line is too long: %zu characters, at most %u.",
                  n, kEmbeddedTextMax);
    return false;
  }
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '~' || c >= 128) {
      std::snprintf(error, error_size,
                    "The embedded command line may hold only ASCII characters other than '~'.");
      return false;
    }
  }
  return true;
}

bool PatchWindows(uint8_t* image, size_t size, const char* text, char* error, uint32_t error_size) {
  PeLayout pe;
  uint64_t strings[8];
  uint32_t count = ReadPeLayout({image, size}, &pe) ? FindStringOne(pe, strings, 8) : 0;
  if (count == 0) {
    std::snprintf(error, error_size, "The player has no string resource 1 for its command line.");
    return false;
  }
  size_t n = std::strlen(text);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t capacity = 0;
    Read16({image, size}, strings[i], &capacity);
    if (capacity != kEmbeddedCapacity) {
      std::snprintf(error, error_size,
                    "The player's string resource 1 is not the reserved command line "
                    "(%u characters, expected %u).",
                    capacity, kEmbeddedCapacity);
      return false;
    }
    uint8_t* units = image + strings[i] + 2;
    for (uint32_t k = 0; k < capacity; ++k) {
      units[2 * k] = k < n ? static_cast<uint8_t>(text[k]) : '~';
      units[2 * k + 1] = 0;
    }
  }
  return true;
}

}  // namespace

bool EmbeddedCommandPatch(uint8_t* image, size_t size, const char* text, char* error,
                          uint32_t error_size) {
  if (!CheckText(text, error, error_size)) return false;
  if (size >= 2 && image[0] == 'M' && image[1] == 'Z')
    return PatchWindows(image, size, text, error, error_size);
  ptrdiff_t area = EmbeddedAreaFind(image, size);
  if (area < 0) {
    std::snprintf(error, error_size, "The player has no single reserved command line to patch.");
    return false;
  }
  size_t n = std::strlen(text);
  for (uint32_t k = 0; k < kEmbeddedCapacity; ++k)
    image[area + k] = k < n ? static_cast<uint8_t>(text[k]) : '~';
  return true;
}
