// The player's command text: an embedded command line and the user's text
// composed, switches cancelled and read, names split and classified, the
// way the player starts. Nothing is opened.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/command_line.h"
#include "player/names.h"
#include "player/player_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first '\n' (if any) splits the input into embedded part and user text.
  std::vector<char> input(data, data + size);
  input.push_back('\0');
  char* args = std::strchr(input.data(), '\n');
  const char* embedded = "";
  if (args) {
    *args++ = '\0';
    embedded = input.data();
  } else {
    args = input.data();
  }
  static char text[kCommandTextSize];
  if (!CommandLineCompose(text, embedded, args)) return 0;

  PlayerOptions options{};
  char error[256];
  if (PlayerReadCommand(text, &options, error, sizeof(error)) != START_PLAY) return 0;

  static NameList list;
  static char name[kCommandTextSize];
  if (!NameListStart(&list, &options, text, name)) return 0;
  for (int n = 0; n < 64; n++) {
    MovieSource source;
    MovieSourceFromName(name, &source, error, sizeof(error));
    if (!NameListAdvance(&list, &options, name)) break;
  }
  return 0;
}
