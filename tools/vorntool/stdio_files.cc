#include "vorntool/stdio_files.h"

#include "platform/platform.h"

std::FILE* OpenInput(const char* path) {
  if (IsStdio(path)) {
    StdioSetBinary();
    return stdin;
  }
  return std::fopen(path, "rb");
}

std::FILE* OpenOutput(const char* path) {
  if (IsStdio(path)) {
    StdioSetBinary();
    return stdout;
  }
  return std::fopen(path, "wb");
}

void CloseInput(std::FILE* file) {
  if (file && file != stdin) std::fclose(file);
}

bool CloseOutput(std::FILE* file) {
  if (!file) return false;
  if (file == stdout) return std::fflush(file) == 0 && !std::ferror(file);
  const bool had_error = std::ferror(file) != 0;
  return std::fclose(file) == 0 && !had_error;
}

bool ReadWholeInput(const char* path, std::vector<uint8_t>* bytes) {
  std::FILE* file = OpenInput(path);
  if (!file) return false;
  bytes->clear();
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  const bool ok = !std::ferror(file);
  CloseInput(file);
  return ok;
}

bool WriteWholeOutput(const char* path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = OpenOutput(path);
  if (!file) return false;
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return CloseOutput(file) && written;
}
