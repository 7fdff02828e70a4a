// The decoded output of stored movies, byte for byte, at every vector level:
// the seed movies of the movie fuzzer and the movies in tests/data, through
// `vorntool decode` as a user runs it (the Y4M pictures, the WAV sound, the
// raw PCM of every track, and every frame in each of the 15 pixel formats
// of the engine's copy). The expected SHA-256 values (first 16 hex digits,
// as sha256sum prints them for the same files) are in
// tests/data/decoded_hashes.txt, written by scripts/update-decoded-hashes.sh.
// Any change to a decoded byte shows here; it must be meant and explained.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/movie.h"
#include "platform/cpu.h"
#include "support/kernel_levels.h"
#include "support/sha256.h"
#include "support/test_folder.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"
#include "vorntool/decode.h"

namespace {

const char kTable[] = "tests/data/decoded_hashes.txt";
const char* const kMovieFolders[] = {"fuzz/corpus/fuzz_movie", "tests/data"};

std::string SourcePath(const std::string& relative) {
  return std::string(VORN_SOURCE_DIR) + "/" + relative;
}

// Output name -> "EXIT HASH" for one movie; HASH is "-" when nothing was written.
using Outputs = std::map<std::string, std::string>;
// Movie (relative to the source folder) -> its outputs.
using Table = std::map<std::string, Outputs>;

std::string HashFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }  // closed: Windows removes no open file
  std::remove(path.c_str());
  if (bytes.empty()) return "-";
  return Sha256Hex(bytes.data(), bytes.size()).substr(0, 16);
}

// Runs `vorntool decode MOVIE ARGS... OUT` and gives "EXIT HASH" of OUT.
std::string DecodeAndHash(const std::string& movie, std::vector<std::string> args) {
  const std::string out = TestPath("decoded.out");
  std::remove(out.c_str());  // a refused decode must not hash what the last one wrote
  args.insert(args.begin(), {"decode", movie});
  args.push_back(out);
  const int code = RunTool(CmdDecode, args).code;  // damaged seeds explain themselves
  return std::to_string(code) + " " + HashFile(out);
}

// The identifiers of the movie's sound tracks (none when it does not open).
std::vector<uint32_t> TrackIds(const std::string& movie) {
  std::vector<uint32_t> ids;
  Movie* m = MovieOpen(movie.c_str(), OPEN_NO_THREAD);
  if (!m) return ids;
  ids.assign(m->track_ids, m->track_ids + m->track_count);
  MovieClose(m);
  return ids;
}

Outputs DecodeAll(const std::string& relative) {
  const std::string movie = SourcePath(relative);
  Outputs outputs;
  outputs["video"] = DecodeAndHash(movie, {"--video"});
  outputs["audio"] = DecodeAndHash(movie, {"--audio"});
  for (uint32_t id : TrackIds(movie))
    outputs["track:" + std::to_string(id)] =
        DecodeAndHash(movie, {"--track", std::to_string(id), "--raw", "--audio"});
  std::istringstream formats(kPixelFormatWords);
  for (std::string format; formats >> format;)
    outputs["pixels:" + format] = DecodeAndHash(movie, {"--pixels", format, "-o"});
  return outputs;
}

std::vector<std::string> StoredMovies() {
  std::vector<std::string> movies;
  for (const char* folder : kMovieFolders)
    for (const auto& entry : std::filesystem::directory_iterator(SourcePath(folder)))
      if (entry.path().extension() == ".vxn")
        movies.push_back(std::string(folder) + "/" + entry.path().filename().string());
  std::sort(movies.begin(), movies.end());
  return movies;
}

// Lines "MOVIE OUTPUT EXIT HASH"; '#' starts a comment line.
Table ReadTable() {
  Table table;
  std::ifstream in(SourcePath(kTable));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string movie, output, code, hash;
    if (fields >> movie >> output >> code >> hash) table[movie][output] = code + " " + hash;
  }
  return table;
}

void WriteTable(const std::string& path, const Table& table) {
  std::ofstream out(path, std::ios::binary);
  out << "# Decoded output of the stored movies: MOVIE OUTPUT EXIT SHA-256/16\n"
         "# (- = nothing written). Written by scripts/update-decoded-hashes.sh; every\n"
         "# change to this file must be explained in its commit.\n";
  for (const auto& [movie, outputs] : table)
    for (const auto& [output, result] : outputs) out << movie << ' ' << output << ' ' << result << '\n';
}

// ---- The levels ------------------------------------------------------------------

// Sets the level for the test's lifetime, whatever VORN_CPU says (movies
// opened meanwhile set their kernels up for it).
class CpuLevel {
 public:
  explicit CpuLevel(uint32_t mask) : old_(CpuSetMask(mask)) {}
  ~CpuLevel() { CpuSetMask(old_); }

 private:
  uint32_t old_;
};

std::vector<std::string> TableMovies() {
  std::vector<std::string> movies;
  for (const auto& entry : ReadTable()) movies.push_back(entry.first);
  return movies;
}

// One test per level and stored movie, so that a failure names both.
class DecodedHashes : public testing::TestWithParam<std::tuple<KernelLevel, std::string>> {};

TEST_P(DecodedHashes, DecodeAsBefore) {
  const auto& [level, movie] = GetParam();
  const Outputs expected = ReadTable()[movie];
  CpuLevel capped(level.flags);
  const Outputs decoded = DecodeAll(movie);
  for (const auto& [output, result] : expected) {
    auto found = decoded.find(output);
    EXPECT_EQ(found == decoded.end() ? "(not made)" : found->second, result)
        << movie << ' ' << output << " at " << level.name;
  }
  EXPECT_EQ(decoded.size(), expected.size()) << movie << ": outputs not in the table";
}

std::string TestName(const testing::TestParamInfo<std::tuple<KernelLevel, std::string>>& info) {
  std::string movie = std::filesystem::path(std::get<1>(info.param)).stem().string();
  for (char& c : movie)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return std::string(std::get<0>(info.param).name) + "_" + movie;
}

INSTANTIATE_TEST_SUITE_P(Stored, DecodedHashes,
                         testing::Combine(testing::ValuesIn(KernelLevels()),
                                          testing::ValuesIn(TableMovies())),
                         TestName);

TEST(DecodedHashTable, ListsEveryStoredMovie) {
  const Table expected = ReadTable();
  for (const std::string& movie : StoredMovies())
    EXPECT_TRUE(expected.count(movie))
        << movie << " is not in " << kTable << ": run scripts/update-decoded-hashes.sh";
}

// With VORN_DECODED_HASHES_WRITE=PATH, writes the table from the plain C
// level (the other levels must then agree with it).
TEST(DecodedHashTable, WriteWhenAsked) {
  const char* path = std::getenv("VORN_DECODED_HASHES_WRITE");
  if (!path) GTEST_SKIP() << "set VORN_DECODED_HASHES_WRITE to write the table";
  CpuLevel level(0);
  Table table;
  for (const std::string& movie : StoredMovies()) table[movie] = DecodeAll(movie);
  WriteTable(path, table);
}

TEST(Sha256, KnownDigests) {
  const std::string abc = "abc";
  EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(nullptr, 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(two_blocks.data()), two_blocks.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
