// The window's title text and when it is set.
#include "player/window_title.h"

#include <cstdio>

#include "player/player_state.h"
#include "player/position_text.h"

void PlayerTitleText(const char* name, const char* position, bool paused, char* title,
                     uint32_t size) {
  if (!name[0])
    std::snprintf(title, size, "Vorn Video Player");
  else
    std::snprintf(title, size, "%s%s%s%s - Vorn Video Player", name, position[0] ? " " : "",
                  position, paused ? " (paused)" : "");
}

void PlayerUpdateTitle(PlayerState* player) {
  PlayerState& p = *player;
  if (!p.ops || !p.ops->set_title) return;
  if (p.logo_mode || !p.movie)
    p.title_position[0] = 0;
  else
    PlayerPositionText(p.movie, p.title_position, sizeof(p.title_position));
  char title[320];
  PlayerTitleText(p.title_name, p.title_position, p.user_paused != 0, title, sizeof(title));
  p.ops->set_title(player, title);
}
