// A player's state before its window exists.
#include "player/player_state.h"

void PlayerStateInit(PlayerState* player, PlayerOptions* options, const PlayerWindowOps* ops) {
  *player = PlayerState{};
  player->options = options;
  player->ops = ops;
  player->file_handle = kInvalidFile;
  player->no_black_fill = 1;
  player->volume_percent = 100;
}
