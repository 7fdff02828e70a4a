// The reminder to look for a newer player version, asked at most once a week
// once the build is more than two months old, and only where the maker's
// tool set is installed beside the player.
#pragma once

inline constexpr const char* kBuildDate = "2003-02-06";
inline constexpr const char* kCompanionTool = "dodozeruvur.exe";
inline constexpr const char* kUpdateSite = "https://vorn.example/update";
inline constexpr const char* kUpdateCaption = "New version check...";
inline constexpr const char* kUpdateQuestion =
    "It's been a while since you checked for a more recent Vorn version.\n\n"
    "Would you like to check for a newer version of Vorn on the Internet?\n\n"
    "If you choose to check for a new version, Vorn will close to allow the update to install.";

// True when the companion tool exists in the running program's folder.
bool CompanionToolPresent();
// 1 when the user chose to update (the player then ends with result 1), else 0.
int UpdateCheck();
// Writes today's date into the profile.
void NoteCheckDate();
// Opens the update page and closes the player window.
void OpenUpdatePage();
