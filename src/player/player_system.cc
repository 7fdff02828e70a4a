// The system table in use: the platform layer and the front end's system side.
#include "player/player_system.h"

#include "player/front/system_os.h"

namespace {

bool AskYesNo(const char* text, const char* caption) {
  return MessageBoxShow(text, caption, MESSAGE_QUESTION, PlayerSystemHooks()->window);
}

PlayerSystem g_system = {
    PlayerScreenSize, ProfileGetString, ProfileWriteString, LocalDateToday, AskYesNo,
    OpenUrl,          FileExists,       ModulePath,         SleepMs,        nullptr,
    nullptr,
};

}  // namespace

PlayerSystem* PlayerSystemHooks() { return &g_system; }
