#include "vorntool/encode/y4m.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

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
      default:  // interlacing, aspect, comments: not needed
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
  // 8-bit layouts only: "420p10", "444p16" and the like carry two bytes a sample.
  if (chroma == "420" || chroma == "420jpeg" || chroma == "420paldv" || chroma == "420mpeg2") {
    reader->chroma = Y4mChroma::k420;
  } else if (chroma == "444") {
    reader->chroma = Y4mChroma::k444;
  } else if (chroma == "mono") {
    reader->chroma = Y4mChroma::kMono;
  } else {
    *error = "unsupported chroma layout '" + chroma + "' (8-bit 420, 444 or mono)";
    return false;
  }
  return true;
}

// 4:4:4 to 4:2:0: the mean of each 2x2 square (fewer samples at odd edges).
void Downsample(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dst) {
  uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
  for (uint32_t y = 0; y < ch; y++) {
    for (uint32_t x = 0; x < cw; x++) {
      uint32_t sum = 0, n = 0;
      for (uint32_t dy = 0; dy < 2; dy++) {
        for (uint32_t dx = 0; dx < 2; dx++) {
          uint32_t sx = 2 * x + dx, sy = 2 * y + dy;
          if (sx < width && sy < height) {
            sum += src[sy * width + sx];
            n++;
          }
        }
      }
      dst[y * cw + x] = static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
}

bool ReadExact(std::FILE* file, uint8_t* dest, size_t size) {
  return std::fread(dest, 1, size, file) == size;
}

}  // namespace

bool Y4mOpen(const char* path, Y4mReader* reader, std::string* error) {
  *reader = Y4mReader{};
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    *error = std::string("cannot open '") + path + "'";
    return false;
  }
  std::string line;
  if (!ReadLine(file, &line, 4096)) {
    std::fclose(file);
    *error = "not a YUV4MPEG2 stream (no header line)";
    return false;
  }
  if (!ParseHeader(line, reader, error)) {
    std::fclose(file);
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
  uint64_t chroma = reader->chroma == Y4mChroma::k420   ? 2 * ((w + 1) / 2) * ((h + 1) / 2)
                    : reader->chroma == Y4mChroma::k444 ? 2 * w * h
                                                        : 0;
  uint64_t frame = line.size() + 1 + w * h + chroma;
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
  uint32_t w = reader->width, h = reader->height;
  uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  VideoPictureInit(picture, w, h, false);
  bool ok = ReadExact(reader->file, picture->y.data(), size_t{w} * h);
  if (ok && reader->chroma == Y4mChroma::k420) {
    ok = ReadExact(reader->file, picture->u.data(), size_t{cw} * ch) &&
         ReadExact(reader->file, picture->v.data(), size_t{cw} * ch);
  } else if (ok && reader->chroma == Y4mChroma::k444) {
    std::vector<uint8_t> full(size_t{w} * h);
    ok = ReadExact(reader->file, full.data(), full.size());
    if (ok) Downsample(full.data(), w, h, picture->u.data());
    ok = ok && ReadExact(reader->file, full.data(), full.size());
    if (ok) Downsample(full.data(), w, h, picture->v.data());
  }
  if (!ok) {
    *error = "frame " + std::to_string(reader->frames_read + 1) + ": picture data cut short";
    return -1;
  }
  reader->frames_read++;
  return 1;
}

void Y4mClose(Y4mReader* reader) {
  if (reader->file) std::fclose(reader->file);
  reader->file = nullptr;
}

bool Y4mCreate(const char* path, uint32_t width, uint32_t height, uint32_t rate_num,
               uint32_t rate_den, Y4mWriter* writer, std::string* error) {
  writer->file = std::fopen(path, "wb");
  if (!writer->file) {
    *error = std::string("cannot create '") + path + "'";
    return false;
  }
  std::fprintf(writer->file, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n", width, height,
               rate_num, rate_den);
  return true;
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
  if (writer->file) std::fclose(writer->file);
  writer->file = nullptr;
}
