#include "vorntool/encode/y4m.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vorntool/stdio_files.h"

namespace {

// Reads one text line (without the newline) of at most max_len bytes.
bool ReadLine(std::FILE* file, std::string* line, size_t max_len) {
  line->clear();
  for (;;) {
    int c = std::fgetc(file);
    if (c == EOF) return false;
    if (c == '\n') return true;
    if (line->size() >= max_len) return false;
    line->push_back(static_cast<char>(c));
  }
}

bool ParseUnsigned(const char* text, uint32_t* value, const char** end) {
  if (*text < '0' || *text > '9') return false;
  uint64_t v = 0;
  while (*text >= '0' && *text <= '9') {
    v = v * 10 + static_cast<uint64_t>(*text - '0');
    if (v > 0xFFFFFFFFu) return false;
    text++;
  }
  *value = static_cast<uint32_t>(v);
  *end = text;
  return true;
}

// "420jpeg", "422", "444p10", "mono16": the sampling, then the bit depth
// ("p" and the bits; mono tags put the bits straight after the name).
bool ParseChroma(const std::string& tag, Y4mReader* reader) {
  static const struct {
    const char* name;
    Y4mChroma chroma;
  } kLayouts[] = {{"420jpeg", Y4mChroma::k420}, {"420paldv", Y4mChroma::k420},
                  {"420mpeg2", Y4mChroma::k420}, {"420", Y4mChroma::k420},
                  {"422", Y4mChroma::k422},      {"444", Y4mChroma::k444},
                  {"mono", Y4mChroma::kMono}};
  for (const auto& layout : kLayouts) {
    const size_t length = std::strlen(layout.name);
    if (tag.compare(0, length, layout.name) != 0) continue;
    std::string depth = tag.substr(length);
    if (!depth.empty() && depth[0] == 'p' && layout.chroma != Y4mChroma::kMono) depth.erase(0, 1);
    else if (!depth.empty() && layout.chroma != Y4mChroma::kMono) return false;
    uint32_t bits = 8;
    const char* rest = nullptr;
    if (!depth.empty() && (!ParseUnsigned(depth.c_str(), &bits, &rest) || *rest)) return false;
    if (bits < 8 || bits > 16) return false;
    reader->chroma = layout.chroma;
    reader->bits = bits;
    return true;
  }
  return false;
}

void AddNotes(Y4mReader* reader) {
  const char interlace = reader->interlace;
  if (interlace == 't' || interlace == 'b' || interlace == 'm') {
    reader->notes.push_back(std::string("warning: the pictures are interlaced (") +
                            (interlace == 't'   ? "top field first"
                             : interlace == 'b' ? "bottom field first"
                                                : "mixed fields") +
                            "); the movie shows them as progressive pictures");
  }
  if (reader->bits > 8)
    reader->notes.push_back("note: " + std::to_string(reader->bits) +
                            "-bit samples rounded to 8 bits");
  if (reader->full_range)
    reader->notes.push_back(
        "note: full-range samples (XCOLORRANGE=FULL) scaled into the studio range 16-235 the "
        "movie format uses");
}

bool ParseHeader(const std::string& line, Y4mReader* reader, std::string* error) {
  if (line.compare(0, 10, "YUV4MPEG2 ") != 0 && line != "YUV4MPEG2") {
    *error = "not a YUV4MPEG2 stream";
    return false;
  }
  std::string chroma = "420";
  size_t pos = 9;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') pos++;
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    std::string token = line.substr(pos, end - pos);
    pos = end;
    if (token.empty()) continue;
    const char* rest = nullptr;
    switch (token[0]) {
      case 'W':
        if (!ParseUnsigned(token.c_str() + 1, &reader->width, &rest) || *rest) {
          *error = "bad width field '" + token + "'";
          return false;
        }
        break;
      case 'H':
        if (!ParseUnsigned(token.c_str() + 1, &reader->height, &rest) || *rest) {
          *error = "bad height field '" + token + "'";
          return false;
        }
        break;
      case 'F':
        if (!ParseUnsigned(token.c_str() + 1, &reader->rate_num, &rest) || *rest != ':' ||
            !ParseUnsigned(rest + 1, &reader->rate_den, &rest) || *rest ||
            reader->rate_num == 0 || reader->rate_den == 0) {
          *error = "bad frame-rate field '" + token + "'";
          return false;
        }
        break;
      case 'C':
        chroma = token.substr(1);
        break;
      case 'I':
        reader->interlace = token.size() > 1 ? token[1] : '?';
        break;
      case 'X':
        if (token == "XCOLORRANGE=FULL") reader->full_range = true;
        break;
      default:  // aspect, comments: not needed
        break;
    }
  }
  if (reader->width == 0 || reader->height == 0) {
    *error = "picture size missing or zero";
    return false;
  }
  if (reader->width > kY4mMaxWidth || reader->height > kY4mMaxHeight) {
    *error = "picture larger than " + std::to_string(kY4mMaxWidth) + "x" +
             std::to_string(kY4mMaxHeight);
    return false;
  }
  if (!ParseChroma(chroma, reader)) {
    *error = "unsupported chroma layout '" + chroma +
             "' (read: 420, 422, 444 or mono with 8 to 16 bits, such as 420p10 or mono16)";
    return false;
  }
  AddNotes(reader);
  return true;
}

// Chroma of src_w x src_h to the 4:2:0 plane of a width x height picture:
// the mean of each group of samples that lands on one 4:2:0 sample (2x2 for
// 4:4:4, 1x2 for 4:2:2; fewer at odd edges).
void Downsample(const uint8_t* src, uint32_t src_w, uint32_t src_h, uint32_t width,
                uint32_t height, uint8_t* dst) {
  const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
  const uint32_t fx = src_w > cw ? 2 : 1, fy = src_h > ch ? 2 : 1;
  for (uint32_t y = 0; y < ch; y++) {
    for (uint32_t x = 0; x < cw; x++) {
      uint32_t sum = 0, n = 0;
      for (uint32_t dy = 0; dy < fy; dy++) {
        for (uint32_t dx = 0; dx < fx; dx++) {
          uint32_t sx = fx * x + dx, sy = fy * y + dy;
          if (sx < src_w && sy < src_h) {
            sum += src[size_t{sy} * src_w + sx];
            n++;
          }
        }
      }
      dst[size_t{y} * cw + x] = static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
}

bool ReadExact(std::FILE* file, uint8_t* dest, size_t size) {
  return std::fread(dest, 1, size, file) == size;
}

// Reads one plane of count samples as 8-bit values: deeper samples (two
// bytes, little-endian) rounded, full-range values scaled into the studio
// range (luma 16-235, chroma 16-240 around 128).
bool ReadPlane(const Y4mReader& reader, bool chroma, size_t count, std::vector<uint8_t>* raw,
               uint8_t* out) {
  const uint32_t bits = reader.bits;
  if (bits == 8) {
    if (!ReadExact(reader.file, out, count)) return false;
  } else {
    raw->resize(count * 2);
    if (!ReadExact(reader.file, raw->data(), raw->size())) return false;
    const uint32_t shift = bits - 8, half = 1u << (shift - 1);
    for (size_t i = 0; i < count; i++) {
      const uint32_t value = (*raw)[2 * i] | ((*raw)[2 * i + 1] << 8);
      out[i] = static_cast<uint8_t>(std::min<uint32_t>(255, (value + half) >> shift));
    }
  }
  if (reader.full_range) {
    for (size_t i = 0; i < count; i++) {
      const int v = out[i];
      out[i] = static_cast<uint8_t>(chroma ? 128 + ((v - 128) * 224 + (v >= 128 ? 127 : -127)) / 255
                                           : 16 + (v * 219 + 127) / 255);
    }
  }
  return true;
}

}  // namespace

bool Y4mOpen(const char* path, Y4mReader* reader, std::string* error) {
  *reader = Y4mReader{};
  std::FILE* file = OpenInput(path);
  if (!file) {
    *error = std::string("cannot open '") + path + "'";
    return false;
  }
  return Y4mOpenStream(file, reader, error);
}

bool Y4mOpenStream(std::FILE* file, Y4mReader* reader, std::string* error) {
  *reader = Y4mReader{};
  std::string line;
  if (!ReadLine(file, &line, 4096)) {
    CloseInput(file);
    *error = "not a YUV4MPEG2 stream (no header line)";
    return false;
  }
  if (!ParseHeader(line, reader, error)) {
    CloseInput(file);
    return false;
  }
  reader->file = file;
  return true;
}

uint32_t Y4mFrameCount(Y4mReader* reader) {
  std::FILE* file = reader->file;
  long start = std::ftell(file);
  if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return 0;
  long end = std::ftell(file);
  std::string line;
  bool marked = std::fseek(file, start, SEEK_SET) == 0 && ReadLine(file, &line, 4096);
  if (std::fseek(file, start, SEEK_SET) != 0 || !marked || end <= start) return 0;
  uint64_t w = reader->width, h = reader->height;
  uint64_t chroma = 0;
  switch (reader->chroma) {
    case Y4mChroma::k420: chroma = 2 * ((w + 1) / 2) * ((h + 1) / 2); break;
    case Y4mChroma::k422: chroma = 2 * ((w + 1) / 2) * h; break;
    case Y4mChroma::k444: chroma = 2 * w * h; break;
    case Y4mChroma::kMono: break;
  }
  uint64_t sample_bytes = reader->bits > 8 ? 2 : 1;
  uint64_t frame = line.size() + 1 + (w * h + chroma) * sample_bytes;
  return static_cast<uint32_t>(std::min<uint64_t>((end - start) / frame, 0xFFFFFFFFu));
}

int Y4mReadPicture(Y4mReader* reader, VideoPicture* picture, std::string* error) {
  std::string line;
  int first = std::fgetc(reader->file);
  if (first == EOF) return 0;
  std::ungetc(first, reader->file);
  if (!ReadLine(reader->file, &line, 4096) || line.compare(0, 5, "FRAME") != 0) {
    *error = "frame " + std::to_string(reader->frames_read + 1) + ": missing FRAME marker";
    return -1;
  }
  const uint32_t w = reader->width, h = reader->height;
  const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  VideoPictureInit(picture, w, h, false);
  std::vector<uint8_t> raw;
  bool ok = ReadPlane(*reader, false, size_t{w} * h, &raw, picture->y.data());
  if (ok && reader->chroma == Y4mChroma::k420) {
    ok = ReadPlane(*reader, true, size_t{cw} * ch, &raw, picture->u.data()) &&
         ReadPlane(*reader, true, size_t{cw} * ch, &raw, picture->v.data());
  } else if (ok && reader->chroma != Y4mChroma::kMono) {
    const uint32_t sw = reader->chroma == Y4mChroma::k444 ? w : cw;
    std::vector<uint8_t> full(size_t{sw} * h);
    for (std::vector<uint8_t>* plane : {&picture->u, &picture->v}) {
      ok = ok && ReadPlane(*reader, true, full.size(), &raw, full.data());
      if (ok) Downsample(full.data(), sw, h, w, h, plane->data());
    }
  }
  if (!ok) {
    *error = "frame " + std::to_string(reader->frames_read + 1) + ": picture data cut short";
    return -1;
  }
  reader->frames_read++;
  return 1;
}

bool Y4mRewind(Y4mReader* reader, std::string* error) {
  std::FILE* file = reader->file;
  Y4mReader again;
  std::string line;
  if (!file || file == stdin || std::fseek(file, 0, SEEK_SET) != 0 || !ReadLine(file, &line, 4096)) {
    *error = "the pictures cannot be read a second time";
    return false;
  }
  if (!ParseHeader(line, &again, error)) return false;
  if (again.width != reader->width || again.height != reader->height) {
    *error = "the pictures changed size between two readings";
    return false;
  }
  again.file = file;
  again.full_range = reader->full_range;  // as the caller left it
  *reader = again;
  return true;
}

std::FILE* Y4mSpoolStandardInput() {
  std::FILE* in = OpenInput("-");
  std::FILE* spool = std::tmpfile();
  if (!spool) return nullptr;
  std::vector<uint8_t> chunk(1 << 20);
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    if (std::fwrite(chunk.data(), 1, got, spool) != got) {
      std::fclose(spool);
      return nullptr;
    }
  }
  if (std::ferror(in) || std::fflush(spool) != 0 || std::fseek(spool, 0, SEEK_SET) != 0) {
    std::fclose(spool);
    return nullptr;
  }
  return spool;
}

void Y4mClose(Y4mReader* reader) {
  CloseInput(reader->file);
  reader->file = nullptr;
}

bool Y4mCreate(const char* path, uint32_t width, uint32_t height, uint32_t rate_num,
               uint32_t rate_den, Y4mWriter* writer, std::string* error) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) {
    *error = std::string("cannot create '") + path + "'";
    return false;
  }
  Y4mCreateStream(file, width, height, rate_num, rate_den, writer);
  writer->owned = true;
  return true;
}

bool Y4mCreateStream(std::FILE* file, uint32_t width, uint32_t height, uint32_t rate_num,
                     uint32_t rate_den, Y4mWriter* writer) {
  writer->file = file;
  writer->owned = false;
  return std::fprintf(file, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n", width, height,
                      rate_num, rate_den) > 0;
}

bool Y4mWritePicture(Y4mWriter* writer, const VideoPicture& picture) {
  size_t luma = size_t{picture.width} * picture.height;
  size_t chroma = size_t{(picture.width + 1) / 2} * ((picture.height + 1) / 2);
  return std::fputs("FRAME\n", writer->file) >= 0 &&
         std::fwrite(picture.y.data(), 1, luma, writer->file) == luma &&
         std::fwrite(picture.u.data(), 1, chroma, writer->file) == chroma &&
         std::fwrite(picture.v.data(), 1, chroma, writer->file) == chroma;
}

void Y4mFinish(Y4mWriter* writer) {
  if (writer->file && writer->owned) std::fclose(writer->file);
  writer->file = nullptr;
}
