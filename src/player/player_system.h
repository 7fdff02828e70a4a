// What the player's start-up needs from the system, as a table of operations
// so that tests can stand in for the profile, the date, the question box and
// the shell. The default table routes to src/platform and the front end's
// system side (front/system_os.h).
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "player/front/system_os.h"

struct PlayerSystem {
  ScreenSize (*screen_size)();
  uint32_t (*profile_get)(const char* section, const char* key, const char* fallback, char* dest,
                          uint32_t size);
  bool (*profile_write)(const char* section, const char* key, const char* value);
  LocalDate (*today)();
  // A Yes/No question box owned by the player window; true for Yes.
  bool (*ask_yes_no)(const char* text, const char* caption);
  bool (*open_url)(const char* url);
  bool (*file_exists)(const char* name);
  uint32_t (*module_path)(char* dest, uint32_t size);
  void (*sleep_ms)(uint32_t ms);
  // Destroys the player window; null while there is none.
  void (*close_window)();
  // The player window (owner of the question box); null while there is none.
  void* window;
};

// The table in use. The window code and tests replace entries.
PlayerSystem* PlayerSystemHooks();

// The profile section that holds the player's two values.
inline constexpr const char* kProfileSection = "Tessel Video Tools";
