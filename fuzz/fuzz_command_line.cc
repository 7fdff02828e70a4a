// The player's command text: an embedded command line and the user's text
// composed, switches cancelled and read, names split and classified, the
// way the player starts; and the same user text as the Linux player's
// argument list (items split at tabs). Nothing is opened.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/command_line.h"
#include "player/names.h"
#include "player/player_options.h"
#include "player/posix_args.h"

namespace {

// The Linux player's start: each tab-separated item one argument.
void ReadAsArguments(const char* embedded, const char* user) {
  static std::vector<char> items;
  items.assign(user, user + std::strlen(user) + 1);
  std::vector<const char*> argv = {"vornplay"};
  argv.push_back(items.data());
  for (char& c : items)
    if (c == '\t') {
      c = '\0';
      argv.push_back(&c + 1);
    }
  static PosixArgs args;
  if (PosixArgsRead(static_cast<int>(argv.size()), argv.data(), &args) != POSIX_ARGS_PLAY) return;
  PlayerOptions options;
  PlayerOptionsInit(&options);
  static char names[kCommandTextSize];
  if (!PosixCommandRead(&args, embedded, &options, names)) return;
  static NameList list;
  static char name[kCommandTextSize];
  if (!NameListStartExact(&list, &options, names, name)) return;
  ExactListPrepend(list.text, name);  // as a movie dropped on the window
  char error[256];
  for (int n = 0; n < 64; n++) {
    MovieSource source;
    MovieSourceFromPosixName(name, &source, error, sizeof(error));
    if (!NameListAdvance(&list, &options, name)) break;
  }
}

}  // namespace

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
  ReadAsArguments(embedded, args);
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
