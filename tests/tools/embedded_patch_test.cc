// The embedded command line written into an executable image by vorntool
// bundle, and found again where the player reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "vorntool/embedded_patch.h"

namespace {

std::vector<uint8_t> PosixImage() {
  std::vector<uint8_t> image(3000, 0x55);
  std::string area = VORN_EMBEDDED_MARKER + std::string(kEmbeddedCapacity, '~');
  std::memcpy(image.data() + 1000, area.c_str(), area.size() + 1);
  // A bare copy of the marker text (as code that searches for it holds) is not the area.
  std::memcpy(image.data() + 100, VORN_EMBEDDED_MARKER, kEmbeddedMarkerLength + 1);
  return image;
}

TEST(EmbeddedCommand, PosixAreaIsPatchedInPlace) {
  std::vector<uint8_t> image = PosixImage();
  ASSERT_EQ(EmbeddedAreaFind(image.data(), image.size()), 1000 + kEmbeddedMarkerLength);
  char error[256];
  ASSERT_TRUE(EmbeddedCommandPatch(image.data(), image.size(), ":3000 /l ", error, sizeof(error)));
  std::string area(reinterpret_cast<char*>(image.data()) + 1000 + kEmbeddedMarkerLength);
  EXPECT_EQ(area, ":3000 /l " + std::string(kEmbeddedCapacity - 9, '~'));
  // A bundled player can be bundled again.
  ASSERT_TRUE(EmbeddedCommandPatch(image.data(), image.size(), ":9", error, sizeof(error)));
  area = reinterpret_cast<char*>(image.data()) + 1000 + kEmbeddedMarkerLength;
  EXPECT_EQ(area.substr(0, 3), ":9~");
}

TEST(EmbeddedCommand, RefusesWhatCannotBeRead) {
  std::vector<uint8_t> image = PosixImage();
  char error[256];
  EXPECT_FALSE(EmbeddedCommandPatch(image.data(), image.size(), std::string(511, 'a').c_str(), error,
                                    sizeof(error)));
  EXPECT_TRUE(EmbeddedCommandPatch(image.data(), image.size(), std::string(510, 'a').c_str(), error,
                                   sizeof(error)));
  EXPECT_FALSE(EmbeddedCommandPatch(image.data(), image.size(), "a~b", error, sizeof(error)));
  EXPECT_FALSE(EmbeddedCommandPatch(image.data(), image.size(), "caf\xE9", error, sizeof(error)));
  std::vector<uint8_t> twice = PosixImage();  // two areas: which one would be read?
  const std::vector<uint8_t> one = PosixImage();
  twice.insert(twice.end(), one.begin() + 1000, one.begin() + 1000 + kEmbeddedMarkerLength + 512);
  EXPECT_FALSE(EmbeddedCommandPatch(twice.data(), twice.size(), "x", error, sizeof(error)));
  std::vector<uint8_t> none(5000, '~');
  EXPECT_FALSE(EmbeddedCommandPatch(none.data(), none.size(), "x", error, sizeof(error)));
}

// A minimal Windows executable: one section holding a resource tree with
// string block 1 (strings 0-15) in one language; string 1 has `capacity` '~'.
std::vector<uint8_t> PeImage(uint32_t capacity) {
  std::vector<uint8_t> im(0x200 + 0x58 + 2 * 16 + 2 * capacity, 0);
  auto put16 = [&](size_t at, uint32_t v) { im[at] = v & 0xFF, im[at + 1] = (v >> 8) & 0xFF; };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  const uint32_t pe = 0x40, optional = pe + 24, section = optional + 224, raw = 0x200, rva = 0x1000;
  im[0] = 'M', im[1] = 'Z';
  put32(0x3C, pe);
  put32(pe, 0x4550);
  put16(pe + 4, 0x14C);
  put16(pe + 6, 1);
  put16(pe + 20, 224);
  put16(optional, 0x10B);
  put32(optional + 92, 16);
  uint32_t data_size = 2 * 16 + 2 * capacity;
  put32(optional + 96 + 16, rva);
  put32(optional + 96 + 20, 0x58 + data_size);
  std::memcpy(&im[section], ".rsrc", 5);
  put32(section + 8, 0x58 + data_size);
  put32(section + 12, rva);
  put32(section + 16, 0x58 + data_size);
  put32(section + 20, raw);
  // Type 6 -> block 1 -> language 0x409 -> data entry.
  put16(raw + 14, 1), put32(raw + 16, 6), put32(raw + 20, 0x80000018);
  put16(raw + 0x18 + 14, 1), put32(raw + 0x18 + 16, 1), put32(raw + 0x18 + 20, 0x80000030);
  put16(raw + 0x30 + 14, 1), put32(raw + 0x30 + 16, 0x409), put32(raw + 0x30 + 20, 0x48);
  put32(raw + 0x48, rva + 0x58), put32(raw + 0x48 + 4, data_size);
  size_t s1 = raw + 0x58 + 2;  // string 0 is empty
  put16(s1, capacity);
  for (uint32_t k = 0; k < capacity; ++k) put16(s1 + 2 + 2 * k, '~');
  return im;
}

std::string PeStringOne(const std::vector<uint8_t>& im) {
  size_t s1 = 0x200 + 0x58 + 2;
  uint32_t len = im[s1] | (im[s1 + 1] << 8);
  std::string out;
  for (uint32_t k = 0; k < len; ++k) {
    EXPECT_EQ(im[s1 + 3 + 2 * k], 0);
    out += static_cast<char>(im[s1 + 2 + 2 * k]);
  }
  return out;
}

TEST(EmbeddedCommand, WindowsStringResourceIsPatchedAsUtf16) {
  std::vector<uint8_t> im = PeImage(kEmbeddedCapacity);
  std::vector<uint8_t> before = im;
  char error[256];
  ASSERT_TRUE(EmbeddedCommandPatch(im.data(), im.size(), ":1234 /l ", error, sizeof(error))) << error;
  EXPECT_EQ(PeStringOne(im), ":1234 /l " + std::string(kEmbeddedCapacity - 9, '~'));
  size_t changed_from = 0x200 + 0x58 + 4, changed_to = changed_from + 18;
  for (size_t i = 0; i < im.size(); ++i)
    if (i < changed_from || i >= changed_to) ASSERT_EQ(im[i], before[i]) << "byte " << i;
}

TEST(EmbeddedCommand, DamagedWindowsImagesAreRefusedSafely) {
  char error[256];
  std::vector<uint8_t> other = PeImage(20);  // string 1 is not the reserve
  EXPECT_FALSE(EmbeddedCommandPatch(other.data(), other.size(), "x", error, sizeof(error)));
  const std::vector<uint8_t> good = PeImage(kEmbeddedCapacity);
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    std::vector<uint8_t> im(good.begin(), good.begin() + cut);
    EXPECT_FALSE(EmbeddedCommandPatch(im.data(), im.size(), "x", error, sizeof(error))) << cut;
  }
  // Every header and directory word set to a large value, one at a time.
  for (size_t at = 0x3C; at < 0x200 + 0x58; at += 2) {
    std::vector<uint8_t> im = good;
    im[at] ^= 0xFF;
    im[at + 1] ^= 0x7F;
    EmbeddedCommandPatch(im.data(), im.size(), "x", error, sizeof(error));  // must not crash
  }
}

}  // namespace
