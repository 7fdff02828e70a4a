// Seeking: moving playback to another frame. The picture is rebuilt from the
// key frame at or before the target (or from the frame on screen when that
// lies on the way); the sound of every played track starts afresh at the
// target's time, read from however many earlier packets carry it.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/movie.h"
#include "engine/movie_audio.h"
#include "engine/movie_clock.h"
#include "engine/movie_frame.h"
#include "engine/movie_header.h"
#include "engine/sound_track.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMaxPlayedTracks = 256;  // the most tracks an open selects
// How far back (in frames) a seek looks for a packet whose last block warms
// up the cross-fade, so that the sound from the seek position on is exactly
// what a straight decode gives.
constexpr uint32_t kWarmUpSearch = 64;

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool IsKeyFrame(const Movie* movie, uint32_t k) { return movie->frame_index[k - 1] & 1; }

uint32_t KeyFrameAtOrBefore(const Movie* movie, uint32_t k) {
  for (; k > 1; --k)
    if (IsKeyFrame(movie, k)) return k;
  return 1;
}

int PlayedTrack(const Movie* movie, uint32_t file_track) {
  for (uint32_t j = 0; j < movie->selected_count; ++j)
    if (movie->selected_tracks[j] == file_track) return static_cast<int>(j);
  return -1;
}

uint64_t* Positions(Movie* movie, uint32_t played) {
  return movie->sound_positions + size_t{played} * (movie->frames + 1);
}

// n bytes at offset `at` of frame k's packet, never beyond the packet.
bool ReadPacketBytes(Movie* movie, uint32_t k, uint32_t at, uint8_t* dest, uint32_t n) {
  const uint32_t size = MovieFrameSize(movie, k);
  if (at > size || size - at < n) return false;
  const uint32_t offset = MovieFrameOffset(movie, k) + at;
  if (movie->preload) {
    const uint32_t first = MovieFrameOffset(movie, 1);
    if (offset < first || uint64_t{offset} + n > uint64_t{movie->size_less_8} + 8) return false;
    std::memcpy(dest, movie->preload + (offset - first), n);
    return true;
  }
  return movie->io.read_header(&movie->io, offset, dest, n) == n;
}

// Adds packet k's decoded byte counts to the table: P(k + 1) = P(k) + the
// decoded_bytes word of each played track's packet. Only the packet's audio
// headers are read.
bool ScanPacket(Movie* movie, uint32_t k) {
  for (uint32_t j = 0; j < movie->selected_count; ++j) Positions(movie, j)[k] = Positions(movie, j)[k - 1];
  const uint32_t size = MovieFrameSize(movie, k);
  uint32_t pos = 0;
  uint8_t word[4];
  for (uint32_t t = 0; t < movie->track_count && size - pos >= 4; ++t) {
    if (!ReadPacketBytes(movie, k, pos, word, 4)) return false;
    const uint32_t packet_size = ReadLe32(word);
    pos += 4;
    const uint32_t body = std::min(packet_size, size - pos);
    const int played = packet_size ? PlayedTrack(movie, t) : -1;
    if (played >= 0 && body >= 4) {
      if (!ReadPacketBytes(movie, k, pos, word, 4)) return false;
      Positions(movie, static_cast<uint32_t>(played))[k] += ReadLe32(word);
    }
    pos += body;
  }
  return true;
}

// Makes P(f) known for every f <= upto.
bool ScanSoundPositions(Movie* movie, uint32_t upto) {
  while (movie->sound_positions_known + 1 < upto) {
    if (!ScanPacket(movie, movie->sound_positions_known + 1)) return false;
    movie->sound_positions_known += 1;
  }
  return true;
}

// The byte of the track's decoded stream that sounds when frame k shows:
// (k - 1) frame times at the file's own rate, in whole sample frames.
uint64_t SoundByteAt(const Movie* movie, uint32_t file_track, uint32_t k) {
  const uint32_t format = movie->track_formats[file_track];
  const uint64_t rate = format & AUDIO_TRACK_RATE_MASK;
  const uint64_t frame_bytes = format & AUDIO_TRACK_STEREO ? 4 : 2;
  if (!movie->file_rate_num) return 0;
  const uint64_t q = uint64_t{k - 1} * rate;  // below 2^48
  const uint64_t num = movie->file_rate_num, den = movie->file_rate_den;
  const uint64_t samples = q / num * den + q % num * den / num;  // q % num * den < 2^64
  return samples * frame_bytes;
}

// The first packet a track's catch-up decodes and what it keeps.
struct TrackPlan {
  uint32_t start;      // first packet decoded (the target itself: none before it)
  uint64_t seek_byte;  // the sound at the target's time
};

TrackPlan PlanTrack(Movie* movie, uint32_t played, uint32_t target) {
  const uint64_t* p = Positions(movie, played);
  const uint64_t s = SoundByteAt(movie, movie->selected_tracks[played], target);
  // The last packet (at most the target) starting at or before s: P(1) = 0,
  // and P never decreases.
  uint32_t lo = 1, hi = target;
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo + 1) / 2;
    if (p[mid - 1] <= s)
      lo = mid;
    else
      hi = mid - 1;
  }
  uint32_t start = lo;
  // One earlier packet with sound, so that the cross-fade into the packet
  // that holds s comes out as in a straight decode.
  for (uint32_t f = lo - 1; f >= 1 && lo - f <= kWarmUpSearch; --f) {
    if (p[f] > p[f - 1]) {
      start = f;
      break;
    }
  }
  return {start, s};
}

// Drops what the catch-up decoded before the seek position: the ring keeps
// the sound from s to the target's packet; when the stream has not reached s
// yet, that much of the coming sound is dropped instead.
void TrimRing(Movie* movie, uint32_t played, const TrackPlan& plan, uint32_t target) {
  SoundTrack* track = &movie->tracks[played];
  const uint64_t reached = Positions(movie, played)[target - 1];
  const uint64_t keep = reached > plan.seek_byte ? reached - plan.seek_byte : 0;
  if (track->ring_fill > keep) {
    const auto drop = static_cast<uint32_t>(track->ring_fill - keep);
    const auto ahead = static_cast<uint32_t>(track->ring_end - track->ring_read);
    track->ring_read = drop < ahead ? track->ring_read + drop : track->ring_start + (drop - ahead);
    track->ring_fill -= drop;
  }
  const uint64_t behind = plan.seek_byte > reached ? plan.seek_byte - reached : 0;
  track->skip_bytes = static_cast<uint32_t>(std::min<uint64_t>(behind, UINT32_MAX));
}

// Loads frame k's packet without feeding the sound (the device must not
// start before the new picture is ready).
void LoadPacket(Movie* movie, uint32_t k) {
  MovieReadPacket(movie, k);
  std::atomic_ref<int32_t>(movie->frame_num).store(static_cast<int32_t>(k), std::memory_order_relaxed);
}

// The read-ahead ring, refilled from the new position as at open.
void RefillReadAhead(Movie* movie) {
  if (movie->preload || (movie->flags & OPEN_NO_FILL) || !movie->io.idle) return;
  while (movie->io.idle(&movie->io) != 0) {
  }
}

bool ReadFailed(Movie* movie) {
  return std::atomic_ref<uint32_t>(movie->io.read_error).load(std::memory_order_relaxed) != 0;
}

// The pictures as open leaves them, for a chain that starts at a frame 1
// that is not a key frame: black, neutral chroma, transparent.
void ResetPictures(Movie* movie) {
  const size_t luma = size_t{movie->plane_width} * movie->plane_height;
  const size_t chroma = size_t{movie->chroma_width} * movie->chroma_height;
  for (int b = 0; b < 2; ++b) {
    std::memset(movie->yuv_buffers[b], 0, luma);
    std::memset(movie->yuv_buffers[b] + luma, 128, 2 * chroma);
    if (movie->alpha_buffers[b]) std::memset(movie->alpha_buffers[b], 0, luma);
  }
  movie->cur_buffer = 0;
}

int SeekError(const char* format, uint32_t a, uint32_t b) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  MovieSetError(text);
  return 0;
}

// The first frame whose picture must be decoded to show the target.
uint32_t FirstPicture(const Movie* movie, uint32_t key, uint32_t target) {
  // The frame on screen continues the key frame's chain when it lies between
  // the key frame and the target (decoded in order since the key frame).
  const int32_t shown = movie->last_decoded;
  if (!movie->read_error && IsKeyFrame(movie, key) && shown >= static_cast<int32_t>(key) &&
      shown < static_cast<int32_t>(target))
    return static_cast<uint32_t>(shown) + 1;
  return key;
}

class SoundLock {
 public:
  explicit SoundLock(Movie* movie) : mutex_(movie->sound_node.mutex) {
    if (mutex_) MutexLock(mutex_);
  }
  ~SoundLock() {
    if (mutex_) MutexUnlock(mutex_);
  }
  SoundLock(const SoundLock&) = delete;
  SoundLock& operator=(const SoundLock&) = delete;

 private:
  PlatformMutex* mutex_;
};

}  // namespace

int MovieSeek(Movie* movie, uint32_t frame_number, uint32_t flags) {
  if (!movie) return 0;
  uint32_t target = frame_number ? frame_number : 1;
  if (target > movie->frames)
    return SeekError("There is no frame %u: the movie has %u frames.", target, movie->frames);
  if (movie->preload && movie->read_error) {
    // The preloaded image itself is short: no position helps.
    MovieSetError("The movie could not be read completely.");
    return 0;
  }

  const uint32_t now = MovieClockMs();
  MovieBookBlitTime(movie, now);
  MovieNoteFrameTime(movie, now);
  const uint32_t key = KeyFrameAtOrBefore(movie, target);
  if (!(flags & SEEK_EXACT)) target = key;
  if (!movie->preload) {
    // The reader is moved explicitly: an earlier short read says nothing
    // about the new position.
    std::atomic_ref<uint32_t>(movie->io.read_error).store(0, std::memory_order_relaxed);
    movie->read_error = 0;
  }
  const uint32_t picture_from = FirstPicture(movie, key, target);
  movie->last_decoded = -1;  // the picture is in the making

  // The sound thread stays off the rings until the new frame is decoded.
  SoundLock sound(movie);
  SoundTracksFlush(movie);
  const uint32_t played = std::min(movie->selected_count, kMaxPlayedTracks);
  TrackPlan plans[kMaxPlayedTracks];
  uint32_t first = picture_from;
  const bool sound_table = played && movie->sound_positions;
  if (sound_table && !ScanSoundPositions(movie, target))
    return SeekError("The movie could not be read before frame %u (of %u).", target, movie->frames);
  for (uint32_t j = 0; sound_table && j < played; ++j) {
    plans[j] = PlanTrack(movie, j, target);
    first = std::min(first, plans[j].start);
  }

  if (picture_from == key && !IsKeyFrame(movie, key)) ResetPictures(movie);
  const uint32_t work_start = MovieClockMs();
  uint8_t decode[kMaxPlayedTracks] = {};
  for (uint32_t f = first; f < target; ++f) {
    LoadPacket(movie, f);
    if (f == first) RefillReadAhead(movie);
    if (ReadFailed(movie)) break;
    const MoviePacket packet = MovieLoadedPacket(movie);
    for (uint32_t j = 0; sound_table && j < played; ++j) decode[j] = f >= plans[j].start;
    const uint32_t video_at = MovieDecodeAudio(movie, packet.data, packet.size, decode);
    if (f >= picture_from && movie->video_on)
      MovieDecodeVideo(movie, packet.data + video_at, packet.size - video_at, packet.key_frame);
  }
  for (uint32_t j = 0; sound_table && j < played; ++j) TrimRing(movie, j, plans[j], target);
  movie->video_ms += MovieClockMs() - work_start;

  const bool nothing_before = first == target;
  LoadPacket(movie, target);
  if (nothing_before) RefillReadAhead(movie);
  // A fresh schedule from the new frame: nothing owed, nothing skipped.
  movie->clock_start = 0;
  movie->clock_adjust = movie->clock_adjust_step = 0;
  movie->skip_blit = 0;
  movie->skip_run = 0;
  movie->last_decoded = -1;
  if (ReadFailed(movie) || MovieDoFrame(movie) != 0) {
    movie->read_error = 1;
    movie->last_decoded = -1;
    return SeekError("The movie could not be read at frame %u (of %u).", target, movie->frames);
  }
  std::memset(movie->block_map, 1, movie->block_count);
  movie->rect_count = -1;
  return 1;
}
