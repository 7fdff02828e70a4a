// Opening a movie from a name or a name's source through the engine, with
// the player's stored overrides.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "player/names.h"
#include "player/player_options.h"

struct Movie;

// Hands the stored overrides (frame rate, track, read speed, read-buffer
// size) to the engine and opens the source. For the offset forms the file
// handle, which the caller closes after MovieClose, is returned in *file;
// otherwise *file is kInvalidFile. Null on failure, the reason in
// MovieGetError().
Movie* PlayerOpenMovie(const PlayerOptions* options, const MovieSource* source, PlatformFile* file);

// The sound track /T asked for when the open movie has no track of that
// identifier (the movie then plays silently), else 0.
uint32_t PlayerMissingTrack(const PlayerOptions* options, const Movie* movie);

enum NamedOpenResult { NAMED_OPENED, NAMED_FAILED, NAMED_UPDATE_CHOSEN };
// The whole road from a name: its form, the update check for names outside
// the player's own executable, then PlayerOpenMovie.
// `exact` names are read by MovieSourceFromPosixName.
NamedOpenResult PlayerOpenNamed(const PlayerOptions* options, const char* name, Movie** movie,
                                PlatformFile* file, bool exact = false);
