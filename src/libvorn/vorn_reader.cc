// The engine's reader over caller callbacks: every read goes straight to the
// callbacks (no read-ahead ring, no background thread), which suits sources
// that are already buffered, such as a media framework's upstream elements.
#include <cstring>

#include "input/io_reader.h"
#include "libvorn/vorn_handle.h"
#include "platform/platform.h"

namespace {

struct MemoryImage {
  const uint8_t* data;
  size_t size;
};

int64_t MemoryRead(void* user, uint64_t offset, void* dest, uint32_t size) {
  const auto* image = static_cast<MemoryImage*>(user);
  if (offset >= image->size) return 0;
  const size_t n = image->size - offset < size ? image->size - offset : size;
  std::memcpy(dest, image->data + offset, n);
  return static_cast<int64_t>(n);
}
int64_t MemorySize(void* user) { return static_cast<int64_t>(static_cast<MemoryImage*>(user)->size); }
void MemoryClose(void* user) { delete static_cast<MemoryImage*>(user); }

struct FileState {
  PlatformFile file;
  uint64_t pos;
};

int64_t FileStateRead(void* user, uint64_t offset, void* dest, uint32_t size) {
  auto* state = static_cast<FileState*>(user);
  if (offset != state->pos) {
    if (!FileSeek(state->file, offset)) return -1;
    state->pos = offset;
  }
  const uint32_t got = FileRead(state->file, dest, size);
  state->pos += got;
  return got;
}
int64_t FileStateSize(void* user) { return FileSize(static_cast<FileState*>(user)->file); }
void FileStateClose(void* user) {
  auto* state = static_cast<FileState*>(user);
  FileClose(state->file);
  delete state;
}

VornSource* SourceFor(const vorn_io& io, void* user) {
  auto* source = new VornSource;
  source->io = io;
  source->user = user;
  source->size = io.size ? io.size(user) : -1;
  return source;
}

// The reader record has no slot for a client pointer and is copied during
// the open, so the source rides in the file-handle field, which only the
// file reader's own operations interpret.
VornSource* Source(IoReader* io) { return reinterpret_cast<VornSource*>(io->file_handle); }

// Reads size bytes at offset, calling back until they are in or the source
// ends or fails. Returns the bytes read.
uint32_t ReadFully(VornSource* source, uint64_t offset, void* dest, uint32_t size) {
  auto* out = static_cast<uint8_t*>(dest);
  uint32_t got = 0;
  while (got < size) {
    const int64_t n = source->io.read(source->user, offset + got, out + got, size - got);
    if (n <= 0 || n > int64_t{size - got}) break;
    got += static_cast<uint32_t>(n);
  }
  return got;
}

uint64_t StartOf(IoReader* io, int64_t offset) {
  return offset == -1 ? io->logical_pos : static_cast<uint64_t>(offset);
}

uint32_t CallbackReadHeader(IoReader* io, int64_t offset, void* dest, uint32_t size) {
  if (offset < -1) return 0;
  const uint64_t start = StartOf(io, offset);
  const uint32_t got = ReadFully(Source(io), start, dest, size);
  io->logical_pos = static_cast<uint32_t>(start + got);
  return got;
}

uint32_t CallbackReadFrame(IoReader* io, uint32_t, int64_t offset, void* dest, uint32_t size) {
  if (io->read_error || offset < -1) {
    io->read_error = 1;
    return 0;
  }
  const uint64_t start = StartOf(io, offset);
  const uint32_t got = ReadFully(Source(io), start, dest, size);
  io->logical_pos = static_cast<uint32_t>(start + got);
  io->total_bytes_read += got;
  if (got < size) io->read_error = 1;
  return got;
}

// No ring: the engine then keeps only its frame-data buffer (and preloads
// nothing unless asked to).
uint32_t CallbackBufferSize(IoReader*, uint32_t) { return 0; }
void CallbackSetInfo(IoReader* io, void*, uint32_t, uint32_t total_size, uint32_t) {
  io->total_size = total_size;
}
int32_t CallbackIdle(IoReader*) { return 0; }
void CallbackClose(IoReader* io) { VornSourceClose(Source(io)); }

}  // namespace

int VornCallbackIoOpen(IoReader* io, const void* source, uint32_t) {
  IoReaderReset(io);
  io->file_handle = reinterpret_cast<PlatformFile>(source);
  io->handle_given = 1;
  io->read_header = CallbackReadHeader;
  io->read_frame = CallbackReadFrame;
  io->get_buffer_size = CallbackBufferSize;
  io->set_info = CallbackSetInfo;
  io->idle = CallbackIdle;
  io->close = CallbackClose;
  return source ? 1 : 0;
}

VornSource* VornFileSource(const char* path) {
  const PlatformFile file = FileOpenRead(path, true);
  if (file == kInvalidFile) return nullptr;
  vorn_io io = {FileStateRead, FileStateSize, FileStateClose};
  return SourceFor(io, new FileState{file, 0});
}

VornSource* VornMemorySource(const void* data, size_t size) {
  vorn_io io = {MemoryRead, MemorySize, MemoryClose};
  return SourceFor(io, new MemoryImage{static_cast<const uint8_t*>(data), size});
}

VornSource* VornCallbackSource(const vorn_io* io, void* user) { return SourceFor(*io, user); }

// The engine closes its reader when it preloads and again never: the
// source's own close runs once, whoever asks first.
void VornSourceClose(VornSource* source) {
  if (!source || source->closed) return;
  source->closed = true;
  if (source->io.close) source->io.close(source->user);
}
