// The window's events in portable terms: each front end translates its own
// and calls these with the player the window belongs to.
#pragma once
#include <cstdint>

struct PlayerState;

// Characters (WM_CHAR on Windows): Space, Enter, '.', Esc as always; '+' and
// '0' louder, '-' and '9' softer by 10 %, 'm' mute and unmute.
void PlayerOnChar(PlayerState* player, int key);
void PlayerOnFocus(PlayerState* player, bool gained);
// Paint: returns whether the front end must fill the client area with black
// first; the display is blitted whole by the handler.
bool PlayerOnPaintBegin(PlayerState* player);
void PlayerOnPaintEnd(PlayerState* player);
// A click anywhere: on the closing logo it opens the maker's page.
void PlayerOnClick(PlayerState* player);
// A left click on the picture (Linux): pauses and resumes as Space does;
// on the closing logo it opens the maker's page like any click.
void PlayerOnPictureClick(PlayerState* player);
void PlayerOnPosChanging(PlayerState* player, int32_t* x, int32_t* y);
void PlayerOnPosChanged(PlayerState* player);
// A movie dropped on the window: it plays at once (the current movie makes
// way, as with the skip key), the rest of the list after it; when skipping
// is disabled it plays after the current one. False when it cannot be
// queued (the logo shows, or the list is full).
bool PlayerOnDropFile(PlayerState* player, const char* name);
// q: ends the movie and the closing logo at once (Esc pressed twice).
void PlayerOnQuitKey(PlayerState* player);
