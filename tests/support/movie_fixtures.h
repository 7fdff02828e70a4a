// Small movies for tests: built with MovieWriterBuild, written to temporary
// files, and bent by hand for hostile cases.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "writer/movie_writer.h"

struct FixtureMovie {
  MovieWriterHeader header;
  std::vector<MovieWriterTrack> tracks;
  std::vector<MovieWriterFrame> frames;
};

// A movie of `frame_count` frames, `width` x `height`, whose video parts are
// `video_bytes` long and filled with a pattern that differs per frame (no
// meaningful picture: for container and reader tests). Frame 1 is a key
// frame; every `key_every`-th after it too (0 = only frame 1).
FixtureMovie FixtureBasic(uint32_t frame_count, uint32_t width = 64, uint32_t height = 48,
                          uint32_t video_bytes = 100, uint32_t key_every = 0);

// Adds a track to every frame: `payload_bytes` bytes of audio payload (a
// decoded-bytes word of `decoded_bytes`, then filler) per frame, none for
// frames where `every` does not divide the 0-based frame number.
void FixtureAddTrack(FixtureMovie* movie, uint32_t id, uint32_t format, uint32_t max_bytes,
                     uint32_t payload_bytes = 16, uint32_t decoded_bytes = 0, uint32_t every = 1);

std::vector<uint8_t> FixtureBuild(const FixtureMovie& movie);

// Header and index words of a built movie.
uint32_t FixtureWord(const std::vector<uint8_t>& bytes, size_t offset);
void FixtureSetWord(std::vector<uint8_t>* bytes, size_t offset, uint32_t value);
size_t FixtureIndexPos(const std::vector<uint8_t>& bytes);  // 44 + 12N
uint32_t FixtureIndexEntry(const std::vector<uint8_t>& bytes, uint32_t i);
void FixtureSetIndexEntry(std::vector<uint8_t>* bytes, uint32_t i, uint32_t value);

// A path in the running test's own folder (support/test_folder.h), and
// writing bytes there.
std::string FixtureTempPath(const std::string& name);
std::string FixtureWriteFile(const std::string& name, const std::vector<uint8_t>& bytes);

// A real movie from the encoder: `frame_count` frames of moving shapes,
// width x height, 30 per second, no sound. Every frame decodes whole, so a
// test can tell damage it made from damage in the fixture.
std::vector<uint8_t> FixtureEncoded(uint32_t frame_count, uint32_t width = 64,
                                    uint32_t height = 48);

// A real movie with two sound tracks of `seconds` of melody each: id 0 at
// 22050 Hz stereo (DCT), id 1 at 11025 Hz mono (RDFT). Its pictures are
// moving shapes, turning to noise from frame `cut_at` on (0 = never), so
// the encoder makes a scene cut there.
struct FixtureTwoTrackOptions {
  uint32_t frames = 12, width = 48, height = 32;
  uint32_t keyint = 4, rate_num = 30, cut_at = 0;
  char version = 'i';
  bool alpha = true, grey = false;
  double seconds = 1.0;
};
std::vector<uint8_t> FixtureTwoTrack(const FixtureTwoTrackOptions& options);
