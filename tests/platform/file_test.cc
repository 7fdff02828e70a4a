// Files by name and by handle: positioning, short reads, 64-bit offsets,
// share modes and the module path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scratch.h"

namespace {

using vorn_test::ScratchDir;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return bytes;
}

void WriteWhole(const std::string& name, const std::vector<uint8_t>& bytes) {
  PlatformFile out = FileOpenWrite(name.c_str());
  ASSERT_NE(out, kInvalidFile);
  ASSERT_EQ(FileWrite(out, bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
  FileClose(out);
}

TEST(PlatformFile, ReadsBackWhatWasWritten) {
  ScratchDir dir;
  std::string name = dir.File("movie.bin");
  std::vector<uint8_t> bytes = Pattern(100000);
  WriteWhole(name, bytes);

  PlatformFile in = FileOpenRead(name.c_str(), false);
  ASSERT_NE(in, kInvalidFile);
  EXPECT_EQ(FileSize(in), 100000);
  EXPECT_EQ(FileTell(in), 0);
  std::vector<uint8_t> back(bytes.size());
  EXPECT_EQ(FileRead(in, back.data(), static_cast<uint32_t>(back.size())), bytes.size());
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(FileTell(in), 100000);
  // At the end a read delivers nothing.
  uint8_t extra = 0;
  EXPECT_EQ(FileRead(in, &extra, 1), 0u);
  FileClose(in);
}

TEST(PlatformFile, SeeksByHandleAndReadsAtAnOffset) {
  ScratchDir dir;
  std::string name = dir.File("offset.bin");
  std::vector<uint8_t> bytes = Pattern(70000);
  WriteWhole(name, bytes);

  PlatformFile in = FileOpenRead(name.c_str(), true);
  ASSERT_NE(in, kInvalidFile);
  ASSERT_TRUE(FileSeek(in, 40000));
  EXPECT_EQ(FileTell(in), 40000);
  uint8_t chunk[1000];
  ASSERT_EQ(FileRead(in, chunk, sizeof chunk), sizeof chunk);
  EXPECT_EQ(std::memcmp(chunk, bytes.data() + 40000, sizeof chunk), 0);
  EXPECT_EQ(FileTell(in), 41000);

  // Backwards, then a read that runs past the end comes back short.
  ASSERT_TRUE(FileSeek(in, 69990));
  EXPECT_EQ(FileRead(in, chunk, sizeof chunk), 10u);
  EXPECT_EQ(std::memcmp(chunk, bytes.data() + 69990, 10), 0);
  ASSERT_TRUE(FileSeek(in, 5));
  ASSERT_EQ(FileRead(in, chunk, 3), 3u);
  EXPECT_EQ(std::memcmp(chunk, bytes.data() + 5, 3), 0);
  FileClose(in);
}

TEST(PlatformFile, HandlesPositionsBeyondFourGigabytes) {
  ScratchDir dir;
  std::string name = dir.File("sparse.bin");
  const uint64_t far = (uint64_t{1} << 32) + 12345;
  PlatformFile out = FileOpenWrite(name.c_str());
  ASSERT_NE(out, kInvalidFile);
  ASSERT_TRUE(FileSeek(out, far));
  EXPECT_EQ(FileTell(out), static_cast<int64_t>(far));
  const char tail[] = "VXNi";
  ASSERT_EQ(FileWrite(out, tail, 4), 4u);
  EXPECT_EQ(FileSize(out), static_cast<int64_t>(far + 4));
  FileClose(out);

  PlatformFile in = FileOpenRead(name.c_str(), false);
  ASSERT_NE(in, kInvalidFile);
  EXPECT_EQ(FileSize(in), static_cast<int64_t>(far + 4));
  ASSERT_TRUE(FileSeek(in, far));
  char back[4] = {};
  ASSERT_EQ(FileRead(in, back, 4), 4u);
  EXPECT_EQ(std::memcmp(back, tail, 4), 0);
  FileClose(in);
}

TEST(PlatformFile, RefusesWhatIsNotAFile) {
  ScratchDir dir;
  std::string missing = dir.File("missing.vxn");
  EXPECT_EQ(FileOpenRead(missing.c_str(), false), kInvalidFile);
  EXPECT_EQ(FileOpenRead(missing.c_str(), true), kInvalidFile);
  EXPECT_FALSE(FileExists(missing.c_str()));
  EXPECT_FALSE(FileExists(dir.Path().c_str()));
  EXPECT_FALSE(FileExists(nullptr));

  std::string present = dir.File("present.vxn");
  WriteWhole(present, Pattern(3));
  EXPECT_TRUE(FileExists(present.c_str()));

  // Operations on an invalid handle fail instead of touching anything.
  uint8_t byte = 0;
  EXPECT_EQ(FileRead(kInvalidFile, &byte, 1), 0u);
  EXPECT_EQ(FileWrite(kInvalidFile, &byte, 1), 0u);
  EXPECT_FALSE(FileSeek(kInvalidFile, 0));
  EXPECT_EQ(FileTell(kInvalidFile), -1);
  EXPECT_EQ(FileSize(kInvalidFile), -1);
  FileClose(kInvalidFile);
}

#ifdef _WIN32
TEST(PlatformFile, SecondAttemptSharesWriteAccess) {
  // A file another handle is writing opens only when we also share write
  // access: the reader's second attempt.
  ScratchDir dir;
  std::string name = dir.File("growing.vxn");
  PlatformFile writer = FileOpenWrite(name.c_str());
  ASSERT_NE(writer, kInvalidFile);
  EXPECT_EQ(FileOpenRead(name.c_str(), false), kInvalidFile);
  PlatformFile reader = FileOpenRead(name.c_str(), true);
  EXPECT_NE(reader, kInvalidFile);
  FileClose(reader);
  FileClose(writer);
}
#endif

TEST(PlatformFile, ModulePathNamesThisProgram) {
  char path[1024];
  uint32_t length = ModulePath(path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(path), length);
  EXPECT_NE(std::string(path).find("test_platform"), std::string::npos) << path;
  EXPECT_TRUE(FileExists(path));
  // Too small a buffer gives no cut path.
  char tiny[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(ModulePath(tiny, sizeof tiny), 0u);
  EXPECT_EQ(tiny[0], 0);
}

}  // namespace
