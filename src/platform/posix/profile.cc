// The user's profile on POSIX: an INI file, $XDG_CONFIG_HOME/vorn/profile.ini
// (or ~/.config/vorn/profile.ini), with the same sections and keys as the
// Windows profile. Look-ups ignore case like the Windows profile does.
// Writes go to a temporary file renamed over the old one, so a reader never
// sees half a file. The environment is read on every call, so tests can
// point the profile at a scratch directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace {

// A profile holds a handful of short values; anything bigger is not ours.
constexpr int64_t kMaxProfileBytes = 1 << 20;

std::mutex g_profile_guard;

std::string ConfigDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  return {};
}

std::string ProfilePath() {
  std::string dir = ConfigDir();
  return dir.empty() ? dir : dir + "/vorn/profile.ini";
}

std::string_view Trim(std::string_view text) {
  const char* space = " \t\r";
  size_t begin = text.find_first_not_of(space);
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(space);
  return text.substr(begin, end - begin + 1);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// "[name]" -> name; anything else -> false.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// "key = value" -> key and value; comments and blank lines -> false.
bool KeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '#' || text.front() == '[') return false;
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return false;
  *key = Trim(text.substr(0, equals));
  *value = Trim(text.substr(equals + 1));
  return true;
}

// Reads the profile's lines. A missing file is an empty profile; a file that
// exists but cannot be read whole (or is too big to be ours) gives false, so
// a write never replaces what it could not read.
bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  PlatformFile file = FileOpenRead(path.c_str(), false);
  if (file == kInvalidFile) return !FileExists(path.c_str());
  int64_t size = FileSize(file);
  std::string text;
  bool whole = size >= 0 && size <= kMaxProfileBytes;
  if (whole && size > 0) {
    text.resize(static_cast<size_t>(size));
    whole = FileRead(file, text.data(), static_cast<uint32_t>(size)) == static_cast<uint64_t>(size);
  }
  FileClose(file);
  if (!whole) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines->emplace_back(text, start, end - start);
    start = end + 1;
  }
  return true;
}

// The lines [begin, end) of a section: begin is its header line.
struct SectionSpan {
  size_t begin, end;
};

bool FindSection(const std::vector<std::string>& lines, std::string_view section, SectionSpan* span) {
  std::string_view name;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!SectionName(lines[i], &name) || !SameName(name, Trim(section))) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end], &name)) ++end;
    *span = SectionSpan{i, end};
    return true;
  }
  return false;
}

bool FindKey(const std::vector<std::string>& lines, SectionSpan span, std::string_view key,
             size_t* index) {
  std::string_view name, value;
  for (size_t i = span.begin + 1; i < span.end; ++i) {
    if (KeyLine(lines[i], &name, &value) && SameName(name, Trim(key))) {
      *index = i;
      return true;
    }
  }
  return false;
}

bool MakeDirs(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  if (!MakeDirs(path)) return false;
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool written = FileWrite(fd, text.data(), static_cast<uint32_t>(text.size())) == text.size() &&
                 fsync(fd) == 0;
  FileClose(fd);
  if (written && rename(temp.c_str(), path.c_str()) == 0) return true;
  unlink(temp.c_str());
  return false;
}

bool ValidName(std::string_view name, const char* forbidden) {
  return !Trim(name).empty() && name.find_first_of(forbidden) == std::string_view::npos;
}

// Applies one write to the lines: set the key, or delete the key (value
// null) or the whole section (key null), as the Windows profile does.
void EditLines(std::vector<std::string>& lines, std::string_view section, const char* key,
               const char* value) {
  SectionSpan span{};
  bool has_section = FindSection(lines, section, &span);
  if (!key) {
    if (has_section) lines.erase(lines.begin() + span.begin, lines.begin() + span.end);
    return;
  }
  size_t index = 0;
  bool has_key = has_section && FindKey(lines, span, key, &index);
  if (!value) {
    if (has_key) lines.erase(lines.begin() + index);
    return;
  }
  std::string entry = std::string(Trim(key)) + "=" + value;
  if (has_key) {
    lines[index] = entry;
  } else if (has_section) {
    size_t at = span.end;
    while (at > span.begin + 1 && Trim(lines[at - 1]).empty()) --at;
    lines.insert(lines.begin() + at, entry);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + std::string(Trim(section)) + "]");
    lines.push_back(entry);
  }
}

}  // namespace

uint32_t ProfileGetString(const char* section, const char* key, const char* fallback, char* dest,
                          uint32_t size) {
  if (!dest || size == 0) return 0;
  std::string found = fallback ? fallback : "";
  std::string path = ProfilePath();
  if (section && key && !path.empty()) {
    std::lock_guard<std::mutex> lock(g_profile_guard);
    std::vector<std::string> lines;
    SectionSpan span{};
    size_t index = 0;
    std::string_view name, value;
    if (ReadLines(path, &lines) && FindSection(lines, section, &span) && FindKey(lines, span, key, &index) &&
        KeyLine(lines[index], &name, &value))
      found.assign(value);
  }
  // Like the Windows profile: cut to fit, always terminated.
  uint32_t length = static_cast<uint32_t>(found.size() < size ? found.size() : size - 1);
  std::memcpy(dest, found.data(), length);
  dest[length] = 0;
  return length;
}

bool ProfileWriteString(const char* section, const char* key, const char* value) {
  // Names and values that would change the file's structure are refused.
  if (!section || !ValidName(section, "[]\r\n")) return false;
  if (key && !ValidName(key, "=[;#\r\n")) return false;
  if (value && std::strpbrk(value, "\r\n")) return false;
  std::string path = ProfilePath();
  if (path.empty()) return false;
  std::lock_guard<std::mutex> lock(g_profile_guard);
  std::vector<std::string> lines;
  if (!ReadLines(path, &lines)) return false;
  EditLines(lines, section, key, value);
  return WriteLines(path, lines);
}
