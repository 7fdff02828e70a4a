#include "vorntool/options.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

namespace {

const OptionSpec* FindOption(const CommandSpec& command, const char* name, size_t length) {
  for (const OptionSpec& option : command.options)
    if (std::strlen(option.name) == length && !std::strncmp(option.name, name, length))
      return &option;
  return nullptr;
}

bool IsHelp(const CommandSpec& command, const char* word) {
  // "-h" stays a player switch (/H) where such switches are operands.
  return !std::strcmp(word, "--help") || (!command.dash_operands && !std::strcmp(word, "-h"));
}

std::string OptionColumn(const OptionSpec& option) {
  std::string text = option.name;
  if (option.value) text += std::string(" ") + option.value;
  return text;
}

}  // namespace

int UsageError(const CommandSpec& command, const char* format, ...) {
  char reason[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof reason, format, args);
  va_end(args);
  std::fprintf(stderr, "vorntool %s: %s (see vorntool %s --help)\n", command.name, reason,
               command.name);
  return kExitUsage;
}

int ParseCommand(const CommandSpec& command, int argc, char** argv, ParsedCommand* parsed) {
  *parsed = ParsedCommand{};
  bool options_end = false;
  for (int i = 1; i < argc; i++) {
    const char* word = argv[i];
    const bool option_like = word[0] == '-' && word[1] != 0 &&
                             !(command.dash_operands && word[1] != '-');
    if (options_end || !option_like) {
      parsed->operands.push_back(word);
      continue;
    }
    if (!std::strcmp(word, "--")) {
      options_end = true;
      continue;
    }
    if (IsHelp(command, word)) {
      PrintCommandHelp(command, stdout);
      return kParsedHelp;
    }
    // "--name=value" as well as "--name value".
    const char* equals = word[1] == '-' ? std::strchr(word, '=') : nullptr;
    const size_t length = equals ? size_t(equals - word) : std::strlen(word);
    const OptionSpec* option = FindOption(command, word, length);
    if (!option) {
      return UsageError(command, "unknown option '%.*s'", static_cast<int>(length), word);
    }
    if (!option->value) {
      if (equals) return UsageError(command, "option '%s' takes no value", option->name);
      parsed->options.push_back({option, nullptr});
      continue;
    }
    if (equals) {
      parsed->options.push_back({option, equals + 1});
    } else if (i + 1 < argc) {
      parsed->options.push_back({option, argv[++i]});
    } else {
      return UsageError(command, "option '%s' needs a value %s", option->name, option->value);
    }
  }
  return kExitOk;
}

void PrintCommandHelp(const CommandSpec& command, std::FILE* out) {
  const char* line = command.usage;
  bool first = true;
  while (*line) {
    const char* end = std::strchr(line, '\n');
    const size_t length = end ? size_t(end - line) : std::strlen(line);
    std::fprintf(out, "%s vorntool %s %.*s\n", first ? "usage:" : "      ", command.name,
                 static_cast<int>(length), line);
    first = false;
    line += length + (end ? 1 : 0);
  }
  std::fprintf(out, "%s\n\noptions:\n", command.summary);
  size_t column = 10;
  for (const OptionSpec& option : command.options)
    column = std::max(column, OptionColumn(option).size());
  for (const OptionSpec& option : command.options)
    std::fprintf(out, "  %-*s  %s\n", static_cast<int>(column), OptionColumn(option).c_str(),
                 option.help);
  std::fprintf(out, "  %-*s  %s\n", static_cast<int>(column),
               command.dash_operands ? "--help" : "-h, --help", "print this help and exit");
  if (command.notes) std::fprintf(out, "\n%s", command.notes);
}

bool ParseSeconds(const char* text, uint64_t* ms) {
  if (!text || *text < '0' || *text > '9') return false;
  uint64_t whole = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    whole = whole * 10 + uint64_t(*text - '0');
    if (whole > 10000000) return false;
  }
  uint64_t fraction = 0;
  if (*text == '.') {
    text++;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; text++, digits++) {
      if (digits == 3) return false;
      fraction = fraction * 10 + uint64_t(*text - '0');
    }
    if (digits == 0) return false;
    for (; digits < 3; digits++) fraction *= 10;
  }
  if (*text) return false;
  *ms = whole * 1000 + fraction;
  return true;
}

uint64_t FrameAtMs(uint64_t ms, uint32_t rate_num, uint32_t rate_den) {
  if (!rate_num || !rate_den) return 1;
  if (ms <= UINT64_MAX / rate_num) return ms * rate_num / (1000 * uint64_t{rate_den}) + 1;
  const long double frames = static_cast<long double>(ms) * rate_num / (1000.0L * rate_den);
  return frames >= 1.8e19L ? UINT64_MAX : static_cast<uint64_t>(frames) + 1;
}

bool ParseUnsigned(const char* text, uint64_t low, uint64_t high, uint64_t* value) {
  if (!text || *text < '0' || *text > '9') return false;
  uint64_t v = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + uint64_t(*text - '0');
  }
  if (*text || v < low || v > high) return false;
  *value = v;
  return true;
}
