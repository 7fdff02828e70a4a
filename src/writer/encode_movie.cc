#include "writer/encode_movie.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "audio/audio_decoder.h"
#include "writer/audio_encoder.h"
#include "writer/movie_writer.h"
#include "writer/rate_control.h"
#include "writer/writer_memory.h"
#include "platform/cpu.h"

namespace {

constexpr uint32_t kVideoFlagGrey = 0x20000;
constexpr uint32_t kVideoFlagAlpha = 0x100000;

struct TrackState {
  const MovieAudioInput* input;
  AudioEncoder* encoder = nullptr;
  uint64_t position = 0;  // sample frames handed out so far
  uint32_t max_bytes = 0;
  uint64_t coded_bytes = 0;
};

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

bool MovieEncode(const MovieEncodeOptions& options, MoviePictureSource source, void* user,
                 std::vector<uint8_t>* movie, MovieEncodeStats* stats, const char** error) {
  *error = nullptr;
  if (options.rate_num == 0 || options.rate_den == 0) {
    *error = "frame rate must be positive";
    return false;
  }
  std::unique_ptr<VideoEncoder, void (*)(VideoEncoder*)> video(
      VideoEncoderCreate(options.video), VideoEncoderDestroy);
  if (!video) {
    *error = WriterTakeRefusal() ? kWriterOutOfMemory : "unsupported picture size, version or quality";
    return false;
  }
  double fps = static_cast<double>(options.rate_num) / options.rate_den;
  uint32_t known_frames = options.frames ? options.frames : options.frames_expected;
  if (options.frames && options.frames_expected)
    known_frames = std::min(options.frames, options.frames_expected);
  bool rate_controlled = options.bitrate_kbps > 0 || options.target_bytes > 0;
  RateControl rc;
  if (rate_controlled) {
    RateControlOptions ro;
    ro.frames_per_second = fps;
    ro.total_frames = known_frames;
    ro.samples_per_frame = uint64_t{options.video.width} * options.video.height;
    if (options.target_bytes > 0) {
      if (known_frames == 0) {
        *error = "a target size needs the number of frames";
        return false;
      }
      uint64_t container = ContainerBytes(options.audio.size(), known_frames);
      if (options.target_bytes <= container + known_frames) {
        *error = "the target size is too small for the container alone";
        return false;
      }
      ro.bytes_per_second =
          static_cast<double>(options.target_bytes - container) * fps / known_frames;
    } else {
      ro.bytes_per_second = options.bitrate_kbps * 1000 / 8;
    }
    RateControlInit(&rc, ro);
  }
  std::vector<TrackState> tracks(options.audio.size());
  auto close_tracks = [&] {
    for (TrackState& t : tracks) AudioEncoderClose(t.encoder);
  };
  for (size_t i = 0; i < tracks.size(); i++) {
    const MovieAudioInput& in = options.audio[i];
    tracks[i].input = &in;
    tracks[i].encoder = AudioEncoderOpen(in.rate, in.channels, in.use_dct, in.quality);
    if (!tracks[i].encoder) {
      close_tracks();
      *error = WriterTakeRefusal() ? kWriterOutOfMemory : "unsupported audio track (rate or channels)";
      return false;
    }
  }

  std::vector<MovieWriterFrame> frames;
  uint64_t coded_so_far = 0;
  VideoPicture picture, next;
  MovieEncodeStats local_stats;
  MovieEncodeStats* st = stats ? stats : &local_stats;
  *st = MovieEncodeStats{};
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
      int got = source(user, k, &next);
      if (got < 0) {
        close_tracks();
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
    if (source_ended && (frames.empty() || k >= hold_until)) break;
    if (source_ended) st->held_frames++;
    MovieWriterFrame frame;
    // The sound first: under rate control the picture gets what it leaves.
    uint64_t audio_bytes = 0;
    for (TrackState& t : tracks) {
      uint32_t channels = t.input->channels;
      uint64_t total = t.input->samples.size() / channels;
      uint64_t left = total - std::min(total, t.position);
      uint32_t want = AudioEncoderFramesForVideoFrame(t.encoder, k, options.rate_num, options.rate_den);
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(want, left));
      const int16_t* pcm = t.input->samples.data() + t.position * channels;
      frame.audio.push_back(AudioEncodePacket(t.encoder, pcm, n, pcm + size_t{n} * channels,
                                              static_cast<uint32_t>(left - n)));
      t.position += n;
      t.max_bytes = std::max(t.max_bytes, n * channels * 2);
      t.coded_bytes += frame.audio.back().size();
      audio_bytes += 4 + frame.audio.back().size();  // with the packet's size word
    }
    VideoFrameStats frame_stats;
    double lambda = 0;
    const bool key_due = options.video.keyint != 0 && since_key + 1 >= options.video.keyint;
    if (settled && !key_due) {
      frame.video = settled_video;
      frame_stats = settled_stats;
    } else {
      if (rate_controlled) {
        lambda = RateControlLambda(&rc, audio_bytes);
        VideoEncoderSetLambda(video.get(), lambda);
      }
      for (int attempt = 0;; attempt++) {
        frame.video.clear();
        // While frames were reused the encoder's own key count stood still.
        if (!VideoEncoderEncode(video.get(), picture, settled && key_due, &frame.video,
                                &frame_stats)) {
          close_tracks();
          *error = "a picture does not have the movie's size, or its coding failed";
          return false;
        }
        // A frame far over its share is coded again, at most twice.
        double again = rate_controlled && attempt < 2
                           ? RateControlRetry(&rc, frame.video.size(), frame_stats.key, lambda,
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
    st->frames.push_back(frame_stats);
    uint64_t packet = audio_bytes + frame.video.size();
    packet += packet & 1;  // packets start at even offsets
    st->packet_bytes.push_back(static_cast<uint32_t>(packet));
    coded_so_far += packet;
    if (rate_controlled) RateControlDone(&rc, packet, frame.video.size(), frame.key, lambda);
    if (options.progress) {
      MovieEncodeProgress p;
      p.frames_done = k + 1;
      p.frames_total = known_frames;
      p.packet_bytes = coded_so_far;
      p.seconds_done = (k + 1) / fps;
      options.progress(options.progress_user, p);
    }
    frames.push_back(std::move(frame));
  }
  if (rate_controlled) st->target_kbps = rc.options.bytes_per_second * 8 / 1000;
  if (frames.empty()) {
    close_tracks();
    *error = "no pictures to encode";
    return false;
  }

  MovieWriterHeader header;
  header.version = options.video.version;
  header.width = options.video.width;
  header.height = options.video.height;
  header.rate_num = options.rate_num;
  header.rate_den = options.rate_den;
  header.video_flags = (options.video.grey ? kVideoFlagGrey : 0) |
                       (options.video.alpha ? kVideoFlagAlpha : 0);
  std::vector<MovieWriterTrack> table;
  for (size_t i = 0; i < tracks.size(); i++) {
    MovieWriterTrack t;
    t.max_bytes = tracks[i].max_bytes;
    t.format = AudioEncoderTrackFormat(tracks[i].encoder, options.audio[i].sixteen_bit);
    t.id = options.audio[i].id;
    table.push_back(t);
    st->audio_bytes.push_back(tracks[i].coded_bytes);
    st->audio_dropped_frames.push_back(options.audio[i].samples.size() / options.audio[i].channels -
                                       tracks[i].position);
    if (options.measure_audio) st->audio_snr.push_back(MeasureSnr(options.audio[i], frames, i));
  }
  close_tracks();
  *movie = MovieWriterBuild(header, table, frames);
  return true;
}
