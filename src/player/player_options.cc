// The options before any switch is read.
#include "player/player_options.h"

void PlayerOptionsInit(PlayerOptions* options) {
  *options = PlayerOptions{};
  options->plays_left = 1;
  options->list_plays_left = 1;
  options->rate_num = options->rate_den = -1;
  options->io_buffer_size = -1;
  options->x = options->y = WINDOW_POS_CENTRE;
}
