// vorntool decode FILE --video OUT.y4m [--frames N] [--alpha OUT.y4m] [--grey]
// [--map OUT]: decodes the frames in order through the engine and writes
// them as YUV4MPEG2 4:2:0 (C420jpeg). Also dispatches --audio and --pixels
// to decode_audio.cc and decode_pixels.cc.
#include "vorntool/decode.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_stats.h"
#include "player/summary_text.h"
#include "vorntool/commands.h"
#include "vorntool/stdio_files.h"

namespace {

enum DecodeOption {
  kOptVideo, kOptAlpha, kOptMap, kOptAudio, kOptTrack, kOptRaw,
  kOptPixels, kOptOut, kOptScale, kOptPng, kOptGrey, kOptFrames, kOptStart,
};
constexpr OptionSpec kDecodeOptions[] = {
    {kOptVideo, "--video", "OUT.y4m", "write the pictures as YUV4MPEG2 4:2:0 (- standard output)", Complete::kY4m},
    {kOptAlpha, "--alpha", "OUT.y4m", "with --video: write the alpha plane as a grey Y4M", Complete::kY4m},
    {kOptMap, "--map", "OUT", "with --video: write each frame's changed-block map", Complete::kFile},
    {kOptAudio, "--audio", "OUT.wav", "write one sound track as WAV (- standard output)", Complete::kWav},
    {kOptTrack, "--track", "ID", "with --audio: the track with this identifier (default the first)"},
    {kOptRaw, "--raw", nullptr, "with --audio: headerless signed 16-bit PCM instead of WAV"},
    {kOptPixels, "--pixels", "FMT", "convert each frame to a destination format (1-15 or a name)",
     Complete::kWords, kPixelFormatWords},
    {kOptOut, "-o", "OUT", "with --pixels: the raw output, frames back to back (- standard output)", Complete::kFile},
    {kOptScale, "--scale", "MODE", "with --pixels: scaling mode 0-7 (7 forces none)", Complete::kWords,
     "0 1 2 3 4 5 6 7"},
    {kOptPng, "--png", "DIR", "with --pixels: also each frame as DIR/frame_NNNNN.png", Complete::kDir},
    {kOptGrey, "--grey", nullptr, "decode luma only (neutral chroma)"},
    {kOptFrames, "--frames", "N", "at most N frames"},
    {kOptStart, "--start", "SECONDS", "begin at that time (its frame, and the sound from there)"},
};

bool ParseNumber(const char* text, uint32_t* value) {
  uint64_t v = 0;
  if (!ParseUnsigned(text, 0, 0xFFFFFFFFu, &v)) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

int ParseArgs(int argc, char** argv, DecodeOptions* o) {
  ParsedCommand parsed;
  if (int code = ParseCommand(kDecodeCommand, argc, argv, &parsed)) return code;
  for (const ParsedOption& option : parsed.options) {
    const char* value = option.value;
    switch (option.spec->id) {
      case kOptVideo: o->video_path = value; break;
      case kOptAlpha: o->alpha_path = value; break;
      case kOptMap: o->map_path = value; break;
      case kOptAudio: o->audio_path = value; break;
      case kOptPixels: o->pixels_format = value; break;
      case kOptOut: o->out_path = value; break;
      case kOptScale: o->scale = value; break;
      case kOptPng: o->png_dir = value; break;
      case kOptRaw: o->raw = true; break;
      case kOptGrey: o->grey = true; break;
      case kOptTrack:
        if (!ParseNumber(value, &o->track_id))
          return UsageError(kDecodeCommand, "--track wants a track identifier, not '%s'", value);
        o->has_track = true;
        break;
      case kOptFrames:
        if (!ParseNumber(value, &o->frames))
          return UsageError(kDecodeCommand, "--frames wants a number, not '%s'", value);
        o->has_frames = true;
        break;
      case kOptStart:
        if (!ParseSeconds(value, &o->start_ms))
          return UsageError(kDecodeCommand, "--start wants seconds such as 12 or 83.5, not '%s'", value);
        o->has_start = true;
        break;
    }
  }
  if (parsed.operands.size() != 1)
    return UsageError(kDecodeCommand, "%s", parsed.operands.empty() ? "no movie named" : "one movie at a time");
  o->movie_path = parsed.operands[0];
  if (!o->video_path && !o->audio_path && !o->pixels_format)
    return UsageError(kDecodeCommand, "nothing to write: give --video, --audio or --pixels");
  struct Needs {
    bool given;
    const char* option;
    bool has_base;
    const char* base;
  };
  const Needs needs[] = {
      {o->alpha_path != nullptr, "--alpha", o->video_path != nullptr, "--video"},
      {o->map_path != nullptr, "--map", o->video_path != nullptr, "--video"},
      {o->has_track, "--track", o->audio_path != nullptr, "--audio"},
      {o->raw, "--raw", o->audio_path != nullptr, "--audio"},
      {o->out_path != nullptr, "-o", o->pixels_format != nullptr, "--pixels"},
      {o->scale != nullptr, "--scale", o->pixels_format != nullptr, "--pixels"},
      {o->png_dir != nullptr, "--png", o->pixels_format != nullptr, "--pixels"},
      {o->pixels_format != nullptr, "--pixels", o->out_path != nullptr, "-o OUT"},
  };
  for (const Needs& n : needs)
    if (n.given && !n.has_base) return UsageError(kDecodeCommand, "%s needs %s", n.option, n.base);
  if (IsStdio(o->movie_path))
    return UsageError(kDecodeCommand, "the movie is read by name, not from standard input");
  int to_stdout = IsStdio(o->video_path) + IsStdio(o->alpha_path) + IsStdio(o->map_path) +
                  IsStdio(o->audio_path) + IsStdio(o->out_path);
  if (to_stdout > 1)
    return UsageError(kDecodeCommand, "only one output can go to standard output ('-')");
  uint32_t format = 0, mode = 0;
  if (o->pixels_format && !DecodeParsePixelFormat(o->pixels_format, &format))
    return UsageError(kDecodeCommand, "--pixels wants a format 1-15 or one of %s", kPixelFormatWords);
  if (o->scale && !DecodeParseScale(o->scale, &mode))
    return UsageError(kDecodeCommand, "--scale wants a mode 0-7");
  return kExitOk;
}

struct OutputFile {
  std::FILE* file = nullptr;
  const char* path = nullptr;
  bool failed = false;
  ~OutputFile() {
    if (file) CloseOutput(file);
  }
  bool Open(const char* name) {
    path = name;
    file = OpenOutput(name);
    if (!file) std::fprintf(stderr, "vorntool decode: cannot write %s\n", name);
    return file != nullptr;
  }
  void Write(const void* data, size_t size) {
    if (!failed && size && std::fwrite(data, 1, size, file) != size) failed = true;
  }
  bool Close() {
    bool ok = CloseOutput(file) && !failed;
    file = nullptr;
    if (!ok) std::fprintf(stderr, "vorntool decode: error writing %s\n", path);
    return ok;
  }
};

struct Y4mGeometry {
  uint32_t width, height, pitch;
  uint32_t chroma_width, chroma_height, chroma_pitch;
};

void WriteY4mHeader(OutputFile* out, const Y4mGeometry& g, const Movie* movie) {
  char header[160];
  int n = std::snprintf(header, sizeof header, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n",
                        g.width, g.height, movie->file_rate_num, movie->file_rate_den);
  out->Write(header, static_cast<size_t>(n));
}

void WritePlaneRows(OutputFile* out, const uint8_t* plane, uint32_t pitch, uint32_t width,
                    uint32_t height) {
  for (uint32_t y = 0; y < height; y++) out->Write(plane + size_t{y} * pitch, width);
}

// One frame: luma, then U (the plane driving blue), then V, or neutral
// chroma for grey pictures and for alpha written as a grey picture.
void WriteY4mFrame(OutputFile* out, const Y4mGeometry& g, const uint8_t* luma, const uint8_t* u,
                   const uint8_t* v) {
  out->Write("FRAME\n", 6);
  WritePlaneRows(out, luma, g.pitch, g.width, g.height);
  if (u && v) {
    WritePlaneRows(out, u, g.chroma_pitch, g.chroma_width, g.chroma_height);
    WritePlaneRows(out, v, g.chroma_pitch, g.chroma_width, g.chroma_height);
    return;
  }
  std::vector<uint8_t> neutral(size_t{g.chroma_width} * g.chroma_height * 2, 128);
  out->Write(neutral.data(), neutral.size());
}

}  // namespace

bool DecodeSeekStart(Movie* movie, const DecodeOptions& o, uint32_t* first) {
  *first = 1;
  if (!o.has_start) return true;
  const uint64_t frame = FrameAtMs(o.start_ms, movie->file_rate_num, movie->file_rate_den);
  if (frame > movie->frames) {
    std::fprintf(stderr, "vorntool decode: %s: --start %llu.%03llu s lies past the end (%u frames)\n",
                 o.movie_path, static_cast<unsigned long long>(o.start_ms / 1000),
                 static_cast<unsigned long long>(o.start_ms % 1000), movie->frames);
    return false;
  }
  if (!MovieSeek(movie, static_cast<uint32_t>(frame), SEEK_EXACT)) {
    std::fprintf(stderr, "vorntool decode: %s: %s\n", o.movie_path, MovieGetError());
    return false;
  }
  *first = static_cast<uint32_t>(frame);
  return true;
}

int DecodeVideoToY4m(const DecodeOptions& o) {
  // No sound: the track list is empty, so no driver is touched.
  MovieSetSoundTracks(0, nullptr);
  uint32_t flags = OPEN_TRACKS | OPEN_NO_THREAD | (o.grey ? uint32_t{OPEN_GRAYSCALE} : 0u) |
                   (o.alpha_path ? uint32_t{OPEN_ALPHA} : 0u);
  Movie* movie = MovieOpen(o.movie_path, flags);
  if (!movie) {
    std::fprintf(stderr, "vorntool decode: %s: %s\n", o.movie_path, MovieGetError());
    return 1;
  }
  if (o.alpha_path && !(movie->flags & OPEN_ALPHA)) {
    std::fprintf(stderr, "vorntool decode: %s has no alpha plane\n", o.movie_path);
    MovieClose(movie);
    return 1;
  }
  Y4mGeometry g{movie->decoded_width, movie->decoded_height, movie->plane_width,
                (movie->decoded_width + 1) / 2, (movie->decoded_height + 1) / 2,
                movie->plane_width / 2};
  OutputFile video, alpha, map;
  bool ok = video.Open(o.video_path) && (!o.alpha_path || alpha.Open(o.alpha_path)) &&
            (!o.map_path || map.Open(o.map_path));
  if (ok) {
    WriteY4mHeader(&video, g, movie);
    if (o.alpha_path) WriteY4mHeader(&alpha, g, movie);
  }
  bool grey = movie->flags & OPEN_GRAYSCALE;
  // The first chroma plane of the stream drives red (V), the second blue (U);
  // versions f and g store them the other way round.
  bool uv_swapped = movie->flags & OPEN_UV_ORDER;
  uint32_t first_frame = 1;
  if (ok && !DecodeSeekStart(movie, o, &first_frame)) ok = false;
  const uint32_t left = movie->frames - first_frame + 1;
  uint32_t count = o.has_frames && o.frames < left ? o.frames : left;
  size_t chroma_offset = size_t{movie->plane_width} * movie->plane_height;
  size_t chroma_size = size_t{movie->plane_width / 2} * (movie->plane_height / 2);
  for (uint32_t frame = 1; ok && frame <= count; frame++) {
    // A missing frame (read error) writes nothing; the steps go on so that
    // every missing frame is counted.
    if (MovieDoFrame(movie) != 0) {
      if (frame < count) MovieNextFrame(movie);
      continue;
    }
    uint32_t shown = movie->cur_buffer ^ 1;  // the engine flips after each decode
    const uint8_t* base = movie->yuv_buffers[shown];
    const uint8_t* first = base + chroma_offset;
    const uint8_t* second = first + chroma_size;
    const uint8_t* u = grey ? nullptr : (uv_swapped ? first : second);
    const uint8_t* v = grey ? nullptr : (uv_swapped ? second : first);
    WriteY4mFrame(&video, g, base, u, v);
    if (o.alpha_path) WriteY4mFrame(&alpha, g, movie->alpha_buffers[shown], nullptr, nullptr);
    if (o.map_path) map.Write(movie->block_map, movie->block_count);
    if (frame < count) MovieNextFrame(movie);
  }
  const int damaged = DecodeReportDamage(movie, o.movie_path);
  MovieClose(movie);
  if (video.file) ok = video.Close() && ok;
  if (alpha.file) ok = alpha.Close() && ok;
  if (map.file) ok = map.Close() && ok;
  return !ok ? kExitFailed : damaged;
}

const CommandSpec kDecodeCommand = {
    "decode",
    "FILE --video OUT.y4m [--frames N] [--alpha OUT.y4m] [--grey] [--map OUT]\n"
    "FILE --audio OUT.wav [--track ID] [--raw]\n"
    "FILE --pixels FMT -o OUT [--scale MODE] [--grey] [--frames N] [--png DIR]",
    "decode a movie's pictures to Y4M, its sound to WAV or its frames to raw pixels",
    CmdDecode, kDecodeOptions, Complete::kMovie, false,
    "Any one output may be '-', standard output: vorntool decode m.vxn --video - | ...\n"};

int DecodeReportDamage(Movie* movie, const char* movie_path) {
  MovieSummary summary;
  MovieGetSummary(movie, &summary);
  char line[96];
  DamageText(summary, line, sizeof line);
  if (!line[0]) return kExitOk;
  std::fprintf(stderr, "vorntool decode: %s: movie damaged: %s\n", movie_path, line);
  return kExitDamaged;
}

int CmdDecode(int argc, char** argv) {
  DecodeOptions options;
  if (int code = ParseArgs(argc, argv, &options)) return ParseExitCode(code);
  // A failed output outweighs a damaged movie: 1 before 3 before 0.
  int result = kExitOk;
  auto note = [&result](int code) {
    if (code == kExitFailed || (code == kExitDamaged && result == kExitOk)) result = code;
  };
  if (options.video_path) note(DecodeVideoToY4m(options));
  if (options.audio_path) note(DecodeAudio(options));
  if (options.pixels_format) note(DecodePixels(options));
  return result;
}
