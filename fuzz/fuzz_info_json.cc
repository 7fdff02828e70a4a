// `vorntool info --json --frames --check` on any movie bytes: a movie the
// engine opens must give one valid JSON text, whatever its header values,
// damaged or not; a refused one a line that says why, and no report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "vorntool/commands.h"

namespace {

// Reads what a memory stream collected, then frees it.
std::string Collect(std::FILE* stream, char** buffer, size_t* size) {
  std::fclose(stream);
  std::string text(*buffer, *size);
  std::free(*buffer);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FuzzTempPath("info.vxn");
  if (!FuzzWriteFile(path, data, size)) return 0;
  char *out_buffer = nullptr, *err_buffer = nullptr;
  size_t out_size = 0, err_size = 0;
  std::FILE* out = open_memstream(&out_buffer, &out_size);
  std::FILE* err = open_memstream(&err_buffer, &err_size);
  const int code = InfoWrite(path.c_str(), true, true, true, out, err);
  const std::string report = Collect(out, &out_buffer, &out_size);
  const std::string refusal = Collect(err, &err_buffer, &err_size);
  const bool reported = code == kExitOk || code == kExitDamaged;
  if (reported && !JsonCheck::Valid(report)) {
    std::fprintf(stderr, "not JSON:\n%s\n", report.c_str());
    std::abort();
  }
  if (code == kExitDamaged && refusal.find("movie damaged") == std::string::npos) std::abort();
  if (code == kExitFailed && (refusal.size() < 2 || !report.empty())) std::abort();
  if (!reported && code != kExitFailed) std::abort();
  return 0;
}
