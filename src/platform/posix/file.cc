// Files by name and by descriptor on POSIX. Positions are 64-bit (off_t is
// 64 bits on every target we build natively); reads and writes loop over
// short transfers so a caller sees a short count only at end of file or on a
// real error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace {

int Descriptor(PlatformFile file) { return static_cast<int>(file); }

}  // namespace

PlatformFile FileOpenRead(const char* name, bool /*share_write*/) {
  // POSIX has no share modes: a second process may always write the file.
  if (!name) return kInvalidFile;
  int fd;
  do {
    fd = open(name, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kInvalidFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return kInvalidFile;
  }
  return fd;
}

PlatformFile FileOpenWrite(const char* name) {
  if (!name) return kInvalidFile;
  int fd;
  do {
    fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidFile : fd;
}

uint32_t FileRead(PlatformFile file, void* dest, uint32_t size) {
  if (file == kInvalidFile || !dest) return 0;
  auto* out = static_cast<unsigned char*>(dest);
  uint32_t done = 0;
  while (done < size) {
    ssize_t got = read(Descriptor(file), out + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

uint32_t FileWrite(PlatformFile file, const void* src, uint32_t size) {
  if (file == kInvalidFile || !src) return 0;
  const auto* in = static_cast<const unsigned char*>(src);
  uint32_t done = 0;
  while (done < size) {
    ssize_t put = write(Descriptor(file), in + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<uint32_t>(put);
  }
  return done;
}

bool FileSeek(PlatformFile file, uint64_t pos) {
  if (file == kInvalidFile || pos > static_cast<uint64_t>(INT64_MAX)) return false;
  return lseek(Descriptor(file), static_cast<off_t>(pos), SEEK_SET) >= 0;
}

int64_t FileTell(PlatformFile file) {
  if (file == kInvalidFile) return -1;
  off_t pos = lseek(Descriptor(file), 0, SEEK_CUR);
  return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t FileSize(PlatformFile file) {
  if (file == kInvalidFile) return -1;
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

void FileClose(PlatformFile file) {
  // Never retried on EINTR: on Linux the descriptor is gone either way.
  if (file != kInvalidFile) close(Descriptor(file));
}

bool FileExists(const char* name) {
  struct stat info;
  return name && stat(name, &info) == 0 && !S_ISDIR(info.st_mode);
}

bool StderrIsTerminal() { return isatty(2) == 1; }

uint32_t ModulePath(char* dest, uint32_t size) {
  if (!dest || size == 0) return 0;
  ssize_t length = readlink("/proc/self/exe", dest, size);
  // A path that fills the whole buffer may have been cut: report failure
  // rather than hand back a truncated name.
  if (length <= 0 || static_cast<uint64_t>(length) >= size) {
    dest[0] = 0;
    return 0;
  }
  dest[length] = 0;
  return static_cast<uint32_t>(length);
}

void StdioSetBinary() {}  // POSIX streams never translate bytes
