#include "writer/encode_movie.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/audio_decoder.h"
#include "writer/audio_encoder.h"
#include "writer/movie_writer.h"
#include "writer/rate_control.h"
#include "writer/writer_memory.h"
#include "platform/cpu.h"

namespace {

constexpr uint32_t kVideoFlagGrey = 0x20000;
constexpr uint32_t kVideoFlagAlpha = 0x100000;

// Decodes a track's packets again and compares with what went in.
double MeasureSnr(const MovieAudioInput& input, const std::vector<MovieWriterFrame>& frames,
                  size_t track) {
  AudioDecoder* decoder = AudioDecoderOpen(input.rate, input.channels, input.use_dct ? 1 : 0,
                                           CpuFeatures());
  if (!decoder) return 0;
  std::vector<int16_t> decoded;
  for (const MovieWriterFrame& f : frames) {
    const std::vector<uint8_t>& p = f.audio[track];
    if (p.size() < 4) continue;
    uint32_t owed = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
    const uint8_t* pos = p.data() + 4;
    const uint8_t* end = p.data() + p.size();
    while (owed > 0) {
      AudioBlockOutput out = AudioDecodeBlock(decoder, pos, end);
      if (out.bytes == 0) break;
      uint32_t take = std::min(owed, out.bytes);
      decoded.insert(decoded.end(), out.pcm, out.pcm + take / 2);
      owed -= take;
      pos = out.next;
    }
  }
  AudioDecoderClose(decoder);
  size_t n = std::min(decoded.size(), input.samples.size());
  double signal = 0, noise = 0;
  for (size_t i = 0; i < n; i++) {
    double x = input.samples[i], d = x - decoded[i];
    signal += x * x;
    noise += d * d;
  }
  if (noise <= 0) return 99;
  return signal <= 0 ? 0 : 10 * std::log10(signal / noise);
}

// Header, track tables and frame index of a movie of `frames` frames.
uint64_t ContainerBytes(size_t tracks, uint64_t frames) {
  return 44 + 12 * uint64_t{tracks} + 4 * (frames + 1);
}

// True when a frame's video keeps every block of the frame before.
bool AllKept(const VideoFrameStats& stats) {
  for (int t = 1; t < BLOCK_TYPE_COUNT; t++)
    if (stats.block_types[t] != 0) return false;
  return !stats.key;
}

// Frames at the movie's rate that cover the longest track's sound, at most
// kMaxHeldMovieFrames (hours of sound at a huge frame rate would otherwise
// grow the movie without bound; the sound past it is dropped and counted).
constexpr double kMaxHeldMovieFrames = 10000000;

uint64_t FramesCoveringSound(const MovieEncodeOptions& options) {
  double frames = 0;
  for (const MovieAudioInput& track : options.audio) {
    const double seconds = double(track.samples.size() / track.channels) / track.rate;
    frames = std::max(frames, std::ceil(seconds * options.rate_num / options.rate_den - 1e-9));
  }
  return static_cast<uint64_t>(std::min(frames, kMaxHeldMovieFrames));
}

}  // namespace

MovieRates MovieRatesOf(const std::vector<uint32_t>& packet_bytes, uint32_t rate_num,
                        uint32_t rate_den) {
  MovieRates r;
  if (packet_bytes.empty() || rate_num == 0 || rate_den == 0) return r;
  double fps = static_cast<double>(rate_num) / rate_den;
  size_t window = static_cast<size_t>(std::max(1.0, std::round(fps)));
  uint64_t total = 0, stretch = 0, peak = 0;
  for (size_t k = 0; k < packet_bytes.size(); k++) {
    total += packet_bytes[k];
    stretch += packet_bytes[k];
    if (k >= window) stretch -= packet_bytes[k - window];
    peak = std::max(peak, stretch);
  }
  r.average_kbps = static_cast<double>(total) * 8 * fps / packet_bytes.size() / 1000;
  r.peak_kbps = static_cast<double>(peak) * 8 * fps / std::min(window, packet_bytes.size()) / 1000;
  return r;
}

const char* MovieRateMissReason(const MovieEncodeStats& stats, bool under) {
  uint64_t coded = 0, at_finest = 0, at_coarsest = 0;
  for (double lambda : stats.lambdas) {
    if (lambda <= 0) continue;
    coded++;
    at_finest += lambda <= 1.5 * kRateLeastLambda;
    at_coarsest += lambda >= kRateMostLambda / 1.5;
  }
  if (under) {
    if (coded > 0 && 2 * at_finest >= coded)
      return "the pictures are coded at the finest quality and need no more; the movie is not "
             "padded";
    return "the pictures took less than the rate control planned for; the movie is not padded";
  }
  if (coded > 0 && 10 * at_coarsest >= coded)
    return "even at the coarsest quality the pictures need more";
  return "the pictures took more than the rate control planned for";
}

namespace {

// A track's sound coded once, before the pictures: its packets do not
// depend on the video, so rate control knows every frame's sound bytes in
// advance and a second pass over the pictures reuses them.
struct SoundTrack {
  std::vector<std::vector<uint8_t>> packets;  // per frame while the sound lasts
  std::vector<uint64_t> position;             // sample frames handed out after each frame
  uint32_t format = 0;
  uint64_t total_frames = 0;                  // sample frames of the whole sound
};

bool CodeSound(const MovieAudioInput& in, const MovieEncodeOptions& options, int quality,
               SoundTrack* out) {
  AudioEncoder* encoder = AudioEncoderOpen(in.rate, in.channels, in.use_dct, quality);
  if (!encoder) return false;
  *out = SoundTrack{};
  out->format = AudioEncoderTrackFormat(encoder, in.sixteen_bit);
  out->total_frames = in.samples.size() / in.channels;
  uint64_t position = 0;
  for (uint32_t k = 0; position < out->total_frames && k < kMaxHeldMovieFrames; k++) {
    uint64_t left = out->total_frames - position;
    uint32_t want = AudioEncoderFramesForVideoFrame(encoder, k, options.rate_num, options.rate_den);
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(want, left));
    const int16_t* pcm = in.samples.data() + position * in.channels;
    out->packets.push_back(AudioEncodePacket(encoder, pcm, n, pcm + size_t{n} * in.channels,
                                             static_cast<uint32_t>(left - n)));
    position += n;
    out->position.push_back(position);
  }
  AudioEncoderClose(encoder);
  return true;
}

// Bytes per second of movie that a track coded at `quality` takes.
double SoundRate(const MovieAudioInput& in, const MovieEncodeOptions& options, int quality) {
  SoundTrack coded;
  if (!CodeSound(in, options, quality, &coded) || coded.packets.empty()) return 0;
  uint64_t bytes = 0;
  for (const std::vector<uint8_t>& p : coded.packets) bytes += 4 + p.size();
  double seconds = static_cast<double>(coded.total_frames) / in.rate;
  return static_cast<double>(bytes) / std::max(seconds, 0.1);
}

// Under rate control a track whose quality is left to the encoder gets the
// best quality (at most its own) whose bytes stay within its part of a fifth
// of the data rate.
constexpr double kSoundShare = 0.2;

int SoundQualityFor(const MovieAudioInput& in, const MovieEncodeOptions& options,
                    double bytes_per_second) {
  double allowed = kSoundShare * bytes_per_second / static_cast<double>(options.audio.size());
  if (SoundRate(in, options, in.quality) <= allowed) return in.quality;
  int low = 0, high = in.quality;  // low fits (or is the least there is), high does not
  while (high - low > 1) {
    int middle = (low + high) / 2;
    (SoundRate(in, options, middle) <= allowed ? low : high) = middle;
  }
  return low;
}

uint64_t SoundBytesOfFrame(const std::vector<SoundTrack>& sound, uint64_t k) {
  uint64_t bytes = 0;
  for (const SoundTrack& t : sound) bytes += 4 + (k < t.packets.size() ? t.packets[k].size() : 0);
  return bytes;
}

// Error texts with numbers in them live here until the next failing call.
thread_local char error_text[256];

const char* Explain(const char* format, double a, double b) {
  std::snprintf(error_text, sizeof error_text, format, a, b);
  return error_text;
}

// One run over the pictures. The analysis run codes at the fastest speed,
// keeps no frames and records, per frame, what the rate control's plan
// needs; the final run keeps the frames for the movie.
struct MovieRun {
  const MovieEncodeOptions* options = nullptr;
  MoviePictureSource source = nullptr;
  void* user = nullptr;
  const std::vector<SoundTrack>* sound = nullptr;
  RateControl* rc = nullptr;               // null: quality mode
  bool analysis = false;
  uint32_t known_frames = 0;
  std::vector<MovieWriterFrame>* frames = nullptr;  // final run only
  MovieEncodeStats* st = nullptr;
  std::vector<double> complexity, fixed;   // analysis run only
  // The analysis run's block flows of the frames since the last key frame
  // and, once such a run of frames ends, every frame's lambda scale for the
  // final run.
  std::vector<std::vector<BlockFlow>> flow_run;
  uint32_t flow_cols = 0, flow_rows = 0;
  std::vector<double> frame_scales;
  std::vector<std::vector<uint8_t>> area_codes;  // per frame; empty: all 1
  uint64_t area_bytes = 0;
};

// How strongly the times a block's error is seen lower its lambda: a
// frame's blocks seen w times on average get w^-kPropagationStrength of
// the movie's lambda. (The full w, which would equalise the error's worth,
// overshoots: what the measuring pass copied, the final pass partly codes
// afresh.)
constexpr double kPropagationStrength = 0.2;
// The same for a 16x16 area against its frame (raising lambda only).
constexpr double kAreaStrength = 0.3;
// The most a frame's scale differs from its neighbours' in a run.
constexpr double kScaleStep = 1.15;

// Area scales are kept as steps of 1/32 in log2 above 1 (up to 8).
uint8_t AreaCode(float scale) {
  return static_cast<uint8_t>(std::round(32 * std::log2(std::clamp(scale, 1.0f, 8.0f))));
}
float AreaScale(uint8_t code) { return std::exp2(code / 32.0f); }

// Beyond this many bytes of area scales (a long movie), frames keep only
// their frame scale.
constexpr uint64_t kMaxAreaBytes = 64u << 20;

// A run of frames is cut after at most kMaxFlowRun frames or
// kMaxFlowBytes of flows and counts (what frames further on inherit is
// then not counted).
constexpr size_t kMaxFlowRun = 300;
constexpr uint64_t kMaxFlowBytes = 64u << 20;

size_t FlowRunLimit(const MovieRun& run) {
  uint64_t per_frame = uint64_t{run.flow_cols} * run.flow_rows * (sizeof(BlockFlow) + sizeof(float));
  return static_cast<size_t>(std::clamp<uint64_t>(kMaxFlowBytes / std::max<uint64_t>(per_frame, 1), 2, kMaxFlowRun));
}

// Turns the recorded run of frames into their scales. A run that ends at
// a key frame or the movie's end hands nothing on, and its last frames'
// scales rise towards 1 (holding them down as well costs more elsewhere
// than it gives the last second). One cut short while later frames still
// inherit (by its length limit, or frames reused as they were) hands on to
// frames that were not counted: its last second keeps the scale of the
// frame a second before its end, so that the frames after the cut are not
// coded coarser in the middle of a shot.
void FinishFlowRun(MovieRun* run, bool handed_on) {
  if (run->flow_run.empty()) return;
  std::vector<std::vector<float>> inherited =
      PropagateFlows(run->flow_run, run->flow_cols, run->flow_rows);
  const size_t first = run->frame_scales.size();
  for (const std::vector<float>& frame : inherited) {
    run->frame_scales.push_back(FrameLambdaScale(frame, kPropagationStrength));
    std::vector<uint8_t> codes;
    if (run->area_bytes + frame.size() / 4 <= kMaxAreaBytes) {
      for (float a : AreaLambdaScales(frame, run->flow_cols, run->flow_rows, kAreaStrength))
        codes.push_back(AreaCode(a));
      run->area_bytes += codes.size();
    }
    run->area_codes.push_back(std::move(codes));
  }
  LimitScaleSteps(run->frame_scales.data() + first, inherited.size(), kScaleStep);
  if (handed_on) {
    const double fps = static_cast<double>(run->options->rate_num) / run->options->rate_den;
    const size_t second = static_cast<size_t>(std::max(1.0, std::round(fps)));
    const size_t n = inherited.size();
    const double held = run->frame_scales[first + (n > second ? n - 1 - second : 0)];
    for (size_t t = n > second ? n - second : 0; t < n; t++)
      run->frame_scales[first + t] = std::min(run->frame_scales[first + t], held);
  }
  run->flow_run.clear();
}

// Records the frame just coded by the analysis run. A frame that was not
// coded (reused) ends the run and takes no scale.
void RecordFlows(MovieRun* run, const VideoEncoder* video, bool coded, bool key) {
  if (!coded) {
    FinishFlowRun(run, true);
    run->frame_scales.push_back(1.0);
    run->area_codes.emplace_back();
    return;
  }
  if (key || run->flow_run.size() >= FlowRunLimit(*run)) FinishFlowRun(run, !key);
  run->flow_run.push_back(VideoEncoderFlows(video));
}

// Frames needed to cover the longest sound when the last picture is held.
uint64_t HeldFramesCover(const std::vector<SoundTrack>& sound) {
  uint64_t frames = 0;
  for (const SoundTrack& t : sound) frames = std::max<uint64_t>(frames, t.packets.size());
  return frames;
}

bool RunPictures(MovieRun* run, const char** error) {
  const MovieEncodeOptions& options = *run->options;
  VideoEncoderOptions video_options = options.video;
  if (run->analysis) {
    video_options.speed = kMovieAnalysisSpeed;
    // Its frames stand for the second pass's, which tries every inter coding.
    video_options.fastest_shortcuts = options.video.speed >= kMovieAnalysisSpeed;
  }
  std::unique_ptr<VideoEncoder, void (*)(VideoEncoder*)> video(
      VideoEncoderCreate(video_options), VideoEncoderDestroy);
  if (!video) {
    *error = WriterTakeRefusal() ? kWriterOutOfMemory : "unsupported picture size, version or quality";
    return false;
  }
  const double fps = static_cast<double>(options.rate_num) / options.rate_den;
  RateControl* rc = run->rc;
  MovieEncodeStats* st = run->st;
  if (run->analysis && rc) {
    VideoEncoderMeasureFlows(video.get(), true);
    run->flow_cols = (options.video.width + 7) / 8;
    run->flow_rows = (options.video.height + 7) / 8;
  }
  std::vector<float> area_scales;
  uint64_t coded_so_far = 0, done = 0;
  VideoPicture picture, next;
  bool source_ended = false;
  uint64_t hold_until = 0;
  // A held picture settles into frames that keep every block: once two
  // repeats in a row come out the same, the rest reuse that frame without a
  // new search, except that a key frame still comes every keyint frames.
  std::vector<uint8_t> settled_video, last_held_video;
  VideoFrameStats settled_stats;
  bool settled = false;
  uint32_t since_key = 0;
  for (uint32_t k = 0; k < UINT32_MAX; k++) {
    if (!source_ended) {
      if (options.frames != 0 && k >= options.frames) break;  // the caller's length
      int got = run->source(run->user, k, &next);
      if (got < 0) {
        *error = "reading the pictures failed";
        return false;
      }
      if (got == 0) {
        source_ended = true;
        if (options.hold_last_picture) hold_until = FramesCoveringSound(options);
      } else {
        std::swap(picture, next);
        st->pictures++;
      }
    }
    if (source_ended && (done == 0 || k >= hold_until)) break;
    if (source_ended) st->held_frames++;
    MovieWriterFrame frame;
    // The sound first: under rate control the picture gets what it leaves.
    const uint64_t audio_bytes = SoundBytesOfFrame(*run->sound, k);
    if (!run->analysis)
      for (const SoundTrack& t : *run->sound)
        frame.audio.push_back(k < t.packets.size() ? t.packets[k] : std::vector<uint8_t>{});
    VideoFrameStats frame_stats;
    double lambda = 0;
    const bool key_due = options.video.keyint != 0 && since_key + 1 >= options.video.keyint;
    if (settled && !key_due) {
      frame.video = settled_video;
      frame_stats = settled_stats;
    } else {
      if (rc) {
        lambda = RateControlLambda(rc, audio_bytes);
        VideoEncoderSetLambda(video.get(), lambda);
      }
      if (!run->analysis && !run->area_codes.empty()) {
        area_scales.clear();
        if (k < run->area_codes.size())
          for (uint8_t code : run->area_codes[k]) area_scales.push_back(AreaScale(code));
        VideoEncoderSetAreaScales(video.get(), area_scales);
      }
      for (int attempt = 0;; attempt++) {
        frame.video.clear();
        // While frames were reused the encoder's own key count stood still.
        if (!VideoEncoderEncode(video.get(), picture, settled && key_due, &frame.video,
                                &frame_stats)) {
          *error = "a picture does not have the movie's size, or its coding failed";
          return false;
        }
        // A frame far over its share is coded again, at most twice (the
        // analysis only measures, so it takes what came).
        double again = rc && !run->analysis && attempt < 2
                           ? RateControlRetry(rc, frame.video.size(), frame_stats.key, lambda,
                                              audio_bytes)
                           : 0;
        if (again == 0) break;
        VideoEncoderUndoLast(video.get());
        lambda = again;
        VideoEncoderSetLambda(video.get(), lambda);
      }
      // After a key frame the next repeats touch it up again, as they would
      // have without the shortcut.
      if (frame_stats.key) settled = false;
      if (source_ended && AllKept(frame_stats) && frame.video == last_held_video) {
        settled = true;
        settled_video = frame.video;
        settled_stats = frame_stats;
      }
      if (source_ended) last_held_video = frame.video;
    }
    since_key = frame_stats.key ? 0 : since_key + 1;
    frame.key = frame_stats.key;
    uint64_t packet = audio_bytes + frame.video.size();
    packet += packet & 1;  // packets start at even offsets
    coded_so_far += packet;
    done++;
    if (rc) RateControlDone(rc, packet, frame.video.size(), frame.key, lambda);
    if (run->analysis && rc) RecordFlows(run, video.get(), lambda > 0, frame.key);
    if (run->analysis) {
      // A frame coded at the finest quality already took all it can: a
      // lower lambda would not make it take more, so the plan counts its
      // bytes as fixed instead of expecting it to absorb what is left.
      const bool saturated = lambda > 0 && lambda <= kRateLeastLambda * 1.01;
      const bool fixed = lambda <= 0 || saturated;
      run->complexity.push_back(fixed ? 0 : RateControlComplexity(frame.video.size(), lambda));
      run->fixed.push_back(static_cast<double>(audio_bytes + (fixed ? frame.video.size() : 0)));
    } else {
      st->frames.push_back(frame_stats);
      st->packet_bytes.push_back(static_cast<uint32_t>(packet));
      if (rc) st->lambdas.push_back(lambda);
      run->frames->push_back(std::move(frame));
    }
    if (options.progress) {
      MovieEncodeProgress p;
      p.frames_done = k + 1;
      p.frames_total = run->known_frames;
      p.packet_bytes = coded_so_far;
      p.seconds_done = (k + 1) / fps;
      p.analysing = run->analysis;
      options.progress(options.progress_user, p);
    }
  }
  if (done == 0) {
    *error = "no pictures to encode";
    return false;
  }
  if (run->analysis) FinishFlowRun(run, false);
  return true;
}

// The data rate (bytes per second of frame packets) a request comes to, or
// an error naming what makes it impossible. `frames` 0: not known.
bool TargetRate(const MovieEncodeOptions& options, const std::vector<SoundTrack>& sound,
                uint64_t frames, double* bytes_per_second, const char** error) {
  const double fps = static_cast<double>(options.rate_num) / options.rate_den;
  if (options.target_bytes > 0) {
    if (frames == 0) {
      *error = "a target size needs the number of frames (pictures from a pipe: --frames)";
      return false;
    }
    uint64_t container = ContainerBytes(options.audio.size(), frames);
    if (options.target_bytes <= container + frames) {
      *error = Explain("the target size (%.0f bytes) is too small for the container alone "
                       "(%.0f bytes of header and frame index)",
                       static_cast<double>(options.target_bytes), static_cast<double>(container));
      return false;
    }
    *bytes_per_second = static_cast<double>(options.target_bytes - container) * fps / frames;
  } else {
    *bytes_per_second = options.bitrate_kbps * 1000 / 8;
  }
  // The sound's own rate over the movie (over its own length when the
  // number of pictures is not known); the pictures need a little too.
  uint64_t sound_frames = HeldFramesCover(sound);
  uint64_t over = frames ? frames : sound_frames;
  if (over == 0) return true;
  double sound_bytes = 0;
  for (uint64_t k = 0; k < std::min(over, sound_frames); k++)
    sound_bytes += static_cast<double>(SoundBytesOfFrame(sound, k));
  double sound_rate = sound_bytes * fps / static_cast<double>(over);
  if (sound_rate >= kMovieSoundLimit * *bytes_per_second) {
    *error = Explain(options.target_bytes > 0
                         ? "the target size comes to %.0f kbit/s, less than the sound alone "
                           "needs (%.0f kbit/s): lower the sound's quality or ask for more"
                         : "the requested rate (%.0f kbit/s) is less than the sound alone "
                           "needs (%.0f kbit/s): lower the sound's quality or ask for more",
                     *bytes_per_second * 8 / 1000, sound_rate * 8 / 1000);
    return false;
  }
  return true;
}

}  // namespace

bool MovieEncode(const MovieEncodeOptions& options, MoviePictureSource source, void* user,
                 std::vector<uint8_t>* movie, MovieEncodeStats* stats, const char** error) {
  *error = nullptr;
  if (options.rate_num == 0 || options.rate_den == 0) {
    *error = "frame rate must be positive";
    return false;
  }
  const double fps = static_cast<double>(options.rate_num) / options.rate_den;
  uint32_t known_frames = options.frames ? options.frames : options.frames_expected;
  if (options.frames && options.frames_expected)
    known_frames = std::min(options.frames, options.frames_expected);
  // The source ending first under longer sound: its last picture is held
  // until the sound is covered, and those frames count too.
  const bool source_ends_first =
      options.frames == 0 || (options.frames_expected && options.frames_expected < options.frames);
  if (known_frames && options.hold_last_picture && source_ends_first)
    known_frames = static_cast<uint32_t>(std::max<uint64_t>(known_frames, FramesCoveringSound(options)));
  const bool rate_controlled = options.bitrate_kbps > 0 || options.target_bytes > 0;
  // The fastest speed codes in one pass (the measuring pass would double its
  // time; the running correction alone stays within a few percent), unless
  // a size is asked for without a frame count, or the caller asks for it.
  const bool size_unknown = options.target_bytes > 0 && known_frames == 0;
  const bool two_pass = rate_controlled && options.rewind != nullptr &&
                        (options.video.speed < kMovieAnalysisSpeed || size_unknown ||
                         options.measure_at_fastest);
  if (rate_controlled && options.target_bytes > 0 && known_frames == 0 && !two_pass) {
    *error = "a target size needs the number of frames (pictures from a pipe: --frames)";
    return false;
  }
  MovieEncodeStats local_stats;
  MovieEncodeStats* st = stats ? stats : &local_stats;
  *st = MovieEncodeStats{};

  // The sound, each track at its quality (chosen from the rate when asked).
  double guess_rate = options.bitrate_kbps * 1000 / 8;
  if (options.target_bytes > 0 && known_frames > 0)
    guess_rate = static_cast<double>(options.target_bytes) * fps / known_frames;
  std::vector<SoundTrack> sound(options.audio.size());
  std::vector<int> qualities;
  for (size_t i = 0; i < sound.size(); i++) {
    const MovieAudioInput& in = options.audio[i];
    int quality = in.quality;
    if (rate_controlled && in.quality_from_rate && guess_rate > 0)
      quality = SoundQualityFor(in, options, guess_rate);
    if (!CodeSound(in, options, quality, &sound[i])) {
      *error = WriterTakeRefusal() ? kWriterOutOfMemory : "unsupported audio track (rate or channels)";
      return false;
    }
    qualities.push_back(quality);
  }

  RateControl rc;
  RateControlOptions ro;
  ro.frames_per_second = fps;
  ro.total_frames = known_frames;
  ro.samples_per_frame = uint64_t{options.video.width} * options.video.height;
  MovieRun run;
  run.options = &options;
  run.source = source;
  run.user = user;
  run.sound = &sound;
  run.st = st;
  run.known_frames = known_frames;
  if (two_pass) {
    // A fast pass over the whole movie measures how hard each frame is.
    MovieEncodeStats analysis_stats;
    if (options.target_bytes == 0 || known_frames > 0) {
      if (!TargetRate(options, sound, known_frames, &ro.bytes_per_second, error)) return false;
    } else {
      ro.bytes_per_second = guess_rate > 0 ? guess_rate : 1e5;  // refined below
    }
    // The measuring pass's lambdas stay steady (see RateControlOptions).
    RateControlOptions measuring = ro;
    measuring.measuring = true;
    measuring.follow_simpler = false;
    RateControlInit(&rc, measuring);
    run.rc = &rc;
    run.analysis = true;
    run.st = &analysis_stats;
    if (!RunPictures(&run, error)) return false;
    uint64_t frames = run.complexity.size();
    if (!options.rewind(user)) {
      *error = "the pictures could not be read a second time";
      return false;
    }
    if (!TargetRate(options, sound, frames, &ro.bytes_per_second, error)) return false;
    ro.total_frames = static_cast<uint32_t>(frames);
    RateControlInit(&rc, ro);
    RateControlSetPlan(&rc, std::move(run.complexity), std::move(run.fixed));
    RateControlSetPlanScales(&rc, run.frame_scales);
    run.analysis = false;
    run.st = st;
    run.known_frames = ro.total_frames;
    *st = MovieEncodeStats{};
  } else if (rate_controlled) {
    if (!TargetRate(options, sound, known_frames, &ro.bytes_per_second, error)) return false;
    RateControlInit(&rc, ro);
    run.rc = &rc;
  }
  std::vector<MovieWriterFrame> frames;
  run.frames = &frames;
  if (!RunPictures(&run, error)) return false;
  if (rate_controlled) st->target_kbps = rc.options.bytes_per_second * 8 / 1000;
  st->passes = two_pass ? 2 : 1;

  MovieWriterHeader header;
  header.version = options.video.version;
  header.width = options.video.width;
  header.height = options.video.height;
  header.rate_num = options.rate_num;
  header.rate_den = options.rate_den;
  header.video_flags = (options.video.grey ? kVideoFlagGrey : 0) |
                       (options.video.alpha ? kVideoFlagAlpha : 0);
  std::vector<MovieWriterTrack> table;
  st->audio_quality = qualities;
  for (size_t i = 0; i < sound.size(); i++) {
    const SoundTrack& t = sound[i];
    MovieWriterTrack entry;
    // The largest packet among the frames the movie keeps.
    size_t kept = std::min(frames.size(), t.packets.size());
    for (size_t k = 0; k < kept; k++) {
      uint64_t before = k ? t.position[k - 1] : 0;
      uint64_t n = t.position[k] - before;
      entry.max_bytes = std::max<uint32_t>(entry.max_bytes, static_cast<uint32_t>(n * options.audio[i].channels * 2));
    }
    entry.format = t.format;
    entry.id = options.audio[i].id;
    table.push_back(entry);
    uint64_t coded = 0;
    for (size_t k = 0; k < kept; k++) coded += t.packets[k].size();
    st->audio_bytes.push_back(coded);
    st->audio_dropped_frames.push_back(t.total_frames - (kept ? t.position[kept - 1] : 0));
    if (options.measure_audio) st->audio_snr.push_back(MeasureSnr(options.audio[i], frames, i));
  }
  *movie = MovieWriterBuild(header, table, frames);
  return true;
}
