#include "vorntool/decode_audio.h"

#include <algorithm>
#include <cstdio>

#include "audio/audio_decoder.h"
#include "vorn/movie.h"
#include "vorntool/decode.h"
#include "vorntool/encode/wav.h"
#include "vorntool/options.h"
#include "vorntool/stdio_files.h"
#include "platform/cpu.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string Format(const char* format, uint32_t a, uint32_t b = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The container fields this needs, every offset checked against the size.
struct MovieLayout {
  uint32_t frames = 0, track_count = 0;
  uint32_t rate_num = 0, rate_den = 0;
  const uint8_t* max_bytes = nullptr;
  const uint8_t* formats = nullptr;
  const uint8_t* ids = nullptr;
  const uint8_t* index = nullptr;
};

bool ReadLayout(const uint8_t* movie, size_t size, MovieLayout* layout, std::string* error) {
  if (size < MOVIE_HEADER_SIZE || movie[0] != 'V' || movie[1] != 'X' || movie[2] != 'N' || movie[3] < 'f' ||
      movie[3] > 'i') {
    *error = "Not a Vorn file.";
    return false;
  }
  layout->frames = Le32(movie + 8);
  layout->rate_num = Le32(movie + 28);
  layout->rate_den = Le32(movie + 32);
  const uint32_t index_frames = Le32(movie + 16);
  layout->track_count = Le32(movie + 40);
  if (layout->frames == 0) {
    *error = "The file doesn't contain any compressed frames yet.";
    return false;
  }
  const uint64_t tables_end = MOVIE_HEADER_SIZE + 12ull * layout->track_count;
  const uint64_t index_end = tables_end + 4ull * (uint64_t{index_frames} + 1);
  if (index_frames < layout->frames || index_end > size) {
    *error = "The header's track tables or frame index lie outside the file.";
    return false;
  }
  layout->max_bytes = movie + MOVIE_HEADER_SIZE;
  layout->formats = layout->max_bytes + 4 * layout->track_count;
  layout->ids = layout->formats + 4 * layout->track_count;
  layout->index = movie + tables_end;
  return true;
}

// A WAV file holds at most 4 GB of samples; a damaged movie can announce
// more, which is refused rather than gathered.
constexpr uint64_t kMaxOutputBytes = 0xFFFFFFFFull - 44;

struct PcmCollector {
  std::vector<int16_t>* pcm;
  bool overflow;
};

void AppendPcm(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* out = static_cast<PcmCollector*>(context);
  if (out->overflow || out->pcm->size() * 2 + bytes > kMaxOutputBytes) {
    out->overflow = true;
    return;
  }
  out->pcm->insert(out->pcm->end(), pcm, pcm + bytes / 2);
}

// Walks one frame packet's audio packets; decodes the chosen track's.
bool DecodeFrameAudio(const MovieLayout& layout, const uint8_t* packet, uint32_t packet_size, uint32_t track,
                      uint32_t frame, AudioDecoder* decoder, uint32_t ring_size, DecodedTrack* out,
                      std::string* error) {
  uint32_t at = 0;
  for (uint32_t t = 0; t < layout.track_count && t <= track; t++) {
    if (packet_size - at < 4) {
      *error = Format("Frame %u: the audio packets run past the frame's end.", frame);
      return false;
    }
    const uint32_t length = Le32(packet + at);
    at += 4;
    if (length > packet_size - at) {
      *error = Format("Frame %u: an audio packet of %u bytes runs past the frame's end.", frame, length);
      return false;
    }
    if (t == track && length > 0) {
      const uint8_t* payload = packet + at;
      const uint32_t wanted = AudioPacketDecodedBytes(payload, payload + length);
      if (wanted > ring_size) {
        std::fprintf(stderr, "vorntool decode: frame %u: the audio packet decodes to %u bytes, more than the "
                     "track's ring holds; the oldest are dropped as in playback\n", frame, wanted);
      }
      PcmCollector collector = {&out->pcm, false};
      AudioDecodePacket(decoder, payload, payload + length, ring_size, AppendPcm, &collector);
      if (collector.overflow) {
        *error = Format("Frame %u: the track's sound grows beyond the 4 GB a sound file can hold.", frame);
        return false;
      }
    }
    at += length;
  }
  return true;
}

}  // namespace

namespace {

int ReportMissing(const DecodeAudioRequest& request, const DecodedTrack& track) {
  if (!track.missing_frames) return kExitOk;
  std::fprintf(stderr,
               "vorntool decode: %s: movie damaged: Damaged or missing frames: %u (first at frame "
               "%u)\n",
               request.movie_path, track.missing_frames, track.first_missing_frame);
  return kExitDamaged;
}

}  // namespace

bool DecodeAudioTrack(const uint8_t* movie, size_t size, bool has_track, uint32_t track_id, DecodedTrack* out,
                      std::string* error, uint32_t max_frames, uint64_t start_ms) {
  MovieLayout layout;
  if (!ReadLayout(movie, size, &layout, error)) return false;
  const uint64_t start_frame = FrameAtMs(start_ms, layout.rate_num, layout.rate_den);
  if (start_frame > layout.frames) {
    *error = Format("The start lies past the end of the movie (%u frames).", layout.frames);
    return false;
  }
  // Frames read: from the first (the sound runs ahead of the pictures) up to
  // max_frames after the start frame.
  if (max_frames != UINT32_MAX) max_frames = static_cast<uint32_t>(
      std::min<uint64_t>(start_frame - 1 + max_frames, UINT32_MAX - 1));
  if (layout.track_count == 0) {
    *error = "The movie has no audio tracks.";
    return false;
  }
  uint32_t track = 0;
  if (has_track) {
    while (track < layout.track_count && Le32(layout.ids + 4 * track) != track_id) track++;
    if (track == layout.track_count) {
      *error = Format("The movie has no audio track with identifier %u.", track_id);
      return false;
    }
  }
  const uint32_t format = Le32(layout.formats + 4 * track);
  if (!(format & (AUDIO_TRACK_DCT | AUDIO_TRACK_RDFT))) {
    *error = Format("Audio track %u carries no coded sound (format 0x%08X).", Le32(layout.ids + 4 * track), format);
    return false;
  }
  out->rate = format & AUDIO_TRACK_RATE_MASK;
  out->channels = (format & AUDIO_TRACK_STEREO) ? 2 : 1;
  out->bits = (format & AUDIO_TRACK_16BIT) ? 16 : 8;
  const int use_dct = (format & AUDIO_TRACK_DCT) && !(format & AUDIO_TRACK_RDFT);
  AudioDecoder* decoder = AudioDecoderOpen(out->rate, out->channels, use_dct, CpuFeatures());
  if (!decoder) {
    *error = Format("Audio track %u cannot be decoded (rate %u Hz).", Le32(layout.ids + 4 * track), out->rate);
    return false;
  }
  // The ring the engine would give this track: the largest decoded bytes of
  // a frame, rounded up to a multiple of 256.
  const uint32_t max_bytes = Le32(layout.max_bytes + 4 * track);
  const uint32_t ring_size = max_bytes > 0xFFFFFF00u ? 0xFFFFFF00u : (max_bytes + 255) & ~255u;
  bool ok = true;
  const uint32_t frames = layout.frames < max_frames ? layout.frames : max_frames;
  for (uint32_t frame = 1; frame <= frames && ok; frame++) {
    const uint32_t from = Le32(layout.index + 4 * (frame - 1)) & ~1u;
    const uint32_t to = Le32(layout.index + 4 * frame) & ~1u;
    if (to < from) {
      *error = Format("Frame %u lies outside the file.", frame);
      ok = false;
      break;
    }
    if (to > size) {  // a truncated file: the frames before keep their sound
      out->first_missing_frame = frame;
      out->missing_frames = frames - frame + 1;
      break;
    }
    ok = DecodeFrameAudio(layout, movie + from, to - from, track, frame, decoder, ring_size, out, error);
  }
  AudioDecoderClose(decoder);
  if (ok && start_frame > 1 && layout.rate_num && layout.rate_den) {
    // (start - 1) frame times at the movie's rate, in whole sample frames.
    const uint64_t q = (start_frame - 1) * uint64_t{out->rate};
    const uint64_t samples = q / layout.rate_num * layout.rate_den +
                             q % layout.rate_num * layout.rate_den / layout.rate_num;
    const uint64_t values = std::min<uint64_t>(samples * out->channels, out->pcm.size());
    out->pcm.erase(out->pcm.begin(), out->pcm.begin() + static_cast<std::ptrdiff_t>(values));
  }
  return ok;
}

int DecodeAudioToFile(const DecodeAudioRequest& request) {
  std::FILE* file = std::fopen(request.movie_path, "rb");
  if (!file) {
    std::fprintf(stderr, "vorntool decode: cannot open %s\n", request.movie_path);
    return 1;
  }
  std::vector<uint8_t> movie;
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) movie.insert(movie.end(), chunk, chunk + got);
  std::fclose(file);
  DecodedTrack track;
  std::string error;
  const uint32_t max_frames = request.has_frames ? request.frames : UINT32_MAX;
  if (!DecodeAudioTrack(movie.data(), movie.size(), request.has_track, request.track_id, &track, &error,
                        max_frames, request.start_ms)) {
    std::fprintf(stderr, "vorntool decode: %s: %s\n", request.movie_path, error.c_str());
    return 1;
  }
  if (request.raw) {
    std::vector<uint8_t> bytes(track.pcm.size() * 2);
    for (size_t i = 0; i < track.pcm.size(); i++) {
      bytes[2 * i] = uint8_t(uint16_t(track.pcm[i]));
      bytes[2 * i + 1] = uint8_t(uint16_t(track.pcm[i]) >> 8);
    }
    if (!WriteWholeOutput(request.out_path, bytes)) {
      std::fprintf(stderr, "vorntool decode: cannot write %s\n", request.out_path);
      return 1;
    }
    return ReportMissing(request, track);
  }
  WavSound sound;
  sound.rate = track.rate;
  sound.channels = track.channels;
  sound.bits = track.bits;
  sound.samples = std::move(track.pcm);
  if (!WavWrite(request.out_path, sound, &error)) {
    std::fprintf(stderr, "vorntool decode: %s\n", error.c_str());
    return 1;
  }
  return ReportMissing(request, track);
}

// The decode command's --audio part.
int DecodeAudio(const DecodeOptions& options) {
  DecodeAudioRequest request;
  request.movie_path = options.movie_path;
  request.out_path = options.audio_path;
  request.has_track = options.has_track;
  request.track_id = options.track_id;
  request.raw = options.raw;
  request.has_frames = options.has_frames;
  request.frames = options.frames;
  request.start_ms = options.has_start ? options.start_ms : 0;
  return DecodeAudioToFile(request);
}
