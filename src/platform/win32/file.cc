// Files by name and by handle on Windows. A PlatformFile holds the HANDLE;
// INVALID_HANDLE_VALUE is -1, the same as kInvalidFile. Positions are 64-bit
// through SetFilePointerEx. Reads and writes loop over short transfers and
// never pass more than a DWORD.
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/win.h"

namespace {

HANDLE Handle(PlatformFile file) { return reinterpret_cast<HANDLE>(file); }

PlatformFile FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<PlatformFile>(handle);
}

}  // namespace

PlatformFile FileOpenRead(const char* name, bool share_write) {
  if (!name) return kInvalidFile;
  DWORD share = FILE_SHARE_READ | (share_write ? FILE_SHARE_WRITE : 0);
  return FromHandle(CreateFileA(name, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

PlatformFile FileOpenWrite(const char* name) {
  if (!name) return kInvalidFile;
  return FromHandle(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

uint32_t FileRead(PlatformFile file, void* dest, uint32_t size) {
  if (file == kInvalidFile || !dest) return 0;
  auto* out = static_cast<unsigned char*>(dest);
  uint32_t done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(Handle(file), out + done, size - done, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

uint32_t FileWrite(PlatformFile file, const void* src, uint32_t size) {
  if (file == kInvalidFile || !src) return 0;
  const auto* in = static_cast<const unsigned char*>(src);
  uint32_t done = 0;
  while (done < size) {
    DWORD put = 0;
    if (!WriteFile(Handle(file), in + done, size - done, &put, nullptr) || put == 0) break;
    done += put;
  }
  return done;
}

bool FileSeek(PlatformFile file, uint64_t pos) {
  if (file == kInvalidFile || pos > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(Handle(file), to, nullptr, FILE_BEGIN) != 0;
}

int64_t FileTell(PlatformFile file) {
  if (file == kInvalidFile) return -1;
  LARGE_INTEGER zero, now;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(Handle(file), zero, &now, FILE_CURRENT)) return -1;
  return now.QuadPart;
}

int64_t FileSize(PlatformFile file) {
  if (file == kInvalidFile) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Handle(file), &size)) return -1;
  return size.QuadPart;
}

void FileClose(PlatformFile file) {
  if (file != kInvalidFile) CloseHandle(Handle(file));
}

bool FileExists(const char* name) {
  if (!name) return false;
  DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool StderrIsTerminal() {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  // A console answers GetConsoleMode; files and pipes do not.
  return err && err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode);
}

uint32_t ModulePath(char* dest, uint32_t size) {
  if (!dest || size == 0) return 0;
  DWORD length = GetModuleFileNameA(nullptr, dest, size);
  // A name that fills the buffer was cut (and, on older systems, is not
  // even terminated): report failure instead.
  if (length == 0 || length >= size) {
    dest[0] = 0;
    return 0;
  }
  return length;
}

void StdioSetBinary() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}
