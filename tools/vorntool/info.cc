// vorntool info: what a movie's header, track tables and frame index say, as
// stable "key: value" lines or as JSON. The movie is opened by the engine, so
// a movie the player would refuse is refused here with the same text.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_header.h"
#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/summary_text.h"
#include "sound/sound_silent.h"
#include "vorntool/commands.h"

namespace {

struct InfoArgs {
  const char* file = nullptr;
  bool frames = false;
  bool json = false;
  bool check = false;
};

// What decoding the whole movie found.
struct CheckResult {
  uint32_t damaged_frames = 0, first_damaged_frame = 0;
  char text[96] = {};  // the summary's damage line
};

struct FrameInfo {
  uint32_t number, offset, size;
  bool key;
  bool readable;                // false after a short read (truncated file)
  std::vector<uint32_t> audio;  // packet_size per file track
};

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

enum InfoOption { kOptFrames, kOptJson, kOptCheck };
constexpr OptionSpec kInfoOptions[] = {
    {kOptFrames, "--frames", nullptr, "also list each frame: offset, size, key flag, audio bytes per track"},
    {kOptJson, "--json", nullptr, "print JSON instead of \"key: value\" lines"},
    {kOptCheck, "--check", nullptr, "decode the whole movie; report its damaged or missing frames"},
};

int ParseArgs(int argc, char** argv, InfoArgs* args) {
  ParsedCommand parsed;
  if (int code = ParseCommand(kInfoCommand, argc, argv, &parsed)) return code;
  for (const ParsedOption& option : parsed.options) {
    if (option.spec->id == kOptFrames) args->frames = true;
    if (option.spec->id == kOptJson) args->json = true;
    if (option.spec->id == kOptCheck) args->check = true;
  }
  if (parsed.operands.size() != 1)
    return UsageError(kInfoCommand, "%s", parsed.operands.empty() ? "no movie named" : "one movie at a time");
  args->file = parsed.operands[0];
  return kExitOk;
}

// The version letter is not kept by the engine (only its consequences).
char ReadVersion(const char* file) {
  uint8_t head[4] = {};
  PlatformFile f = FileOpenRead(file, true);
  if (f == kInvalidFile) return '?';
  const uint32_t got = FileRead(f, head, 4);
  FileClose(f);
  return got == 4 ? static_cast<char>(head[3]) : '?';
}

std::string VideoFlagWords(uint32_t flags) {
  std::string words;
  auto add = [&](const std::string& w) { words += (words.empty() ? "" : " ") + w; };
  if (flags & VIDEO_FLAG_GREY) add("grey");
  if (flags & VIDEO_FLAG_ALPHA) add("alpha");
  if (const uint32_t mode = (flags & VIDEO_FLAG_SCALE_MASK) >> OPEN_SCALE_SHIFT)
    add("scale-" + std::to_string(mode));
  const uint32_t others = flags & ~(VIDEO_FLAG_GREY | VIDEO_FLAG_ALPHA | VIDEO_FLAG_SCALE_MASK);
  if (others) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08" PRIx32, others);
    add(std::string("other-") + hex);
  }
  return words.empty() ? "none" : words;
}

const char* Variant(uint32_t format) {
  if (format & AUDIO_TRACK_RDFT) return "rdft";
  if (format & AUDIO_TRACK_DCT) return "dct";
  return "none";
}

// Loads every frame through the engine and reads its audio packet sizes.
std::vector<FrameInfo> CollectFrames(Movie* movie) {
  std::vector<FrameInfo> frames;
  for (uint32_t k = 1; k <= movie->frames; k++) {
    FrameInfo f{k, MovieFrameOffset(movie, k), MovieFrameSize(movie, k),
                (movie->frame_index[k - 1] & 1) != 0, false, {}};
    MovieLoadFrame(movie, k);
    f.readable = !movie->io.read_error && !movie->read_error;
    uint32_t pos = 0;
    for (uint32_t t = 0; f.readable && t < movie->track_count; t++) {
      if (f.size - pos < 4) {
        f.audio.push_back(0);
        continue;
      }
      const uint32_t packet = Le32(movie->frame_data + pos);
      f.audio.push_back(packet);
      pos += 4 + std::min(packet, f.size - pos - 4);
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

uint32_t KeyFrames(const Movie* movie) {
  uint32_t keys = 0;
  for (uint32_t i = 0; i < movie->frames; i++) keys += movie->frame_index[i] & 1;
  return keys;
}

uint64_t AverageRate(const Movie* movie) {
  const uint64_t bytes = MovieFrameOffset(movie, movie->frames) + MovieFrameSize(movie, movie->frames) -
                         MovieFrameOffset(movie, 1);
  return bytes * movie->file_rate_num / (uint64_t{movie->frames} * movie->file_rate_den);
}

// The data rate in kbit/s: the average over all frame packets and the
// largest stretch of one second (the frame rate rounded), as `encode
// --stats` reports them.
struct Kbps {
  double average = 0, peak_second = 0;
};
Kbps RatesKbps(const Movie* movie) {
  Kbps r;
  if (movie->frames == 0 || movie->file_rate_num == 0 || movie->file_rate_den == 0) return r;
  const double fps = static_cast<double>(movie->file_rate_num) / movie->file_rate_den;
  const uint32_t window = std::min<uint32_t>(movie->frames, static_cast<uint32_t>(std::max(1.0, std::round(fps))));
  const uint64_t all = MovieFrameOffset(movie, movie->frames) + MovieFrameSize(movie, movie->frames) -
                      MovieFrameOffset(movie, 1);
  r.average = static_cast<double>(all) * 8 * fps / movie->frames / 1000;
  uint64_t peak = 0;
  for (uint32_t first = 1; first + window <= movie->frames + 1; first++) {
    const uint64_t bytes = MovieFrameOffset(movie, first + window - 1) +
                           MovieFrameSize(movie, first + window - 1) - MovieFrameOffset(movie, first);
    peak = std::max(peak, bytes);
  }
  r.peak_second = static_cast<double>(peak) * 8 * fps / window / 1000;
  return r;
}

void PrintText(std::FILE* out, const Movie* movie, char version, const std::vector<FrameInfo>* frames,
               const CheckResult* check) {
  std::fprintf(out, "version: %c\n", version);
  std::fprintf(out, "width: %" PRIu32 "\n", movie->decoded_width);
  std::fprintf(out, "height: %" PRIu32 "\n", movie->decoded_height);
  std::fprintf(out, "frames: %" PRIu32 "\n", movie->frames);
  std::fprintf(out, "index_frames: %" PRIu32 "\n", movie->index_frames);
  std::fprintf(out, "rate: %" PRIu32 "/%" PRIu32 "\n", movie->file_rate_num, movie->file_rate_den);
  std::fprintf(out, "video_flags: 0x%08" PRIx32 "\n", movie->video_flags);
  std::fprintf(out, "video_flag_words: %s\n", VideoFlagWords(movie->video_flags).c_str());
  std::fprintf(out, "alpha: %s\n", movie->video_flags & VIDEO_FLAG_ALPHA ? "yes" : "no");
  std::fprintf(out, "largest_frame: %" PRIu32 "\n", movie->largest_frame);
  std::fprintf(out, "movie_bytes: %" PRIu64 "\n", uint64_t{movie->size_less_8} + 8);
  std::fprintf(out, "tracks: %" PRIu32 "\n", movie->track_count);
  for (uint32_t t = 0; t < movie->track_count; t++) {
    const uint32_t format = movie->track_formats[t];
    std::fprintf(out, "track.%" PRIu32 ".id: %" PRIu32 "\n", t, movie->track_ids[t]);
    std::fprintf(out, "track.%" PRIu32 ".rate: %" PRIu32 "\n", t, format & AUDIO_TRACK_RATE_MASK);
    std::fprintf(out, "track.%" PRIu32 ".channels: %d\n", t, format & AUDIO_TRACK_STEREO ? 2 : 1);
    std::fprintf(out, "track.%" PRIu32 ".bits: %d\n", t, format & AUDIO_TRACK_16BIT ? 16 : 8);
    std::fprintf(out, "track.%" PRIu32 ".variant: %s\n", t, Variant(format));
    std::fprintf(out, "track.%" PRIu32 ".max_bytes: %" PRIu32 "\n", t, movie->track_max_bytes[t]);
  }
  std::fprintf(out, "key_frames: %" PRIu32 "\n", KeyFrames(movie));
  std::fprintf(out, "peak_rate: %" PRIu32 "\n", movie->peak_rate);
  std::fprintf(out, "peak_first_frame: %" PRIu32 "\n", movie->peak_frame + 1);
  std::fprintf(out, "average_rate: %" PRIu64 "\n", AverageRate(movie));
  const Kbps kbps = RatesKbps(movie);
  std::fprintf(out, "average_kbps: %.1f\n", kbps.average);
  std::fprintf(out, "peak_second_kbps: %.1f\n", kbps.peak_second);
  if (check) {
    std::fprintf(out, "damaged_frames: %" PRIu32 "\n", check->damaged_frames);
    std::fprintf(out, "first_damaged_frame: %" PRIu32 "\n", check->first_damaged_frame);
  }
  if (!frames) return;
  for (const FrameInfo& f : *frames) {
    std::fprintf(out, "frame.%" PRIu32 ": offset=%" PRIu32 " size=%" PRIu32 " key=%d audio=", f.number,
                f.offset, f.size, f.key ? 1 : 0);
    if (!f.readable) std::fprintf(out, "unreadable");
    for (size_t t = 0; t < f.audio.size(); t++)
      std::fprintf(out, "%s%" PRIu32, t ? "," : "", f.audio[t]);
    std::fprintf(out, "\n");
  }
}

void PrintJson(std::FILE* out, const Movie* movie, char version, const std::vector<FrameInfo>* frames,
               const CheckResult* check) {
  std::fprintf(out, "{\n  \"version\": \"%c\",\n", version);
  std::fprintf(out, "  \"width\": %" PRIu32 ",\n  \"height\": %" PRIu32 ",\n", movie->decoded_width,
              movie->decoded_height);
  std::fprintf(out, "  \"frames\": %" PRIu32 ",\n  \"index_frames\": %" PRIu32 ",\n", movie->frames,
              movie->index_frames);
  std::fprintf(out, "  \"rate_num\": %" PRIu32 ",\n  \"rate_den\": %" PRIu32 ",\n", movie->file_rate_num,
              movie->file_rate_den);
  std::fprintf(out, "  \"video_flags\": %" PRIu32 ",\n", movie->video_flags);
  std::fprintf(out, "  \"video_flag_words\": \"%s\",\n", VideoFlagWords(movie->video_flags).c_str());
  std::fprintf(out, "  \"alpha\": %s,\n", movie->video_flags & VIDEO_FLAG_ALPHA ? "true" : "false");
  std::fprintf(out, "  \"largest_frame\": %" PRIu32 ",\n", movie->largest_frame);
  std::fprintf(out, "  \"movie_bytes\": %" PRIu64 ",\n", uint64_t{movie->size_less_8} + 8);
  std::fprintf(out, "  \"tracks\": [");
  for (uint32_t t = 0; t < movie->track_count; t++) {
    const uint32_t format = movie->track_formats[t];
    std::fprintf(out, "%s\n    {\"id\": %" PRIu32 ", \"rate\": %" PRIu32
                ", \"channels\": %d, \"bits\": %d, \"variant\": \"%s\", \"max_bytes\": %" PRIu32 "}",
                t ? "," : "", movie->track_ids[t], format & AUDIO_TRACK_RATE_MASK,
                format & AUDIO_TRACK_STEREO ? 2 : 1, format & AUDIO_TRACK_16BIT ? 16 : 8,
                Variant(format), movie->track_max_bytes[t]);
  }
  std::fprintf(out, "%s],\n", movie->track_count ? "\n  " : "");
  std::fprintf(out, "  \"key_frames\": %" PRIu32 ",\n", KeyFrames(movie));
  std::fprintf(out, "  \"peak_rate\": %" PRIu32 ",\n  \"peak_first_frame\": %" PRIu32 ",\n", movie->peak_rate,
              movie->peak_frame + 1);
  const Kbps kbps = RatesKbps(movie);
  std::fprintf(out, "  \"average_rate\": %" PRIu64 ",\n", AverageRate(movie));
  std::fprintf(out, "  \"average_kbps\": %.1f,\n  \"peak_second_kbps\": %.1f%s\n", kbps.average,
               kbps.peak_second, frames || check ? "," : "");
  if (check) {
    std::fprintf(out, "  \"damaged_frames\": %" PRIu32 ",\n  \"first_damaged_frame\": %" PRIu32 "%s\n",
                 check->damaged_frames, check->first_damaged_frame, frames ? "," : "");
  }
  if (frames) {
    std::fprintf(out, "  \"frame_list\": [");
    for (size_t i = 0; i < frames->size(); i++) {
      const FrameInfo& f = (*frames)[i];
      std::fprintf(out, "%s\n    {\"number\": %" PRIu32 ", \"offset\": %" PRIu32 ", \"size\": %" PRIu32
                  ", \"key\": %s, \"audio\": ",
                  i ? "," : "", f.number, f.offset, f.size, f.key ? "true" : "false");
      if (!f.readable) {
        std::fprintf(out, "null}");
        continue;
      }
      std::fprintf(out, "[");
      for (size_t t = 0; t < f.audio.size(); t++)
        std::fprintf(out, "%s%" PRIu32, t ? ", " : "", f.audio[t]);
      std::fprintf(out, "]}");
    }
    std::fprintf(out, "\n  ]\n");
  }
  std::fprintf(out, "}\n");
}

// Decodes every frame (video, alpha and the first track's sound, into a
// silent driver) and counts what could not be shown as stored. False when
// the movie cannot be opened.
bool CheckMovie(const char* file, CheckResult* result) {
  SoundDriverSelect(SoundSilentDriver, 0);
  MovieSetFrameRate(0, 1);
  Movie* movie = MovieOpen(file, OPEN_NO_THREAD | OPEN_ALPHA | OPEN_NO_SKIP | OPEN_FRAME_RATE);
  if (!movie) return false;
  for (uint32_t f = 1; f <= movie->frames; f++) {
    MovieDoFrame(movie);
    if (f < movie->frames) MovieNextFrame(movie);
  }
  MovieSummary summary;
  MovieGetSummary(movie, &summary);
  MovieClose(movie);
  result->damaged_frames = summary.damaged_frames;
  result->first_damaged_frame = summary.first_damaged_frame;
  DamageText(summary, result->text, sizeof result->text);
  return true;
}

}  // namespace

const CommandSpec kInfoCommand = {
    "info", "FILE [--frames] [--json] [--check]", "header, tracks and index of a movie", CmdInfo,
    kInfoOptions, Complete::kMovie,
    false,
    "  With --check the exit status is 0 for a clean movie, 3 for a damaged one.\n"};

int InfoWrite(const char* file, bool frame_list, bool json, bool check, std::FILE* out,
              std::FILE* err) {
  CheckResult checked;
  if (check && !CheckMovie(file, &checked)) {
    std::fprintf(err, "vorntool info: %s: %s\n", file, MovieGetError());
    return kExitFailed;
  }
  // Without a ring nothing is read ahead; frames come straight from the file.
  MovieSetIoBufferSize(0);
  Movie* movie = MovieOpen(file, OPEN_NO_THREAD | OPEN_NO_FILL | OPEN_IO_SIZE);
  if (!movie) {
    std::fprintf(err, "vorntool info: %s: %s\n", file, MovieGetError());
    return kExitFailed;
  }
  const char version = ReadVersion(file);
  std::vector<FrameInfo> frames;
  if (frame_list) frames = CollectFrames(movie);
  const CheckResult* report_check = check ? &checked : nullptr;
  if (json)
    PrintJson(out, movie, version, frame_list ? &frames : nullptr, report_check);
  else
    PrintText(out, movie, version, frame_list ? &frames : nullptr, report_check);
  MovieClose(movie);
  if (check && checked.damaged_frames) {
    std::fprintf(err, "vorntool info: %s: movie damaged: %s\n", file, checked.text);
    return kExitDamaged;
  }
  return kExitOk;
}

int CmdInfo(int argc, char** argv) {
  InfoArgs args;
  if (int code = ParseArgs(argc, argv, &args)) return ParseExitCode(code);
  return InfoWrite(args.file, args.frames, args.json, args.check, stdout, stderr);
}
