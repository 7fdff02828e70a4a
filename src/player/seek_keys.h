// Moving around in the movie and its volume from the keyboard.
#pragma once

struct PlayerState;

// Keys without a character, in the front ends' own terms translated to these.
enum PlayerKey : int {
  PLAYER_KEY_LEFT = 0x101,  // back 5 s
  PLAYER_KEY_RIGHT,         // on 5 s
  PLAYER_KEY_DOWN,          // back 60 s
  PLAYER_KEY_UP,            // on 60 s
  PLAYER_KEY_HOME,          // the first frame
  PLAYER_KEY_PAGE_UP,       // the key frame before the one on screen
  PLAYER_KEY_PAGE_DOWN,     // the next key frame
};
// Moves in the movie (not while the logo shows) and shows the new frame at
// once, also while paused. Time jumps land exactly on the frame (clamped to
// the first and last), key-frame jumps on the key frame.
void PlayerOnKey(PlayerState* player, int key);
// The volume characters of PlayerOnChar; false for any other character.
bool PlayerOnVolumeChar(PlayerState* player, int key);
// Hands the current volume (or silence when muted) to the movie's tracks.
void PlayerApplyVolume(PlayerState* player);
