// A movie's alpha plane reaches every output that can carry it: the four
// alpha pixel formats of decode --pixels, RGBA PNGs, and info's "alpha" line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"
#include "vorntool/encode/y4m.h"
#include "writer/encode_movie.h"

namespace {

constexpr uint32_t kW = 48, kH = 32;

int RunCommand(int (*command)(int, char**), std::vector<std::string> args,
               std::string* out = nullptr) {
  return RunToolOk(command, args, out);
}

int Picture(void* alpha, uint32_t frame, VideoPicture* picture) {
  if (frame >= 2) return 0;
  SynthPicture(SynthScene::kShapes, frame, kW, kH, *static_cast<bool*>(alpha), picture);
  return 1;
}

std::string EncodedMovie(const std::string& name, bool alpha) {
  MovieEncodeOptions options;
  options.video.width = kW;
  options.video.height = kH;
  options.video.alpha = alpha;
  std::vector<uint8_t> movie;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(options, Picture, &alpha, &movie, nullptr, &error)) << error;
  return FixtureWriteFile(name, movie);
}

// The decoded alpha plane of each frame, as decode --alpha writes it.
std::vector<std::vector<uint8_t>> DecodedAlpha(const std::string& movie) {
  const std::string video = FixtureTempPath("v.y4m"), alpha = FixtureTempPath("a.y4m");
  RunCommand(CmdDecode, {"decode", movie, "--video", video, "--alpha", alpha});
  Y4mReader reader;
  std::string error;
  std::vector<std::vector<uint8_t>> planes;
  if (!Y4mOpen(alpha.c_str(), &reader, &error)) return planes;
  VideoPicture picture;
  while (Y4mReadPicture(&reader, &picture, &error) == 1) planes.push_back(picture.y);
  Y4mClose(&reader);
  return planes;
}

struct AlphaFormat {
  const char* name;
  uint32_t bytes;
  // The alpha a pixel carries, brought to the field's width, and the alpha
  // expected there from the 8-bit plane.
  uint32_t (*stored)(const uint8_t* pixel);
  uint32_t (*expected)(uint8_t alpha);
};

const AlphaFormat kAlphaFormats[] = {
    {"bgra32", 4, [](const uint8_t* p) { return uint32_t{p[3]}; }, [](uint8_t a) { return uint32_t{a}; }},
    {"rgba32", 4, [](const uint8_t* p) { return uint32_t{p[3]}; }, [](uint8_t a) { return uint32_t{a}; }},
    {"argb4444", 2, [](const uint8_t* p) { return uint32_t{p[1]} >> 4; }, [](uint8_t a) { return uint32_t{a} >> 4; }},
    {"argb1555", 2, [](const uint8_t* p) { return uint32_t{p[1]} >> 7; }, [](uint8_t a) { return uint32_t{a} >> 7; }},
};

void PrintTo(const AlphaFormat& f, std::ostream* os) { *os << f.name; }

class AlphaPixels : public testing::TestWithParam<AlphaFormat> {};

TEST_P(AlphaPixels, CarryTheDecodedAlphaPlane) {
  const AlphaFormat& f = GetParam();
  const std::string movie = EncodedMovie("alpha.vxn", true);
  const auto planes = DecodedAlpha(movie);
  ASSERT_EQ(planes.size(), 2u);
  const std::string raw = FixtureTempPath("pixels.raw");
  ASSERT_EQ(RunCommand(CmdDecode, {"decode", movie, "--pixels", f.name, "-o", raw}), 0);
  const std::vector<uint8_t> pixels = ReadAll(raw);
  ASSERT_EQ(pixels.size(), 2u * kW * kH * f.bytes);
  uint32_t mismatches = 0, transparent = 0;
  for (uint32_t frame = 0; frame < 2; frame++) {
    for (uint32_t i = 0; i < kW * kH; i++) {
      const uint8_t a = planes[frame][i];
      mismatches += f.stored(&pixels[(size_t{frame} * kW * kH + i) * f.bytes]) != f.expected(a);
      transparent += a < 128;
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(transparent, 0u);  // the plane is not simply opaque
}

INSTANTIATE_TEST_SUITE_P(Formats, AlphaPixels, testing::ValuesIn(kAlphaFormats),
                         [](const testing::TestParamInfo<AlphaFormat>& info) {
                           return std::string(info.param.name);
                         });

// A fresh folder of this test's own (CTest runs tests side by side).
std::string PngDir() {
  const std::string dir = FixtureTempPath("png");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// A PNG as the tool writes it (zlib stored blocks, no filters): colour type
// and the pixel bytes, rows packed.
struct Png {
  uint32_t width = 0, height = 0, colour_type = 0;
  std::vector<uint8_t> pixels;
};

Png ReadPng(const std::string& path) {
  const std::vector<uint8_t> file = ReadAll(path);
  Png png;
  std::vector<uint8_t> zlib;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = Be32(&file[at]);
    const std::string type(file.begin() + at + 4, file.begin() + at + 8);
    if (at + 12 + length > file.size()) break;
    const uint8_t* data = &file[at + 8];
    if (type == "IHDR") png.width = Be32(data), png.height = Be32(data + 4), png.colour_type = data[9];
    if (type == "IDAT") zlib.insert(zlib.end(), data, data + length);
    at += 12 + length;
  }
  std::vector<uint8_t> raw;
  for (size_t at = 2; at + 5 <= zlib.size();) {
    const uint32_t n = zlib[at + 1] | zlib[at + 2] << 8;
    const bool last = zlib[at] & 1;
    raw.insert(raw.end(), zlib.begin() + at + 5, zlib.begin() + std::min(zlib.size(), at + 5 + n));
    at += 5 + n;
    if (last) break;
  }
  const uint32_t channels = png.colour_type == 6 ? 4 : 3;
  const size_t row = size_t{png.width} * channels;
  for (uint32_t y = 0; y < png.height && (y + 1) * (row + 1) <= raw.size(); y++)
    png.pixels.insert(png.pixels.end(), raw.begin() + y * (row + 1) + 1, raw.begin() + (y + 1) * (row + 1));
  return png;
}

TEST(AlphaPng, MoviesWithAlphaGiveRgbaPngsWithTheirAlphaPlane) {
  const std::string movie = EncodedMovie("alpha_png.vxn", true);
  const auto planes = DecodedAlpha(movie);
  ASSERT_EQ(planes.size(), 2u);
  const std::string dir = PngDir();
  const std::string raw = FixtureTempPath("rgba.raw");
  ASSERT_EQ(RunCommand(CmdDecode, {"decode", movie, "--pixels", "rgba32", "-o", raw, "--png", dir}), 0);
  const std::vector<uint8_t> rgba = ReadAll(raw);
  for (uint32_t frame = 0; frame < 2; frame++) {
    const Png png = ReadPng(dir + "/frame_0000" + std::to_string(frame + 1) + ".png");
    ASSERT_EQ(png.colour_type, 6u);
    ASSERT_EQ(png.pixels.size(), size_t{kW} * kH * 4);
    std::vector<uint8_t> alpha;
    for (size_t i = 3; i < png.pixels.size(); i += 4) alpha.push_back(png.pixels[i]);
    EXPECT_EQ(alpha, planes[frame]);
    // The colours are those of the rgba32 conversion.
    EXPECT_TRUE(std::equal(png.pixels.begin(), png.pixels.end(), rgba.begin() + size_t{frame} * kW * kH * 4));
  }
}

TEST(AlphaPng, MoviesWithoutAlphaGiveRgbPngs) {
  const std::string movie = EncodedMovie("opaque_png.vxn", false);
  const std::string dir = PngDir();
  ASSERT_EQ(RunCommand(CmdDecode, {"decode", movie, "--pixels", "rgb24", "-o", FixtureTempPath("rgb.raw"),
                                   "--png", dir}),
            0);
  const Png png = ReadPng(dir + "/frame_00001.png");
  EXPECT_EQ(png.colour_type, 2u);
  EXPECT_EQ(png.pixels.size(), size_t{kW} * kH * 3);
}

TEST(AlphaInfo, InfoSaysWhetherTheMovieHasAlpha) {
  std::string out;
  ASSERT_EQ(RunCommand(CmdInfo, {"info", EncodedMovie("info_alpha.vxn", true)}, &out), 0);
  EXPECT_NE(out.find("\nalpha: yes\n"), std::string::npos) << out;
  ASSERT_EQ(RunCommand(CmdInfo, {"info", EncodedMovie("info_opaque.vxn", false)}, &out), 0);
  EXPECT_NE(out.find("\nalpha: no\n"), std::string::npos) << out;
  ASSERT_EQ(RunCommand(CmdInfo, {"info", "--json", EncodedMovie("info_alpha.vxn", true)}, &out), 0);
  EXPECT_NE(out.find("\"alpha\": true,"), std::string::npos) << out;
}

}  // namespace
