// Opening a named movie through the engine with the player's stored overrides.
#include "player/player_open.h"

#include "engine/movie.h"
#include "input/io_reader.h"
#include "player/player_system.h"
#include "player/update_check.h"

namespace {

constexpr uint32_t kModulePathSize = 1024;

// The process-wide engine options are consumed by the next open that uses
// them, so they are handed over again before every open.
void HandOverrides(const PlayerOptions* o) {
  if (o->rate_num != -1 && o->rate_den != -1) MovieSetFrameRate(o->rate_num, o->rate_den);
  if (o->track_id) {
    uint32_t id = static_cast<uint32_t>(o->track_id);
    MovieSetSoundTracks(1, &id);
  }
  if (o->read_speed) MovieSetReadSpeed(o->read_speed);
  if (o->io_buffer_size != -1) MovieSetIoBufferSize(o->io_buffer_size);
}

// Opens path positioned at offset; kInvalidFile when it cannot be opened.
PlatformFile OpenAt(const char* path, uint64_t offset) {
  PlatformFile file = FileOpenRead(path, false);
  if (file == kInvalidFile) return kInvalidFile;
  if (!FileSeek(file, offset)) {
    FileClose(file);
    return kInvalidFile;
  }
  return file;
}

}  // namespace

Movie* PlayerOpenMovie(const PlayerOptions* options, const MovieSource* source, PlatformFile* file) {
  *file = kInvalidFile;
  HandOverrides(options);
  if (source->form == NAME_FILE) return MovieOpen(source->path, options->open_flags);

  const char* path = source->path;
  char module[kModulePathSize];
  if (source->form == NAME_OWN_EXE) {
    uint32_t len = PlayerSystemHooks()->module_path(module, sizeof(module));
    module[len < sizeof(module) ? len : 0] = 0;
    path = module;
  }
  PlatformFile handle = path[0] ? OpenAt(path, source->offset) : kInvalidFile;
  if (handle == kInvalidFile) {
    MovieSetError(source->form == NAME_OWN_EXE ? "Error opening EXE file." : "Error opening file.");
    return nullptr;
  }
  Movie* movie = MovieOpen(IoHandleSource(handle),
                           options->open_flags | OPEN_FILE_HANDLE);
  if (!movie) {
    FileClose(handle);
    return nullptr;
  }
  *file = handle;
  return movie;
}

NamedOpenResult PlayerOpenNamed(const PlayerOptions* options, const char* name, Movie** movie,
                                PlatformFile* file, bool exact) {
  *movie = nullptr;
  *file = kInvalidFile;
  MovieSource source;
  char error[kCommandTextSize + 64];
  const bool read = exact ? MovieSourceFromPosixName(name, &source, error, sizeof(error))
                          : MovieSourceFromName(name, &source, error, sizeof(error));
  if (!read) {
    MovieSetError(error);
    return NAMED_FAILED;
  }
  if (source.form != NAME_OWN_EXE && CompanionToolPresent() && UpdateCheck())
    return NAMED_UPDATE_CHOSEN;
  *movie = PlayerOpenMovie(options, &source, file);
  return *movie ? NAMED_OPENED : NAMED_FAILED;
}

uint32_t PlayerMissingTrack(const PlayerOptions* options, const Movie* movie) {
  if (!options->track_id || !movie) return 0;
  const auto wanted = static_cast<uint32_t>(options->track_id);
  for (uint32_t t = 0; t < movie->track_count; t++)
    if (movie->track_ids[t] == wanted) return 0;
  return wanted;
}
