#include "writer/encode_movie.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "audio/audio_decoder.h"
#include "writer/audio_encoder.h"
#include "writer/movie_writer.h"

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
  AudioDecoder* decoder = AudioDecoderOpen(input.rate, input.channels, input.use_dct ? 1 : 0);
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

// True when a frame's video keeps every block of the frame before.
bool AllKept(const VideoFrameStats& stats) {
  for (int t = 1; t < kVideoBlockTypes; t++)
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
    *error = "unsupported picture size, version or quality";
    return false;
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
      *error = "unsupported audio track (rate or channels)";
      return false;
    }
  }

  std::vector<MovieWriterFrame> frames;
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
    VideoFrameStats frame_stats;
    const bool key_due = options.video.keyint != 0 && since_key + 1 >= options.video.keyint;
    if (settled && !key_due) {
      frame.video = settled_video;
      frame_stats = settled_stats;
    } else {
      // While frames were reused the encoder's own key count stood still.
      if (!VideoEncoderEncode(video.get(), picture, settled && key_due, &frame.video,
                              &frame_stats)) {
        close_tracks();
        *error = "a picture does not have the movie's size, or its coding failed";
        return false;
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
    }
    frames.push_back(std::move(frame));
  }
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
