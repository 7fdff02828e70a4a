// libvorn: stepping, seeking, the decoded picture and each track's sound.
//
// The engine decodes the picture; the sound is decoded here, track by track
// from the frame packets the engine loaded, so that a step hands back exactly
// the PCM that frame carries (the engine's own path feeds sound devices in
// real time). Each track keeps a timeline: the PCM bytes produced before
// each frame, which places every piece of sound and lets a seek start the
// sound where the landed frame's time lies.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "audio/audio_decoder.h"
#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "engine/movie_header.h"
#include "libvorn/vorn_handle.h"

namespace {

constexpr uint32_t kMaxRingSeconds = 16;  // as the engine sizes its rings

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t RingSize(uint32_t max_bytes, uint32_t rate, uint32_t channels) {
  const uint32_t cap = rate * channels * 2 * kMaxRingSeconds;
  const uint32_t bytes = std::min(max_bytes, cap);
  return bytes > 0xFFFFFF00u ? 0xFFFFFF00u : (bytes + 255) & ~255u;
}

struct PcmTarget {
  std::vector<int16_t>* pcm;
  uint64_t bytes;
  bool keep;
};

void Collect(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* target = static_cast<PcmTarget*>(context);
  target->bytes += bytes;
  if (target->keep) target->pcm->insert(target->pcm->end(), pcm, pcm + bytes / 2);
}

bool ResetDecoder(VornTrack* t) {
  if (t->decoder) AudioDecoderClose(t->decoder);
  t->decoder = AudioDecoderOpen(t->rate, t->channels, t->use_dct, t->cpu_flags);
  return t->decoder != nullptr;
}

uint32_t FrameBytes(const VornTrack& t) { return t.channels * 2; }

// Notes that frame `frame` made `bytes` of PCM; a differing earlier note (a
// damaged packet that fell short) drops what was known after it.
void NoteFrameBytes(VornTrack* t, uint32_t frame, uint64_t bytes) {
  const uint64_t end = t->starts[frame] + bytes;
  if (t->starts.size() > frame + 1) {
    if (t->starts[frame + 1] == end) return;
    t->starts.resize(frame + 1);
  }
  t->starts.push_back(end);
}

// What a walk does with each track's packet in a frame.
enum AudioMode : uint8_t {
  kMeasure,  // note its length only
  kPrime,    // decode and drop (sets up the decoder's cross-fade)
  kKeep,     // decode into the track's pcm
};

// Walks the loaded packet's audio packets, one per file track. Returns
// false when a length runs past the frame (what fits is still used).
bool WalkAudio(vorn_movie* m, uint32_t frame, const std::vector<uint8_t>& modes) {
  Movie* movie = m->movie;
  const uint8_t* packet = movie->frame_data;
  const uint32_t size = MovieFrameSize(movie, frame);
  uint32_t pos = 0;
  bool intact = true;
  for (uint32_t i = 0; i < m->tracks.size(); i++) {
    VornTrack& track = m->tracks[i];
    uint32_t body = 0;
    if (size - pos >= 4) {
      const uint32_t packet_size = Le32(packet + pos);
      pos += 4;
      body = std::min(packet_size, size - pos);
      if (body < packet_size) intact = false;
    } else {
      intact = false;
    }
    const uint8_t* payload = packet + pos;
    pos += body;
    if (!track.decodable || track.starts.size() <= frame) continue;
    uint64_t produced = 0;
    if (body > 0 && modes[i] != kMeasure) {
      PcmTarget target = {&track.pcm, 0, modes[i] == kKeep};
      AudioDecodePacket(track.decoder, payload, payload + body, track.ring_size, Collect, &target);
      produced = target.bytes;
    } else if (body > 0) {
      produced = AudioPacketDecodedBytes(payload, payload + body);
    }
    NoteFrameBytes(&track, frame, produced);
  }
  return intact;
}

void SetMessage(vorn_movie* m, const char* format, uint32_t frame) {
  char text[200];
  std::snprintf(text, sizeof text, format, frame);
  m->message = text;
}

// Loads frame k's packet unless it is loaded; false on a read failure.
bool Load(vorn_movie* m, uint32_t k) {
  Movie* movie = m->movie;
  if (movie->frame_num != static_cast<int32_t>(k)) MovieLoadFrame(movie, k);
  if (movie->io.read_error) {
    m->read_failed = true;
    SetMessage(m, "The movie's data could not be read at frame %u.", k);
    return false;
  }
  return true;
}

// Makes every track's timeline known up to the start of frame `upto`,
// loading (not decoding) the packets not yet measured.
bool MeasureUpTo(vorn_movie* m, uint32_t upto) {
  uint32_t known = upto;
  for (const VornTrack& t : m->tracks)
    if (t.decodable) known = std::min<uint32_t>(known, static_cast<uint32_t>(t.starts.size() - 1));
  const std::vector<uint8_t> measure(m->tracks.size(), kMeasure);
  for (uint32_t f = known; f < upto; f++) {
    if (!Load(m, f)) return false;
    WalkAudio(m, f, measure);
  }
  return true;
}

// The first frame whose sound reaches past `byte` on track t (at most
// limit), and the last frame before `from` that produced any sound.
uint32_t FrameCovering(const VornTrack& t, uint64_t byte, uint32_t limit) {
  uint32_t f = 1;
  while (f < limit && t.starts[f + 1] <= byte) f++;
  return f;
}
uint32_t LastSoundingBefore(const VornTrack& t, uint32_t from) {
  for (uint32_t f = from; f-- > 1;)
    if (t.starts[f + 1] > t.starts[f]) return f;
  return 0;
}

}  // namespace

bool VornOpenTracks(vorn_movie* m) {
  const Movie* movie = m->movie;
  m->tracks.resize(movie->track_count);
  for (uint32_t i = 0; i < movie->track_count; i++) {
    VornTrack& t = m->tracks[i];
    const uint32_t format = movie->track_formats[i];
    t.id = movie->track_ids[i];
    t.rate = format & AUDIO_TRACK_RATE_MASK;
    t.channels = format & AUDIO_TRACK_STEREO ? 2 : 1;
    t.bits = format & AUDIO_TRACK_16BIT ? 16 : 8;
    t.use_dct = (format & AUDIO_TRACK_DCT) && !(format & AUDIO_TRACK_RDFT);
    t.cpu_flags = movie->cpu_flags;
    t.decodable = (format & (AUDIO_TRACK_DCT | AUDIO_TRACK_RDFT)) && t.rate != 0 && !(m->flags & VORN_OPEN_NO_AUDIO);
    if (!t.decodable) continue;
    t.ring_size = RingSize(movie->track_max_bytes[i], t.rate, t.channels);
    t.starts.assign(2, 0);  // index 0 unused; frame 1 starts at 0
    if (!ResetDecoder(&t)) return false;
  }
  return true;
}

void VornCloseTracks(vorn_movie* m) {
  for (VornTrack& t : m->tracks)
    if (t.decoder) AudioDecoderClose(t.decoder);
  m->tracks.clear();
}

extern "C" {

int vorn_step(vorn_movie* m) {
  if (!m) return VORN_ERROR_ARGUMENT;
  if (m->read_failed) return VORN_ERROR_READ;
  if (m->next > m->frames) return VORN_END;
  std::lock_guard<std::mutex> hold(VornLock());
  Movie* movie = m->movie;
  const uint32_t k = m->next;
  if (!m->audio_pending) {
    for (VornTrack& t : m->tracks) {
      t.pcm.clear();
      if (t.decodable) t.first_sample = t.starts[k] / FrameBytes(t);
    }
  }
  m->audio_pending = false;
  m->decoded = 0;
  if (!Load(m, k)) return VORN_ERROR_READ;
  if (MovieDoFrame(movie) != 0) {
    m->read_failed = true;
    SetMessage(m, "The movie's data could not be read at frame %u.", k);
    return VORN_ERROR_READ;
  }
  const bool intact = WalkAudio(m, k, std::vector<uint8_t>(m->tracks.size(), kKeep));
  m->decoded = k;
  m->next = k + 1;
  if (!intact) {
    SetMessage(m, "Frame %u is damaged: its sound packets run past the frame's end.", k);
    return VORN_DAMAGED;
  }
  return VORN_OK;
}

uint32_t vorn_frame_number(const vorn_movie* m) { return m ? m->decoded : 0; }

int vorn_seek(vorn_movie* m, uint32_t frame, uint32_t flags, uint32_t* landed) {
  if (!m || flags & ~VORN_SEEK_KEY) return VORN_ERROR_ARGUMENT;
  std::lock_guard<std::mutex> hold(VornLock());
  Movie* movie = m->movie;
  const uint32_t target = std::clamp<uint32_t>(frame, 1, m->frames);
  uint32_t key = target;
  while (key > 1 && !(movie->frame_index[key - 1] & 1u)) key--;
  const uint32_t land = flags & VORN_SEEK_KEY ? key : target;
  if (landed) *landed = land;
  m->decoded = 0;
  m->audio_pending = false;
  for (VornTrack& t : m->tracks) t.pcm.clear();

  // The picture: the engine decodes from the key frame (or the picture on
  // the way) up to the landed frame, which the next step then hands out.
  // A seek also starts the reader afresh after a read failure.
  if (!MovieSeek(movie, land, SEEK_EXACT)) {
    m->read_failed = true;
    m->message = MovieGetError();
    return VORN_ERROR_READ;
  }
  m->read_failed = false;

  // The sound: per track from the frame whose PCM covers the landed frame's
  // time, the decoder primed on the last sounding frame before that one.
  if (!MeasureUpTo(m, land)) return VORN_ERROR_READ;
  const uint64_t time_ns = vorn_frame_time_ns(m, land);
  uint32_t first = land;
  const size_t n = m->tracks.size();
  std::vector<uint32_t> keep_from(n, land), prime_from(n, land);
  for (size_t i = 0; i < n; i++) {
    VornTrack& t = m->tracks[i];
    if (!t.decodable) continue;
    const uint64_t sample = VornMulDiv(time_ns, t.rate, 1000000000u);
    keep_from[i] = FrameCovering(t, sample * FrameBytes(t), land);
    const uint32_t prime = LastSoundingBefore(t, keep_from[i]);
    prime_from[i] = prime ? prime : keep_from[i];
    first = std::min(first, prime_from[i]);
    if (!ResetDecoder(&t)) return VORN_ERROR_MEMORY;
    t.first_sample = t.starts[keep_from[i]] / FrameBytes(t);
  }
  std::vector<uint8_t> modes(n);
  for (uint32_t f = first; f < land; f++) {
    if (!Load(m, f)) return VORN_ERROR_READ;
    for (size_t i = 0; i < n; i++) modes[i] = f < prime_from[i] ? kMeasure : f < keep_from[i] ? kPrime : kKeep;
    WalkAudio(m, f, modes);
  }
  // Back to the landed frame's packet; its picture is already decoded.
  if (!Load(m, land)) return VORN_ERROR_READ;
  m->next = land;
  m->audio_pending = true;
  return VORN_OK;
}

int vorn_get_planes(const vorn_movie* m, vorn_planes* planes) {
  if (!m || !planes) return VORN_ERROR_ARGUMENT;
  if (!m->decoded) return VORN_ERROR_NO_FRAME;
  const Movie* movie = m->movie;
  const uint32_t shown = movie->cur_buffer ^ 1;  // the engine flips after each decode
  const uint8_t* base = movie->yuv_buffers[shown];
  const uint8_t* first = base + size_t{movie->plane_width} * movie->plane_height;
  const uint8_t* second = first + size_t{movie->plane_width / 2} * (movie->plane_height / 2);
  // The stream's first chroma plane drives red (V), the second blue (U);
  // old versions store them the other way round.
  const bool swapped = movie->flags & OPEN_UV_ORDER;
  std::memset(planes, 0, sizeof *planes);
  planes->y = base;
  if (movie->flags & OPEN_GRAYSCALE) {
    planes->u = planes->v = m->neutral.data();
  } else {
    planes->u = swapped ? first : second;
    planes->v = swapped ? second : first;
  }
  planes->a = movie->alpha_buffers[0] ? movie->alpha_buffers[shown] : nullptr;
  planes->y_pitch = planes->a_pitch = movie->plane_width;
  planes->uv_pitch = movie->plane_width / 2;
  planes->width = movie->decoded_width;
  planes->height = movie->decoded_height;
  planes->chroma_width = (movie->decoded_width + 1) / 2;
  planes->chroma_height = (movie->decoded_height + 1) / 2;
  return VORN_OK;
}

size_t vorn_frame_buffer_size(const vorn_movie* m, int format, int32_t* pitch) {
  if (pitch) *pitch = 0;
  if (!m || format < VORN_FORMAT_BGR24 || format > VORN_FORMAT_YV12) return 0;
  const Movie* movie = m->movie;
  if (format == VORN_FORMAT_YV12) {
    const size_t width = movie->decoded_width, height = movie->decoded_height;
    if (pitch) *pitch = static_cast<int32_t>(width);
    return width * height + 2 * (width / 2) * (height / 2);
  }
  const size_t line = size_t{movie->width} * CopyBytesPerPixel(static_cast<uint32_t>(format));
  if (pitch) *pitch = static_cast<int32_t>(line);
  return line * movie->height;
}

int vorn_copy_frame(vorn_movie* m, int format, void* dest, int32_t pitch, uint32_t flags) {
  if (!m || !dest || format < VORN_FORMAT_BGR24 || format > VORN_FORMAT_YV12 || (flags & ~VORN_COPY_GREY))
    return VORN_ERROR_ARGUMENT;
  if (!m->decoded) return VORN_ERROR_NO_FRAME;
  Movie* movie = m->movie;
  int32_t tight = 0;
  vorn_frame_buffer_size(m, format, &tight);
  const int64_t magnitude = pitch < 0 ? -int64_t{pitch} : pitch;
  // The planar format halves the pitch for its chroma planes and has no
  // bottom-up form.
  if (magnitude < tight || (format == VORN_FORMAT_YV12 && pitch < 0)) return VORN_ERROR_ARGUMENT;
  const uint32_t height = format == VORN_FORMAT_YV12 ? movie->decoded_height : movie->height;
  uint32_t copy_flags = static_cast<uint32_t>(format) | COPY_ALL | COPY_NO_SKIP;
  if (flags & VORN_COPY_GREY) copy_flags |= COPY_GRAYSCALE;
  if (m->flags & VORN_OPEN_NO_VECTOR) copy_flags |= COPY_NO_MMX;
  std::lock_guard<std::mutex> hold(VornLock());
  MovieCopyToBuffer(movie, dest, pitch, height, 0, 0, 0, 0, movie->width, movie->height, copy_flags);
  return VORN_OK;
}

int vorn_audio(const vorn_movie* m, uint32_t index, const int16_t** pcm, size_t* bytes, uint64_t* first_sample) {
  if (!m || index >= m->tracks.size()) return VORN_ERROR_ARGUMENT;
  const VornTrack& t = m->tracks[index];
  if (pcm) *pcm = t.pcm.data();
  if (bytes) *bytes = t.pcm.size() * 2;
  if (first_sample) *first_sample = t.first_sample;
  return VORN_OK;
}

}  // extern "C"
