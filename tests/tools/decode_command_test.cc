// vorntool decode --video on small hand-coded movies: the Y4M header, the
// plane order for each version, grey and alpha output, the changed-block map.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "support/movie_fixtures.h"
#include "video/video_tables.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"
#include "writer/movie_writer.h"
#include "writer/plane_syntax.h"

namespace {

constexpr uint32_t kWidth = 24, kHeight = 20;  // luma 24x24 decoded, chroma 16x16
constexpr size_t kLuma = kWidth * kHeight, kChroma = 12 * 10;

// A plane of fills; with keep_all_but_first, frame two's plane: block (0, 0)
// filled, every other block kept.
std::vector<uint8_t> Plane(uint32_t w8, uint32_t h8, uint8_t colour, bool old_colours,
                           bool keep_all_but_first = false) {
  PlaneSyntax plane;
  PlaneSyntaxInit(&plane, w8, h8, old_colours);
  for (uint32_t r = 0; r < h8 / 8; r++) {
    for (uint32_t c = 0; c < w8 / 8; c++) {
      bool keep = keep_all_but_first && (r || c);
      PutBlockType(&plane.rows[r], keep ? BT_KEEP : BT_FILL);
      if (!keep) PutFillContent(&plane.rows[r], colour);
    }
  }
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(WritePlaneBytes(plane, &bytes));
  return bytes;
}

// Two frames: Y 50, first chroma 200, second chroma 30, alpha 77; then the
// top-left block of every plane becomes 90, 210, 40, 88.
std::string TestMovie(const char* name, char version, bool grey, bool alpha) {
  MovieWriterHeader header;
  header.version = version;
  header.width = kWidth;
  header.height = kHeight;
  header.video_flags = (grey ? VIDEO_FLAG_GREY : 0u) | (alpha ? VIDEO_FLAG_ALPHA : 0u);
  bool old = version != 'i';
  std::vector<MovieWriterFrame> frames(2);
  for (int f = 0; f < 2; f++) {
    std::vector<uint8_t> luma = Plane(24, 24, f ? 90 : 50, old, f);
    std::vector<uint8_t> c1 = Plane(16, 16, f ? 210 : 200, old, f);
    std::vector<uint8_t> c2 = Plane(16, 16, f ? 40 : 30, old, f);
    std::vector<uint8_t> a = Plane(24, 24, f ? 88 : 77, old, f);
    frames[f].key = f == 0;
    frames[f].video = AssembleVideoFrame(luma, grey ? nullptr : &c1, grey ? nullptr : &c2,
                                         alpha ? &a : nullptr, version == 'i');
  }
  return FixtureWriteFile(name, MovieWriterBuild(header, {}, frames));
}

int Decode(std::vector<std::string> args) {
  args.insert(args.begin(), "decode");
  return RunTool(CmdDecode, args).code;  // refusals explain themselves on stderr
}

struct Y4m {
  std::string header;
  std::vector<std::vector<uint8_t>> frames;  // Y, U, V of each frame
};

Y4m ParseY4m(const std::vector<uint8_t>& bytes) {
  Y4m out;
  size_t pos = 0;
  while (pos < bytes.size() && bytes[pos] != '\n') out.header += static_cast<char>(bytes[pos++]);
  pos++;
  const size_t frame = kLuma + 2 * kChroma;
  while (pos + 6 + frame <= bytes.size()) {
    EXPECT_EQ(std::string(bytes.begin() + pos, bytes.begin() + pos + 6), "FRAME\n");
    out.frames.emplace_back(bytes.begin() + pos + 6, bytes.begin() + pos + 6 + frame);
    pos += 6 + frame;
  }
  EXPECT_EQ(pos, bytes.size());
  return out;
}

// Sample (x, y) of plane 0 (Y), 1 (U) or 2 (V).
uint8_t At(const std::vector<uint8_t>& frame, int plane, size_t x, size_t y) {
  if (plane == 0) return frame[y * kWidth + x];
  return frame[kLuma + (plane - 1) * kChroma + y * 12 + x];
}

TEST(DecodeCommand, VersionIWritesUFromTheSecondChromaPlane) {
  std::string movie = TestMovie("decode_cmd_i.vxn", 'i', false, false);
  std::string out = FixtureTempPath("decode_cmd_i.y4m"), map = FixtureTempPath("decode_cmd_i.map");
  ASSERT_EQ(Decode({movie, "--video", out, "--map", map}), 0);
  Y4m y4m = ParseY4m(ReadAll(out));
  EXPECT_EQ(y4m.header, "YUV4MPEG2 W24 H20 F30:1 Ip A1:1 C420jpeg");
  ASSERT_EQ(y4m.frames.size(), 2u);
  EXPECT_EQ(At(y4m.frames[0], 0, 23, 19), 50);
  EXPECT_EQ(At(y4m.frames[0], 1, 11, 9), 30);   // U: the plane that drives blue
  EXPECT_EQ(At(y4m.frames[0], 2, 11, 9), 200);  // V: the plane that drives red
  EXPECT_EQ(At(y4m.frames[1], 0, 7, 7), 90);
  EXPECT_EQ(At(y4m.frames[1], 0, 8, 7), 50);    // kept from frame one
  EXPECT_EQ(At(y4m.frames[1], 1, 7, 7), 40);
  EXPECT_EQ(At(y4m.frames[1], 2, 8, 0), 200);
  // 32x32 planes: 2x2 map entries per frame; frame two changed only the first.
  EXPECT_EQ(ReadAll(map), (std::vector<uint8_t>{1, 1, 1, 1, 1, 0, 0, 0}));
}

TEST(DecodeCommand, VersionFStoresTheChromaPlanesTheOtherWayRound) {
  std::string movie = TestMovie("decode_cmd_f.vxn", 'f', false, false);
  std::string out = FixtureTempPath("decode_cmd_f.y4m");
  ASSERT_EQ(Decode({movie, "--video", out, "--frames", "1"}), 0);
  Y4m y4m = ParseY4m(ReadAll(out));
  ASSERT_EQ(y4m.frames.size(), 1u);
  EXPECT_EQ(At(y4m.frames[0], 1, 0, 0), 200);
  EXPECT_EQ(At(y4m.frames[0], 2, 0, 0), 30);
}

TEST(DecodeCommand, GreyPicturesGetNeutralChroma) {
  std::string grey_movie = TestMovie("decode_cmd_grey.vxn", 'h', true, false);
  std::string colour_movie = TestMovie("decode_cmd_colour.vxn", 'i', false, false);
  std::string a = FixtureTempPath("decode_cmd_grey.y4m"), b = FixtureTempPath("decode_cmd_grey2.y4m");
  ASSERT_EQ(Decode({grey_movie, "--video", a}), 0);
  ASSERT_EQ(Decode({colour_movie, "--video", b, "--grey"}), 0);
  for (const std::string& path : {a, b}) {
    Y4m y4m = ParseY4m(ReadAll(path));
    ASSERT_EQ(y4m.frames.size(), 2u);
    EXPECT_EQ(At(y4m.frames[1], 0, 0, 0), 90);
    for (size_t i = kLuma; i < kLuma + 2 * kChroma; i++) ASSERT_EQ(y4m.frames[1][i], 128);
  }
}

TEST(DecodeCommand, AlphaAsAGreyPictureOnlyWhenTheMovieHasIt) {
  std::string movie = TestMovie("decode_cmd_alpha.vxn", 'i', false, true);
  std::string out = FixtureTempPath("decode_cmd_alpha.y4m"), alpha = FixtureTempPath("decode_cmd_alpha_a.y4m");
  ASSERT_EQ(Decode({movie, "--video", out, "--alpha", alpha}), 0);
  Y4m picture = ParseY4m(ReadAll(out)), mask = ParseY4m(ReadAll(alpha));
  EXPECT_EQ(mask.header, picture.header);
  ASSERT_EQ(mask.frames.size(), 2u);
  EXPECT_EQ(At(mask.frames[0], 0, 5, 5), 77);
  EXPECT_EQ(At(mask.frames[1], 0, 5, 5), 88);
  EXPECT_EQ(At(mask.frames[1], 0, 20, 15), 77);
  EXPECT_EQ(At(mask.frames[1], 1, 3, 3), 128);
  EXPECT_EQ(At(picture.frames[1], 0, 20, 15), 50);

  std::string plain = TestMovie("decode_cmd_noalpha.vxn", 'i', false, false);
  EXPECT_EQ(Decode({plain, "--video", out, "--alpha", alpha}), 1);
}

TEST(DecodeCommand, ACutMovieWritesItsWholeFramesAndExitsThree) {
  const std::vector<uint8_t> whole = FixtureEncoded(10, 24, 20);
  const size_t cut = (FixtureIndexEntry(whole, 6) & ~1u) + 2;  // inside frame 7
  const std::string movie =
      FixtureWriteFile("decode_cut.vxn", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  const std::string whole_path = FixtureWriteFile("decode_whole.vxn", whole);
  const std::string out = FixtureTempPath("decode_cut.y4m"), all = FixtureTempPath("decode_all.y4m");
  EXPECT_EQ(Decode({whole_path, "--video", all}), kExitOk);
  EXPECT_EQ(Decode({movie, "--video", out}), kExitDamaged);
  const Y4m cut_frames = ParseY4m(ReadAll(out)), all_frames = ParseY4m(ReadAll(all));
  ASSERT_EQ(all_frames.frames.size(), 10u);
  ASSERT_EQ(cut_frames.frames.size(), 6u);
  for (size_t f = 0; f < 6; f++) EXPECT_EQ(cut_frames.frames[f], all_frames.frames[f]) << f;
  const std::string pixels = FixtureTempPath("decode_cut.raw");
  EXPECT_EQ(Decode({movie, "--pixels", "rgb24", "-o", pixels}), kExitDamaged);
  EXPECT_EQ(ReadAll(pixels).size(), 6u * 24 * 20 * 3);
}

TEST(DecodeCommand, RefusesWhatItCannotDo) {
  EXPECT_EQ(Decode({"--video", "x.y4m"}), kExitUsage);  // no movie
  EXPECT_EQ(Decode({"movie.vxn"}), kExitUsage);         // nothing asked
  EXPECT_EQ(Decode({"movie.vxn", "--video", "x.y4m", "--frames", "two"}), kExitUsage);
  std::string missing = FixtureTempPath("decode_cmd_missing.vxn");
  EXPECT_EQ(Decode({missing, "--video", FixtureTempPath("decode_cmd_missing.y4m")}), 1);
}

}  // namespace
