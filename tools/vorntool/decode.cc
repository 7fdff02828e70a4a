// vorntool decode FILE --video OUT.y4m [--frames N] [--alpha OUT.y4m] [--grey]
// [--map OUT]: decodes the frames in order through the engine and writes
// them as YUV4MPEG2 4:2:0 (C420jpeg). Also dispatches --audio and --pixels
// to decode_audio.cc and decode_pixels.cc.
#include "vorntool/decode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/movie.h"
#include "vorntool/commands.h"

namespace {

void DecodeUsage() {
  std::fprintf(stderr,
               "usage: vorntool decode FILE --video OUT.y4m [--frames N] [--alpha OUT.y4m] [--grey] [--map OUT]\n"
               "       vorntool decode FILE --audio OUT.wav [--track ID] [--raw]\n"
               "       vorntool decode FILE --pixels FMT -o OUT [--scale MODE] [--grey] [--frames N] [--png DIR]\n");
}

bool ParseNumber(const char* text, uint32_t* value) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v > 0xFFFFFFFFul) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool ParseArgs(int argc, char** argv, DecodeOptions* o) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    bool has_value = i + 1 < argc;
    auto take = [&](const char** field) {
      if (!has_value) return false;
      *field = argv[++i];
      return true;
    };
    if (!std::strcmp(a, "--video")) {
      if (!take(&o->video_path)) return false;
    } else if (!std::strcmp(a, "--alpha")) {
      if (!take(&o->alpha_path)) return false;
    } else if (!std::strcmp(a, "--map")) {
      if (!take(&o->map_path)) return false;
    } else if (!std::strcmp(a, "--audio")) {
      if (!take(&o->audio_path)) return false;
    } else if (!std::strcmp(a, "--pixels")) {
      if (!take(&o->pixels_format)) return false;
    } else if (!std::strcmp(a, "-o")) {
      if (!take(&o->out_path)) return false;
    } else if (!std::strcmp(a, "--scale")) {
      if (!take(&o->scale)) return false;
    } else if (!std::strcmp(a, "--png")) {
      if (!take(&o->png_dir)) return false;
    } else if (!std::strcmp(a, "--track")) {
      if (!has_value || !ParseNumber(argv[++i], &o->track_id)) return false;
      o->has_track = true;
    } else if (!std::strcmp(a, "--frames")) {
      if (!has_value || !ParseNumber(argv[++i], &o->frames)) return false;
      o->has_frames = true;
    } else if (!std::strcmp(a, "--raw")) {
      o->raw = true;
    } else if (!std::strcmp(a, "--grey")) {
      o->grey = true;
    } else if (a[0] == '-' || o->movie_path) {
      return false;
    } else {
      o->movie_path = a;
    }
  }
  return o->movie_path && (o->video_path || o->audio_path || o->pixels_format) &&
         (!o->alpha_path || o->video_path) && (!o->map_path || o->video_path);
}

struct OutputFile {
  std::FILE* file = nullptr;
  const char* path = nullptr;
  bool failed = false;
  ~OutputFile() {
    if (file) std::fclose(file);
  }
  bool Open(const char* name) {
    path = name;
    file = std::fopen(name, "wb");
    if (!file) std::fprintf(stderr, "vorntool decode: cannot write %s\n", name);
    return file != nullptr;
  }
  void Write(const void* data, size_t size) {
    if (!failed && size && std::fwrite(data, 1, size, file) != size) failed = true;
  }
  bool Close() {
    bool ok = !failed && std::fclose(file) == 0;
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
  uint32_t count = o.has_frames && o.frames < movie->frames ? o.frames : movie->frames;
  size_t chroma_offset = size_t{movie->plane_width} * movie->plane_height;
  size_t chroma_size = size_t{movie->plane_width / 2} * (movie->plane_height / 2);
  for (uint32_t frame = 1; ok && frame <= count; frame++) {
    if (MovieDoFrame(movie) != 0) {
      std::fprintf(stderr, "vorntool decode: %s: read error at frame %u\n", o.movie_path, frame);
      ok = false;
      break;
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
  MovieClose(movie);
  if (video.file) ok = video.Close() && ok;
  if (alpha.file) ok = alpha.Close() && ok;
  if (map.file) ok = map.Close() && ok;
  return ok ? 0 : 1;
}

int CmdDecode(int argc, char** argv) {
  DecodeOptions options;
  if (!ParseArgs(argc, argv, &options)) {
    DecodeUsage();
    return 1;
  }
  int result = 0;
  if (options.video_path && DecodeVideoToY4m(options)) result = 1;
  if (options.audio_path && DecodeAudio(options)) result = 1;
  if (options.pixels_format && DecodePixels(options)) result = 1;
  return result;
}
