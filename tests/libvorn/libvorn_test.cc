// The C interface: every way in gives the same frames and sound, the sound
// matches the tool's independent audio decoder, seeks land on the frame and
// the sound they promise, and damaged or hostile input ends with a clear
// result instead of a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "support/movie_fixtures.h"
#include "support/synth_movies.h"
#include "vorn/vorn.h"
#include "vorntool/decode_audio.h"

namespace {

SynthMovieSpec RichSpec() {
  SynthMovieSpec spec;
  spec.alpha = true;
  spec.tracks = {{22050, 2, true, 7}, {11025, 1, false, 3}};
  return spec;
}

const std::vector<uint8_t>& RichMovie() {
  static const std::vector<uint8_t> movie = SynthMovie(RichSpec());
  return movie;
}

// One decoded frame as the library hands it out: tight planes and each
// track's PCM with its position.
struct Frame {
  uint32_t number = 0;
  std::vector<uint8_t> y, u, v, a;
  std::vector<std::vector<int16_t>> pcm;
  std::vector<uint64_t> first_sample;
};

void TakePlane(std::vector<uint8_t>* out, const uint8_t* plane, uint32_t pitch, uint32_t width, uint32_t height) {
  out->clear();
  for (uint32_t row = 0; row < height; row++) out->insert(out->end(), plane + row * pitch, plane + row * pitch + width);
}

Frame Capture(vorn_movie* movie) {
  Frame f;
  f.number = vorn_frame_number(movie);
  vorn_planes p;
  EXPECT_EQ(vorn_get_planes(movie, &p), VORN_OK);
  TakePlane(&f.y, p.y, p.y_pitch, p.width, p.height);
  TakePlane(&f.u, p.u, p.uv_pitch, p.chroma_width, p.chroma_height);
  TakePlane(&f.v, p.v, p.uv_pitch, p.chroma_width, p.chroma_height);
  if (p.a) TakePlane(&f.a, p.a, p.a_pitch, p.width, p.height);
  vorn_info info;
  vorn_get_info(movie, &info);
  for (uint32_t t = 0; t < info.track_count; t++) {
    const int16_t* pcm = nullptr;
    size_t bytes = 0;
    uint64_t first = 0;
    EXPECT_EQ(vorn_audio(movie, t, &pcm, &bytes, &first), VORN_OK);
    f.pcm.emplace_back(pcm, pcm + bytes / 2);
    f.first_sample.push_back(first);
  }
  return f;
}

std::vector<Frame> DecodeAll(vorn_movie* movie) {
  std::vector<Frame> frames;
  int result;
  while ((result = vorn_step(movie)) == VORN_OK) frames.push_back(Capture(movie));
  EXPECT_EQ(result, VORN_END) << vorn_error_text(movie);
  return frames;
}

struct Callbacks {
  const std::vector<uint8_t>* bytes;
  uint64_t fail_from = UINT64_MAX;  // reads reaching here fail
  bool report_size = true;
  int closes = 0;
};

int64_t ReadBytes(void* user, uint64_t offset, void* dest, uint32_t size) {
  auto* c = static_cast<Callbacks*>(user);
  if (offset + size > c->fail_from) return -1;
  if (offset >= c->bytes->size()) return 0;
  const size_t n = std::min<size_t>(size, c->bytes->size() - offset);
  std::memcpy(dest, c->bytes->data() + offset, n);
  return static_cast<int64_t>(n);
}
int64_t SizeOf(void* user) {
  auto* c = static_cast<Callbacks*>(user);
  return c->report_size ? static_cast<int64_t>(c->bytes->size()) : -1;
}
void CountClose(void* user) { static_cast<Callbacks*>(user)->closes++; }
constexpr vorn_io kCallbacks = {ReadBytes, SizeOf, CountClose};

// The engine itself, driven directly: the reference for pictures.
std::vector<uint8_t> EnginePicture(const std::vector<uint8_t>& bytes, uint32_t frame, uint32_t format) {
  MovieSetSoundTracks(0, nullptr);
  MovieSetMemorySize(static_cast<uint32_t>(bytes.size()));
  Movie* movie = MovieOpen(bytes.data(), OPEN_FROM_MEMORY | OPEN_TRACKS | OPEN_NO_THREAD | OPEN_ALPHA);
  EXPECT_NE(movie, nullptr) << MovieGetError();
  if (!movie) return {};
  for (uint32_t k = 1; k <= frame; k++) {
    MovieLoadFrame(movie, k);
    MovieDoFrame(movie);
  }
  const uint32_t bpp = CopyBytesPerPixel(format);
  std::vector<uint8_t> out;
  if (format == COPY_YV12) {
    const uint32_t w = movie->decoded_width, h = movie->decoded_height;
    out.assign(size_t{w} * h + 2 * size_t{w / 2} * (h / 2), 0);
    MovieCopyToBuffer(movie, out.data(), int32_t(w), h, 0, 0, 0, 0, movie->width, movie->height,
                      format | COPY_ALL | COPY_NO_SKIP);
  } else {
    out.assign(size_t{movie->width} * bpp * movie->height, 0);
    MovieCopyToBuffer(movie, out.data(), int32_t(movie->width * bpp), movie->height, 0, 0, 0, 0, movie->width,
                      movie->height, format | COPY_ALL | COPY_NO_SKIP);
  }
  MovieClose(movie);
  return out;
}

TEST(LibvornOpen, FileMemoryAndCallbacksGiveTheSameFramesAndSound) {
  const std::vector<uint8_t>& bytes = RichMovie();
  ASSERT_FALSE(bytes.empty());
  const std::string path = FixtureWriteFile("rich.vxn", bytes);
  vorn_movie* from_file = nullptr;
  vorn_movie* from_memory = nullptr;
  vorn_movie* from_callbacks = nullptr;
  Callbacks c{&bytes};
  ASSERT_EQ(vorn_open_file(path.c_str(), 0, &from_file), VORN_OK) << vorn_error_text(nullptr);
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &from_memory), VORN_OK);
  ASSERT_EQ(vorn_open_callbacks(&kCallbacks, &c, 0, &from_callbacks), VORN_OK);
  std::vector<Frame> a = DecodeAll(from_file), b = DecodeAll(from_memory), d = DecodeAll(from_callbacks);
  ASSERT_EQ(a.size(), 24u);
  ASSERT_EQ(b.size(), a.size());
  ASSERT_EQ(d.size(), a.size());
  for (size_t i = 0; i < a.size(); i++) {
    EXPECT_EQ(a[i].number, i + 1);
    EXPECT_FALSE(a[i].a.empty());
    for (const Frame* other : {&b[i], &d[i]}) {
      EXPECT_EQ(other->y, a[i].y) << "frame " << i + 1;
      EXPECT_EQ(other->u, a[i].u);
      EXPECT_EQ(other->v, a[i].v);
      EXPECT_EQ(other->a, a[i].a);
      EXPECT_EQ(other->pcm, a[i].pcm);
    }
  }
  vorn_close(from_file);
  vorn_close(from_memory);
  vorn_close(from_callbacks);
  EXPECT_EQ(c.closes, 1);
}

TEST(LibvornOpen, InformationDescribesTheMovieAndItsTracks) {
  const std::vector<uint8_t>& bytes = RichMovie();
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  vorn_info info;
  ASSERT_EQ(vorn_get_info(movie, &info), VORN_OK);
  EXPECT_EQ(info.width, 64u);
  EXPECT_EQ(info.height, 48u);
  EXPECT_EQ(info.frames, 24u);
  EXPECT_EQ(info.frames_missing, 0u);
  EXPECT_EQ(info.rate_num, 30u);
  EXPECT_EQ(info.rate_den, 1u);
  EXPECT_EQ(info.has_alpha, 1u);
  EXPECT_EQ(info.track_count, 2u);
  EXPECT_EQ(info.key_frames, 3u);  // frames 1, 9, 17
  EXPECT_EQ(info.size_bytes, bytes.size());
  EXPECT_EQ(info.duration_ns, 800000000u);
  vorn_track_info track;
  ASSERT_EQ(vorn_get_track_info(movie, 1, &track), VORN_OK);
  EXPECT_EQ(track.id, 3u);
  EXPECT_EQ(track.rate, 11025u);
  EXPECT_EQ(track.channels, 1u);
  EXPECT_EQ(track.decodable, 1u);
  EXPECT_EQ(vorn_get_track_info(movie, 2, &track), VORN_ERROR_ARGUMENT);
  vorn_close(movie);
}

TEST(LibvornSound, EachTrackMatchesTheToolsAudioDecoder) {
  const std::vector<uint8_t>& bytes = RichMovie();
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  std::vector<Frame> frames = DecodeAll(movie);
  vorn_close(movie);
  const uint32_t ids[] = {7, 3};
  const uint32_t channels[] = {2, 1};
  for (uint32_t t = 0; t < 2; t++) {
    DecodedTrack reference;
    std::string error;
    ASSERT_TRUE(DecodeAudioTrack(bytes.data(), bytes.size(), true, ids[t], &reference, &error)) << error;
    std::vector<int16_t> joined;
    for (const Frame& f : frames) {
      // Each piece sits exactly where the pieces before it end.
      EXPECT_EQ(f.first_sample[t], joined.size() / channels[t]);
      joined.insert(joined.end(), f.pcm[t].begin(), f.pcm[t].end());
    }
    EXPECT_EQ(joined, reference.pcm) << "track " << ids[t];
  }
}

class LibvornCopy : public testing::TestWithParam<int> {};

TEST_P(LibvornCopy, EveryFormatIsTheEnginesCopyOfTheSameFrame) {
  const int format = GetParam();
  const std::vector<uint8_t>& bytes = RichMovie();
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  int32_t pitch = 0;
  const size_t size = vorn_frame_buffer_size(movie, format, &pitch);
  std::vector<uint8_t> out(size, 0xEE);
  EXPECT_EQ(vorn_copy_frame(movie, format, out.data(), pitch, 0), VORN_ERROR_NO_FRAME);
  for (int k = 0; k < 5; k++) ASSERT_EQ(vorn_step(movie), VORN_OK);
  ASSERT_EQ(vorn_copy_frame(movie, format, out.data(), pitch, 0), VORN_OK);
  EXPECT_EQ(out, EnginePicture(bytes, 5, uint32_t(format)));
  EXPECT_EQ(vorn_copy_frame(movie, format, out.data(), pitch - 1, 0), VORN_ERROR_ARGUMENT);
  vorn_close(movie);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, LibvornCopy, testing::Range(1, 16));

TEST(LibvornCopyLayout, ANegativePitchWritesTheSamePictureBottomUp) {
  const std::vector<uint8_t>& bytes = RichMovie();
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  ASSERT_EQ(vorn_step(movie), VORN_OK);
  int32_t pitch = 0;
  const size_t size = vorn_frame_buffer_size(movie, VORN_FORMAT_RGB24, &pitch);
  std::vector<uint8_t> down(size), up(size);
  ASSERT_EQ(vorn_copy_frame(movie, VORN_FORMAT_RGB24, down.data(), pitch, 0), VORN_OK);
  ASSERT_EQ(vorn_copy_frame(movie, VORN_FORMAT_RGB24, up.data(), -pitch, 0), VORN_OK);
  const size_t rows = size / pitch;
  for (size_t r = 0; r < rows; r++)
    EXPECT_EQ(0, std::memcmp(down.data() + r * pitch, up.data() + (rows - 1 - r) * pitch, pitch)) << "row " << r;
  EXPECT_EQ(vorn_copy_frame(movie, VORN_FORMAT_YV12, down.data(), -pitch, 0), VORN_ERROR_ARGUMENT);
  vorn_close(movie);
}

// ---- Seeking -------------------------------------------------------------------------

struct SeekCase {
  uint32_t target;
  uint32_t flags;
  uint32_t expected;  // landed frame
};

class LibvornSeek : public testing::TestWithParam<SeekCase> {};

TEST_P(LibvornSeek, LandsOnTheFrameAndStartsTheSoundWhereItPlays) {
  const SeekCase c = GetParam();
  const std::vector<uint8_t>& bytes = RichMovie();
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  std::vector<Frame> all = DecodeAll(movie);
  std::vector<std::vector<int16_t>> joined(2);
  for (const Frame& f : all)
    for (int t = 0; t < 2; t++) joined[t].insert(joined[t].end(), f.pcm[t].begin(), f.pcm[t].end());

  // From the end of the movie, from its start and from just before the target.
  for (uint32_t before : {0u, 24u, std::min(c.target, 24u) - 1}) {
    vorn_movie* m = nullptr;
    ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &m), VORN_OK);
    for (uint32_t k = 0; k < before; k++) ASSERT_EQ(vorn_step(m), VORN_OK);
    uint32_t landed = 0;
    ASSERT_EQ(vorn_seek(m, c.target, c.flags, &landed), VORN_OK);
    EXPECT_EQ(landed, c.expected);
    vorn_planes none;
    EXPECT_EQ(vorn_get_planes(m, &none), VORN_ERROR_NO_FRAME);  // until the next step
    ASSERT_EQ(vorn_step(m), VORN_OK);
    Frame f = Capture(m);
    EXPECT_EQ(f.number, c.expected);
    EXPECT_EQ(f.y, all[c.expected - 1].y) << "from frame " << before;
    EXPECT_EQ(f.a, all[c.expected - 1].a);
    const uint64_t frame_ns = vorn_frame_time_ns(m, c.expected);
    const uint32_t rates[] = {22050, 11025}, channels[] = {2, 1};
    for (int t = 0; t < 2; t++) {
      // The sound handed out is the uninterrupted track's, from a position
      // at or before the landed frame's time and reaching past it.
      const uint64_t first = f.first_sample[t];
      ASSERT_LE(first * channels[t] + f.pcm[t].size(), joined[t].size());
      EXPECT_TRUE(std::equal(f.pcm[t].begin(), f.pcm[t].end(), joined[t].begin() + first * channels[t]))
          << "track " << t << " from frame " << before;
      EXPECT_LE(first * 1000000000ull / rates[t], frame_ns);
      EXPECT_GT((first + f.pcm[t].size() / channels[t]) * 1000000000ull / rates[t], frame_ns);
    }
    // The steps after it go on in order.
    if (c.expected < 24) {
      ASSERT_EQ(vorn_step(m), VORN_OK);
      EXPECT_EQ(Capture(m).y, all[c.expected].y);
    }
    vorn_close(m);
  }
  vorn_close(movie);
}

INSTANTIATE_TEST_SUITE_P(Targets, LibvornSeek,
                         testing::Values(SeekCase{1, VORN_SEEK_ACCURATE, 1}, SeekCase{5, VORN_SEEK_ACCURATE, 5},
                                         SeekCase{9, VORN_SEEK_ACCURATE, 9}, SeekCase{23, VORN_SEEK_ACCURATE, 23},
                                         SeekCase{99, VORN_SEEK_ACCURATE, 24}, SeekCase{5, VORN_SEEK_KEY, 1},
                                         SeekCase{16, VORN_SEEK_KEY, 9}, SeekCase{17, VORN_SEEK_KEY, 17},
                                         SeekCase{23, VORN_SEEK_KEY, 17}));

TEST(LibvornTime, AFramesOwnTimeStampFindsThatFrame) {
  SynthMovieSpec spec;
  spec.frames = 12;
  spec.rate_num = 30000;
  spec.rate_den = 1001;
  const std::vector<uint8_t> bytes = SynthMovie(spec);
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  for (uint32_t k = 1; k <= 12; k++) {
    const uint64_t t = vorn_frame_time_ns(movie, k);
    EXPECT_EQ(t, (k - 1) * 1001ull * 1000000000ull / 30000);
    EXPECT_EQ(vorn_frame_at_time(movie, t), k);
    if (k > 1) EXPECT_EQ(vorn_frame_at_time(movie, t - 1), k - 1);
  }
  EXPECT_EQ(vorn_frame_at_time(movie, UINT64_MAX), 12u);
  vorn_close(movie);
}

// ---- Bad input -------------------------------------------------------------------------

TEST(LibvornFailures, RefusalsSayWhatWasWrong) {
  vorn_movie* movie = reinterpret_cast<vorn_movie*>(1);
  const std::vector<uint8_t> junk(100, 'x');
  EXPECT_EQ(vorn_open_memory(junk.data(), junk.size(), 0, &movie), VORN_ERROR_NOT_MOVIE);
  EXPECT_EQ(movie, nullptr);
  EXPECT_STREQ(vorn_error_text(nullptr), "Not a Vorn file.");
  EXPECT_EQ(vorn_open_file("/nonexistent/dir/film.vxn", 0, &movie), VORN_ERROR_OPEN);
  EXPECT_STRNE(vorn_error_text(nullptr), "");
  EXPECT_EQ(vorn_open_file(nullptr, 0, &movie), VORN_ERROR_ARGUMENT);
  EXPECT_EQ(vorn_open_memory(junk.data(), junk.size(), 0x8000, &movie), VORN_ERROR_ARGUMENT);
  EXPECT_EQ(vorn_step(nullptr), VORN_ERROR_ARGUMENT);
  EXPECT_EQ(vorn_seek(nullptr, 1, 0, nullptr), VORN_ERROR_ARGUMENT);
  vorn_close(nullptr);

  // A failed open through callbacks still closes them, once.
  std::vector<uint8_t> bytes = RichMovie();
  bytes[3] = 'j';
  Callbacks c{&bytes};
  EXPECT_EQ(vorn_open_callbacks(&kCallbacks, &c, 0, &movie), VORN_ERROR_NOT_MOVIE);
  EXPECT_EQ(c.closes, 1);
}

TEST(LibvornFailures, ACutShortMoviePlaysTheFramesItHas) {
  const std::vector<uint8_t>& whole = RichMovie();
  std::vector<uint8_t> cut(whole.begin(), whole.begin() + whole.size() * 2 / 3);
  const std::string path = FixtureWriteFile("cut.vxn", cut);
  vorn_movie* from_file = nullptr;
  vorn_movie* from_memory = nullptr;
  ASSERT_EQ(vorn_open_file(path.c_str(), 0, &from_file), VORN_OK) << vorn_error_text(nullptr);
  ASSERT_EQ(vorn_open_memory(cut.data(), cut.size(), 0, &from_memory), VORN_OK) << vorn_error_text(nullptr);
  for (vorn_movie* movie : {from_file, from_memory}) {
    vorn_info info;
    vorn_get_info(movie, &info);
    EXPECT_GT(info.frames, 0u);
    EXPECT_LT(info.frames, 24u);
    EXPECT_EQ(info.frames + info.frames_missing, 24u);
    EXPECT_NE(std::string(vorn_error_text(movie)).find("cut short"), std::string::npos);
    EXPECT_EQ(DecodeAll(movie).size(), info.frames);
    vorn_close(movie);
  }
}

TEST(LibvornFailures, AReadFailureEndsSteppingWithAReadError) {
  const std::vector<uint8_t>& bytes = RichMovie();
  Callbacks c{&bytes};
  c.fail_from = bytes.size() / 2;
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_callbacks(&kCallbacks, &c, 0, &movie), VORN_OK);
  int result;
  uint32_t steps = 0;
  while ((result = vorn_step(movie)) == VORN_OK) steps++;
  EXPECT_EQ(result, VORN_ERROR_READ);
  EXPECT_GT(steps, 0u);
  EXPECT_LT(steps, 24u);
  EXPECT_NE(std::string(vorn_error_text(movie)).find("could not be read"), std::string::npos);
  EXPECT_EQ(vorn_step(movie), VORN_ERROR_READ);  // and stays ended

  // Once the source reads again, a seek starts afresh from there.
  c.fail_from = UINT64_MAX;
  uint32_t landed = 0;
  ASSERT_EQ(vorn_seek(movie, 20, VORN_SEEK_ACCURATE, &landed), VORN_OK) << vorn_error_text(movie);
  EXPECT_EQ(vorn_step(movie), VORN_OK);
  EXPECT_EQ(vorn_frame_number(movie), 20u);
  vorn_close(movie);
  EXPECT_EQ(c.closes, 1);
}

TEST(LibvornFailures, ASoundPacketLongerThanItsFrameIsReportedAndPlaysOn) {
  std::vector<uint8_t> bytes = RichMovie();
  // Frame 3's first sound packet claims more bytes than the frame holds.
  const uint32_t packet = FixtureIndexEntry(bytes, 2) & ~1u;
  FixtureSetWord(&bytes, packet, 0x7FFFFFF0);
  vorn_movie* movie = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &movie), VORN_OK);
  EXPECT_EQ(vorn_step(movie), VORN_OK);
  EXPECT_EQ(vorn_step(movie), VORN_OK);
  EXPECT_EQ(vorn_step(movie), VORN_DAMAGED);
  EXPECT_NE(std::string(vorn_error_text(movie)).find("Frame 3"), std::string::npos);
  int result;
  while ((result = vorn_step(movie)) == VORN_OK || result == VORN_DAMAGED) {
  }
  EXPECT_EQ(result, VORN_END);
  EXPECT_EQ(vorn_frame_number(movie), 24u);
  vorn_close(movie);
}

TEST(LibvornVersion, HeaderAndLibraryAgree) {
  EXPECT_STREQ(vorn_version(), VORN_VERSION);
  EXPECT_EQ(vorn_version_number(), uint32_t(VORN_VERSION_NUMBER));
  EXPECT_STRNE(vorn_result_text(VORN_ERROR_READ), vorn_result_text(VORN_ERROR_OPEN));
}

}  // namespace
