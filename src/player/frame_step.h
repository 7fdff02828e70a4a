// One frame on screen and the closing logo (the main loop and the seek keys
// step frames; tests drive them too).
#pragma once

struct PlayerState;

// Decodes and shows the frame that is due, draws the strip and moves the
// title on; the last frame of the last play asks the loop to advance.
void PlayerFrameStep(PlayerState* player);
// Closes the movie and shows the closing logo, centred, for 2.25 s.
void ShowLogo(PlayerState* player);
// Takes the summary of the current movie and of the display it is shown with.
void PlayerTakeSummary(PlayerState* player);
// A movie with damaged or missing frames plays on as far as it can; on
// closing it the front end gets one line saying so (the summary, when
// asked for, carries the same figures).
void PlayerWarnIfDamaged(PlayerState* player);
