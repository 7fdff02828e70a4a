#include "player/update_check.h"

#include <cstdio>
#include <cstring>

#include "player/player_system.h"

namespace {

constexpr const char* kCheckDateKey = "LastVersionCheckDate";
constexpr uint32_t kModulePathSize = 256;

struct DateText {
  char text[32];  // "%04i-%02i-%02i" of any int stays well inside this
};

DateText FormatDate(int year, int month, int day) {
  DateText d;
  std::snprintf(d.text, sizeof(d.text), "%04i-%02i-%02i", year, month, day);
  return d;
}

// Dates of this form order correctly as texts. The arithmetic below does not
// validate dates (31 March less two months is "…-01-31", 3 March less a week
// is "…-02-26"); such texts are only compared.
DateText TwoMonthsBack(const LocalDate& t) {
  return t.month > 2 ? FormatDate(t.year, t.month - 2, t.day)
                     : FormatDate(t.year - 1, t.month + 10, t.day);
}

DateText OneWeekBack(const LocalDate& t) {
  if (t.day > 7) return FormatDate(t.year, t.month, t.day - 7);
  if (t.month > 1) return FormatDate(t.year, t.month - 1, t.day + 23);
  return FormatDate(t.year - 1, 12, t.day + 23);
}

}  // namespace

bool CompanionToolPresent() {
  PlayerSystem* sys = PlayerSystemHooks();
  char path[kModulePathSize + 32];
  uint32_t len = sys->module_path(path, kModulePathSize);
  // A path cut at the buffer's end names no folder we could trust.
  if (len == 0 || len >= kModulePathSize - 1) return false;
  path[len] = 0;
  // The folder ends at the last '\', ':' or (POSIX paths) '/'.
  size_t folder = 0;
  for (size_t i = 0; i < len; ++i)
    if (path[i] == '\\' || path[i] == ':' || path[i] == '/') folder = i + 1;
  std::snprintf(path + folder, sizeof(path) - folder, "%s", kCompanionTool);
  return sys->file_exists(path);
}

void NoteCheckDate() {
  PlayerSystem* sys = PlayerSystemHooks();
  LocalDate t = sys->today();
  sys->profile_write(kProfileSection, kCheckDateKey, FormatDate(t.year, t.month, t.day).text);
}

int UpdateCheck() {
  PlayerSystem* sys = PlayerSystemHooks();
  LocalDate today = sys->today();
  if (std::strcmp(TwoMonthsBack(today).text, kBuildDate) <= 0) return 0;  // a recent build

  DateText week_back = OneWeekBack(today);
  char last[15] = {};  // at most 14 characters
  sys->profile_get(kProfileSection, kCheckDateKey, kBuildDate, last, sizeof(last));
  last[sizeof(last) - 1] = 0;
  if (std::strcmp(last, week_back.text) >= 0) return 0;  // asked within the week

  // The date is stored before the answer, so a "No" also waits a week.
  NoteCheckDate();
  if (!sys->ask_yes_no(kUpdateQuestion, kUpdateCaption)) return 0;
  OpenUpdatePage();
  return 1;
}

void OpenUpdatePage() {
  PlayerSystem* sys = PlayerSystemHooks();
  char url[256];
  std::snprintf(url, sizeof(url), "%s/scripts/vornver.asp?ver=1.5t", kUpdateSite);
  sys->open_url(url);
  sys->sleep_ms(250);
  NoteCheckDate();
  if (sys->close_window) sys->close_window();
}
