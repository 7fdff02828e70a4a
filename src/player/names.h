// The list of movie names left in the command text once the switches are
// cut out, and what each name form opens.
#pragma once
#include <cstdint>

#include "player/player_options.h"

// White space: codes 1 to 32. Bytes 128-255 are name characters.
void TrimText(char* text);
// Takes the next name off the front of list into name (kCommandTextSize
// bytes); false when the list held no name. The rest moves to the front.
bool TakeNextName(char* list, char* name);
// True when the last path component of name carries an extension.
bool HasExtension(const char* name);

// The names to play, with the copy that restores the list when it loops.
// With `exact` (the POSIX player) every name is one argument of the
// process, taken byte for byte: the list holds the names one after the
// other, each ended by a NUL, and an empty name ends the list.
struct NameList {
  char text[kCommandTextSize];
  char saved[kCommandTextSize];
  bool exact;
};

// ---- Exact lists (POSIX) ----------------------------------------------------
// Appends a name (not empty) to an exact list; false when it does not fit.
bool ExactListAppend(char* list, const char* name);
// Puts a name in front of an exact list; false when it does not fit.
bool ExactListPrepend(char* list, const char* name);
// Bytes an exact list uses, its final empty name included.
uint32_t ExactListBytes(const char* list);
// Takes the first name off an exact list; false when it is empty.
bool ExactListTake(char* list, char* name);
// Starts an exact list: the names are copied from list_text (an exact list).
bool NameListStartExact(NameList* list, PlayerOptions* options, const char* list_text, char* name);

// Start-up: saves the list and takes the first name. With several names the
// loop count moves to the whole list (list_plays_left) and each file plays
// once per pass.
bool NameListStart(NameList* list, PlayerOptions* options, const char* names, char* name);
// After a movie: the next name, or the first again while the list still has
// passes left. False when the last pass is done.
bool NameListAdvance(NameList* list, PlayerOptions* options, char* name);

// ---- Name forms ------------------------------------------------------------
enum NameForm {
  NAME_OWN_EXE,      // ":offset": a movie appended to the player's executable
  NAME_FILE_OFFSET,  // "file|offset": a movie inside another file
  NAME_FILE,         // a movie file; ".vxn" is added when there is no extension
};

struct MovieSource {
  NameForm form;
  char path[kCommandTextSize + 8];  // file name (empty for NAME_OWN_EXE)
  uint64_t offset;                  // byte offset of the movie's first byte
};

// Reads what a name opens. False with a message when an offset is not a
// decimal number.
bool MovieSourceFromName(const char* name, MovieSource* source, char* error, uint32_t error_size);
// The same for a POSIX name, which is a path as it stands: a name that is an
// existing file opens that file, whatever it holds ('|', no extension);
// otherwise "file|offset" with an existing file, then ":offset", then
// the name with ".vxn" added when its last component has no extension.
bool MovieSourceFromPosixName(const char* name, MovieSource* source, char* error,
                              uint32_t error_size);
