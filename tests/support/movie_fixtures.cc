#include "support/movie_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/test_folder.h"

FixtureMovie FixtureBasic(uint32_t frame_count, uint32_t width, uint32_t height,
                          uint32_t video_bytes, uint32_t key_every) {
  FixtureMovie movie;
  movie.header.width = width;
  movie.header.height = height;
  for (uint32_t f = 0; f < frame_count; f++) {
    MovieWriterFrame frame;
    frame.key = f == 0 || (key_every && f % key_every == 0);
    frame.video.resize(video_bytes);
    for (uint32_t i = 0; i < video_bytes; i++) frame.video[i] = static_cast<uint8_t>(f * 31 + i);
    movie.frames.push_back(std::move(frame));
  }
  return movie;
}

void FixtureAddTrack(FixtureMovie* movie, uint32_t id, uint32_t format, uint32_t max_bytes,
                     uint32_t payload_bytes, uint32_t decoded_bytes, uint32_t every) {
  movie->tracks.push_back({max_bytes, format, id});
  const size_t t = movie->tracks.size() - 1;
  for (size_t f = 0; f < movie->frames.size(); f++) {
    MovieWriterFrame& frame = movie->frames[f];
    frame.audio.resize(t + 1);
    if (every == 0 || f % every != 0 || payload_bytes < 4) continue;
    std::vector<uint8_t>& payload = frame.audio[t];
    payload.assign(payload_bytes, static_cast<uint8_t>(0x40 + t));
    for (int i = 0; i < 4; i++) payload[i] = static_cast<uint8_t>(decoded_bytes >> (8 * i));
  }
}

std::vector<uint8_t> FixtureBuild(const FixtureMovie& movie) {
  return MovieWriterBuild(movie.header, movie.tracks, movie.frames);
}

uint32_t FixtureWord(const std::vector<uint8_t>& bytes, size_t offset) {
  return uint32_t{bytes.at(offset)} | uint32_t{bytes.at(offset + 1)} << 8 |
         uint32_t{bytes.at(offset + 2)} << 16 | uint32_t{bytes.at(offset + 3)} << 24;
}

void FixtureSetWord(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; i++) bytes->at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

size_t FixtureIndexPos(const std::vector<uint8_t>& bytes) { return 44 + 12 * size_t{FixtureWord(bytes, 40)}; }

uint32_t FixtureIndexEntry(const std::vector<uint8_t>& bytes, uint32_t i) {
  return FixtureWord(bytes, FixtureIndexPos(bytes) + 4 * size_t{i});
}

void FixtureSetIndexEntry(std::vector<uint8_t>* bytes, uint32_t i, uint32_t value) {
  FixtureSetWord(bytes, FixtureIndexPos(*bytes) + 4 * size_t{i}, value);
}

std::string FixtureTempPath(const std::string& name) { return TestPath(name); }

std::string FixtureWriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = FixtureTempPath(name);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    ADD_FAILURE() << "cannot write " << path;
    return path;
  }
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}
