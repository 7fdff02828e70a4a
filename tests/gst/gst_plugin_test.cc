// The GStreamer plugin as users meet it: gst-launch-1.0 output equals
// `vorntool decode` byte for byte (pictures, alpha and every track's
// sound), seeks through gst_element_seek show the expected frames,
// gst-discoverer-1.0 describes the movie, playbin finds it by content, and
// damaged movies end with a warning and EOS.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "support/synth_movies.h"
#include "vorn/vorn.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// gst-launch-1.0 and gst-discoverer-1.0 cannot load a sanitized plugin.
#ifdef VORN_GST_SANITIZED
#define SKIP_IF_SANITIZED() GTEST_SKIP() << "the GStreamer tools cannot load a sanitized plugin"
#else
#define SKIP_IF_SANITIZED() (void)0
#endif

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
  result.status = pclose(pipe);
  return result;
}

class GstEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    setenv("GST_PLUGIN_PATH", VORN_GST_PLUGIN_DIR, 1);
    // The plugin is loaded into this process (and its sanitizers) rather
    // than into a separate scanner.
    setenv("GST_REGISTRY_FORK", "no", 1);
    gst_init(nullptr, nullptr);
  }
};
const auto* const g_environment = testing::AddGlobalTestEnvironment(new GstEnvironment);

// ---- Expected output from the tool -----------------------------------------------

// The frames of a YUV4MPEG2 file, headers removed.
std::vector<std::vector<uint8_t>> Y4mFrames(const std::vector<uint8_t>& y4m) {
  std::vector<std::vector<uint8_t>> frames;
  const std::string marker = "FRAME\n";
  auto it = std::find(y4m.begin(), y4m.end(), '\n');
  while (it != y4m.end()) {
    auto start = std::search(it, y4m.end(), marker.begin(), marker.end());
    if (start == y4m.end()) break;
    start += marker.size();
    auto end = std::search(start, y4m.end(), marker.begin(), marker.end());
    frames.emplace_back(start, end);
    it = end;
  }
  return frames;
}

uint32_t RoundUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }

// One I420 or A420 buffer of GStreamer's default layout, from tight planes.
std::vector<uint8_t> GstLayout(uint32_t width, uint32_t height, const uint8_t* yuv, const uint8_t* alpha) {
  const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
  const uint32_t y_stride = RoundUp(width, 4), c_stride = RoundUp(cw, 4);
  std::vector<uint8_t> out;
  auto plane = [&](const uint8_t* src, uint32_t w, uint32_t h, uint32_t stride) {
    for (uint32_t r = 0; r < h; r++) {
      out.insert(out.end(), src + size_t{r} * w, src + size_t{r} * w + w);
      out.insert(out.end(), stride - w, 0);
    }
  };
  plane(yuv, width, height, y_stride);
  plane(yuv + size_t{width} * height, cw, ch, c_stride);
  plane(yuv + size_t{width} * height + size_t{cw} * ch, cw, ch, c_stride);
  if (alpha) plane(alpha, width, height, y_stride);
  return out;
}

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// ---- Movies ---------------------------------------------------------------------

struct MovieCase {
  const char* name;
  uint32_t width, height;
  bool alpha;
  char version;
  std::vector<SynthMovieSpec::Track> tracks;
};

std::string WriteMovie(const MovieCase& c, const std::string& file) {
  SynthMovieSpec spec;
  spec.width = c.width;
  spec.height = c.height;
  spec.alpha = c.alpha;
  spec.version = c.version;
  spec.tracks = c.tracks;
  return FixtureWriteFile(file, SynthMovie(spec));
}

std::string Tool() { return VORN_TOOL_PATH; }

struct PipelineEnd {
  std::string warnings, errors;
  bool eos = false;
};
PipelineEnd RunToEnd(const std::string& description);

// A pipeline through gst-launch-1.0, or in this process where the tool
// cannot load the plugin (sanitized builds). True when it ran to EOS.
bool Launch(const std::string& pipeline) {
#ifdef VORN_GST_SANITIZED
  PipelineEnd end = RunToEnd(pipeline);
  EXPECT_EQ(end.errors, "");
  return end.eos && end.errors.empty();
#else
  CommandResult r = RunCommand("gst-launch-1.0 -q " + pipeline);
  EXPECT_EQ(r.status, 0) << r.output;
  return r.status == 0;
#endif
}

class GstMatchesTool : public testing::TestWithParam<MovieCase> {};

TEST_P(GstMatchesTool, PicturesAndEveryTracksSoundAreByteForByteTheTools) {
  const MovieCase& c = GetParam();
  const std::string movie = WriteMovie(c, "movie.vxn");
  const std::string out = FixtureTempPath("");
  std::string launch = "filesrc location=" + movie + " ! vorndemux name=d d.video_0 ! queue ! filesink location=" + out + "v.raw";
  for (size_t t = 0; t < c.tracks.size(); t++)
    launch += " d.audio_" + std::to_string(t) + " ! queue ! filesink location=" + out + "a" + std::to_string(t) + ".raw";
  ASSERT_TRUE(Launch(launch));

  std::string decode = Tool() + " decode " + movie + " --video " + out + "ref.y4m";
  if (c.alpha) decode += " --alpha " + out + "refa.y4m";
  CommandResult tool = RunCommand(decode);
  ASSERT_EQ(tool.status, 0) << tool.output;
  std::vector<std::vector<uint8_t>> pictures = Y4mFrames(ReadFile(out + "ref.y4m"));
  std::vector<std::vector<uint8_t>> alphas;
  if (c.alpha) alphas = Y4mFrames(ReadFile(out + "refa.y4m"));
  ASSERT_EQ(pictures.size(), 24u);
  std::vector<std::vector<uint8_t>> expected;
  for (size_t i = 0; i < pictures.size(); i++)
    expected.push_back(GstLayout(c.width, c.height, pictures[i].data(), c.alpha ? alphas[i].data() : nullptr));
  EXPECT_TRUE(ReadFile(out + "v.raw") == Concat(expected)) << "pictures differ";

  for (size_t t = 0; t < c.tracks.size(); t++) {
    const std::string ref = out + "ref" + std::to_string(t) + ".raw";
    CommandResult audio = RunCommand(Tool() + " decode " + movie + " --audio " + ref + " --raw --track " +
                              std::to_string(c.tracks[t].id));
    ASSERT_EQ(audio.status, 0) << audio.output;
    const std::vector<uint8_t> sound = ReadFile(out + "a" + std::to_string(t) + ".raw");
    EXPECT_FALSE(sound.empty());
    EXPECT_TRUE(sound == ReadFile(ref)) << "track " << t << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Movies, GstMatchesTool,
    testing::Values(MovieCase{"plain", 64, 48, false, 'i', {{22050, 2, true, 0}}},
                    MovieCase{"alpha_three_tracks", 64, 48, true, 'i',
                              {{22050, 2, true, 4}, {11025, 1, false, 9}, {44100, 2, false, 1}}},
                    MovieCase{"odd_size_old_version", 70, 46, false, 'g', {{11025, 1, true, 0}}},
                    MovieCase{"silent", 48, 32, true, 'h', {}}),
    [](const testing::TestParamInfo<MovieCase>& info) { return std::string(info.param.name); });

TEST(GstPushMode, AStreamFromAPipeDecodesAsTheFileDoes) {
  SKIP_IF_SANITIZED();
  const MovieCase c{"push", 64, 48, false, 'i', {{22050, 2, true, 0}}};
  const std::string movie = WriteMovie(c, "movie.vxn");
  const std::string out = FixtureTempPath("");
  const std::string tail = " ! vorndemux name=d d.video_0 ! queue ! filesink location=" + out;
  CommandResult pulled = RunCommand("gst-launch-1.0 -q filesrc location=" + movie + tail + "pull.raw d.audio_0 ! queue ! filesink location=" + out + "pulla.raw");
  CommandResult pushed = RunCommand("gst-launch-1.0 -q fdsrc fd=0" + tail + "push.raw d.audio_0 ! queue ! filesink location=" + out + "pusha.raw < " + movie);
  ASSERT_EQ(pulled.status, 0) << pulled.output;
  ASSERT_EQ(pushed.status, 0) << pushed.output;
  EXPECT_FALSE(ReadFile(out + "pull.raw").empty());
  EXPECT_TRUE(ReadFile(out + "pull.raw") == ReadFile(out + "push.raw"));
  EXPECT_TRUE(ReadFile(out + "pulla.raw") == ReadFile(out + "pusha.raw"));
}

// ---- Discovery and automatic plugging ------------------------------------------------

TEST(GstDiscoverer, ReportsDurationSizeRateAndTracks) {
  SKIP_IF_SANITIZED();
  const MovieCase c{"disc", 64, 48, true, 'i', {{22050, 2, true, 0}, {11025, 1, false, 5}}};
  // No extension: the type finder recognises the content.
  const std::string movie = WriteMovie(c, "movie.data");
  CommandResult found = RunCommand("gst-discoverer-1.0 -v " + movie);
  ASSERT_EQ(found.status, 0) << found.output;
  const std::string& o = found.output;
  EXPECT_NE(o.find("Duration: 0:00:00.800000000"), std::string::npos) << o;
  EXPECT_NE(o.find("video/x-raw, format=(string)A420, width=(int)64, height=(int)48"), std::string::npos) << o;
  EXPECT_NE(o.find("framerate=(fraction)30/1"), std::string::npos) << o;
  EXPECT_NE(o.find("rate=(int)22050, channels=(int)2"), std::string::npos) << o;
  EXPECT_NE(o.find("rate=(int)11025, channels=(int)1"), std::string::npos) << o;
  EXPECT_NE(o.find("Seekable: yes"), std::string::npos) << o;
  EXPECT_NE(o.find("container format: Vorn"), std::string::npos) << o;
}

TEST(GstPlaybin, PlaysAMovieFoundByContent) {
  SKIP_IF_SANITIZED();
  const MovieCase c{"playbin", 64, 48, false, 'i', {{22050, 2, true, 0}}};
  const std::string movie = WriteMovie(c, "movie.bin");
  CommandResult played = RunCommand("gst-launch-1.0 playbin uri=file://" + movie + " video-sink=fakesink audio-sink=fakesink");
  EXPECT_EQ(played.status, 0) << played.output;
  EXPECT_NE(played.output.find("Got EOS"), std::string::npos) << played.output;
}

// ---- Damaged movies ------------------------------------------------------------------

struct Damage {
  const char* name;
  const char* warning;  // part of the expected warning text
  void (*bend)(std::vector<uint8_t>* movie);
};

// Runs a pipeline in this process to its end; the texts of its warnings
// and errors, and whether it ended with EOS. (In-process: gst-launch-1.0
// itself can miss an error posted while the pipeline is still starting.)

PipelineEnd RunToEnd(const std::string& description) {
  PipelineEnd end;
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    end.errors = error ? error->message : "no pipeline";
    return end;
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (;;) {
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
    if (!m) break;
    const GstMessageType type = GST_MESSAGE_TYPE(m);
    if (type == GST_MESSAGE_WARNING || type == GST_MESSAGE_ERROR) {
      GError* e = nullptr;
      gchar* debug = nullptr;
      if (type == GST_MESSAGE_WARNING) gst_message_parse_warning(m, &e, &debug);
      else gst_message_parse_error(m, &e, &debug);
      (type == GST_MESSAGE_WARNING ? end.warnings : end.errors) += std::string(e->message) + "\n";
      g_error_free(e);
      g_free(debug);
    }
    end.eos = type == GST_MESSAGE_EOS;
    gst_message_unref(m);
    if (type != GST_MESSAGE_WARNING) break;
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
  return end;
}

class GstDamaged : public testing::TestWithParam<Damage> {};

TEST_P(GstDamaged, EndsWithAWarningAndEos) {
  SynthMovieSpec spec;
  spec.tracks = {{22050, 2, true, 0}};
  std::vector<uint8_t> bytes = SynthMovie(spec);
  GetParam().bend(&bytes);
  const std::string movie = FixtureWriteFile("damaged.vxn", bytes);
  PipelineEnd end = RunToEnd("filesrc location=" + movie +
                             " ! vorndemux name=d d.video_0 ! queue ! fakesink d.audio_0 ! queue ! fakesink");
  EXPECT_TRUE(end.eos);
  EXPECT_NE(end.warnings.find(GetParam().warning), std::string::npos) << end.warnings;
  EXPECT_EQ(end.errors, "");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, GstDamaged,
    testing::Values(Damage{"cut_short", "cut short",
                           [](std::vector<uint8_t>* m) { m->resize(m->size() / 2); }},
                    Damage{"sound_packet_too_long", "Frame 4 is damaged",
                           [](std::vector<uint8_t>* m) {
                             FixtureSetWord(m, FixtureIndexEntry(*m, 3) & ~1u, 0x7FFFFFF0);
                           }}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(GstRefused, NotAMovieIsAnError) {
  const std::string movie = FixtureWriteFile("junk.vxn", std::vector<uint8_t>(200, 'x'));
  PipelineEnd end = RunToEnd("filesrc location=" + movie + " ! vorndemux ! fakesink");
  EXPECT_FALSE(end.eos);
  EXPECT_NE(end.errors.find("Not a Vorn file."), std::string::npos) << end.errors;
}

// ---- Seeking ---------------------------------------------------------------------

class Pipeline {
 public:
  explicit Pipeline(const std::string& movie) {
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(("filesrc location=" + movie +
                                  " ! vorndemux name=d d.video_0 ! queue ! appsink name=v sync=false"
                                  " d.audio_0 ! queue ! appsink name=a sync=false")
                                     .c_str(),
                                 &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    video_ = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline_), "v"));
    audio_ = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline_), "a"));
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    EXPECT_TRUE(WaitAsyncDone());
  }
  ~Pipeline() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(video_);
    gst_object_unref(audio_);
    gst_object_unref(pipeline_);
  }
  bool WaitAsyncDone() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                               GstMessageType(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
    const bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ASYNC_DONE;
    if (m) gst_message_unref(m);
    gst_object_unref(bus);
    return ok;
  }
  bool Seek(GstClockTime time, GstSeekFlags flags) {
    if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | flags),
                          GST_SEEK_TYPE_SET, gint64(time), GST_SEEK_TYPE_NONE, -1))
      return false;
    return WaitAsyncDone();
  }
  // The prerolled picture: time stamp, segment start and bytes.
  void Preroll(GstClockTime* pts, GstClockTime* segment_start, std::vector<uint8_t>* bytes) {
    GstSample* sample = gst_app_sink_pull_preroll(video_);
    ASSERT_NE(sample, nullptr);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    *pts = GST_BUFFER_PTS(buffer);
    *segment_start = gst_sample_get_segment(sample)->start;
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    bytes->assign(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
  }
  gint64 Duration() {
    gint64 duration = -1;
    gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration);
    return duration;
  }

 private:
  GstElement* pipeline_ = nullptr;
  GstAppSink* video_ = nullptr;
  GstAppSink* audio_ = nullptr;
};

struct SeekCase {
  uint32_t frame;        // the time sought is this frame's start plus offset_ns
  uint64_t offset_ns;
  GstSeekFlags flags;
  uint32_t expected;     // the frame shown
};

class GstSeek : public testing::TestWithParam<SeekCase> {};

TEST_P(GstSeek, ShowsTheExpectedFrame) {
  const SeekCase c = GetParam();
  SynthMovieSpec spec;
  spec.tracks = {{22050, 2, true, 0}};
  const std::vector<uint8_t> bytes = SynthMovie(spec);
  const std::string movie = FixtureWriteFile("seek.vxn", bytes);

  // The expected pictures, from the library directly.
  vorn_movie* reference = nullptr;
  ASSERT_EQ(vorn_open_memory(bytes.data(), bytes.size(), 0, &reference), VORN_OK);
  std::vector<std::vector<uint8_t>> frames;
  while (vorn_step(reference) == VORN_OK) {
    vorn_planes p;
    vorn_get_planes(reference, &p);
    std::vector<uint8_t> tight;
    for (uint32_t r = 0; r < p.height; r++) tight.insert(tight.end(), p.y + r * p.y_pitch, p.y + r * p.y_pitch + p.width);
    for (const uint8_t* plane : {p.u, p.v})
      for (uint32_t r = 0; r < p.chroma_height; r++)
        tight.insert(tight.end(), plane + r * p.uv_pitch, plane + r * p.uv_pitch + p.chroma_width);
    frames.push_back(GstLayout(p.width, p.height, tight.data(), nullptr));
  }
  const GstClockTime target = vorn_frame_time_ns(reference, c.frame) + c.offset_ns;
  const GstClockTime shown = vorn_frame_time_ns(reference, c.expected);
  vorn_close(reference);
  ASSERT_EQ(frames.size(), 24u);

  Pipeline pipeline(movie);
  EXPECT_EQ(pipeline.Duration(), 800000000);
  ASSERT_TRUE(pipeline.Seek(target, c.flags));
  GstClockTime pts = 0, segment_start = 0;
  std::vector<uint8_t> picture;
  pipeline.Preroll(&pts, &segment_start, &picture);
  EXPECT_EQ(pts, shown);
  EXPECT_TRUE(picture == frames[c.expected - 1]) << "the picture is not frame " << c.expected;
  // A key-unit seek moves the segment to the key frame; an accurate one
  // keeps the time asked for.
  EXPECT_EQ(segment_start, (c.flags & GST_SEEK_FLAG_ACCURATE) ? target : shown);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, GstSeek,
    testing::Values(SeekCase{13, 10000000, GST_SEEK_FLAG_ACCURATE, 13}, SeekCase{24, 0, GST_SEEK_FLAG_ACCURATE, 24},
                    SeekCase{2, 1, GST_SEEK_FLAG_ACCURATE, 2}, SeekCase{13, 10000000, GST_SEEK_FLAG_KEY_UNIT, 9},
                    SeekCase{17, 0, GST_SEEK_FLAG_KEY_UNIT, 17}, SeekCase{8, 0, GST_SEEK_FLAG_KEY_UNIT, 1}));

}  // namespace
