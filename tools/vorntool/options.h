// The command-line conventions every vorntool command shares: one option
// table per command drives parsing, `--help`, the top-level help and the
// generated shell completion, so the three can never disagree.
#pragma once
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;   // an input could not be read or an output written
inline constexpr int kExitUsage = 2;    // the command line itself was wrong
inline constexpr int kExitDamaged = 3;  // the movie is damaged (kept for the movie checks)

// What the shell offers for an option's value or for the operands.
enum class Complete : uint8_t {
  kNothing,  // free text or a number
  kFile,     // any file
  kMovie,    // *.vxn
  kY4m,      // *.y4m
  kWav,      // *.wav
  kExe,      // *.exe
  kDir,      // a directory
  kWords,    // one of OptionSpec::words
};

struct OptionSpec {
  int id;                 // the command's own enumerator, handed back by the parser
  const char* name;       // "--video" or "-o"
  const char* value;      // the value's placeholder ("OUT.y4m"); null for a flag
  const char* help;       // one line
  Complete complete = Complete::kNothing;
  const char* words = nullptr;  // blank-separated choices for Complete::kWords
};

struct CommandSpec {
  const char* name;
  const char* usage;    // what follows "vorntool NAME" (lines separated by '\n')
  const char* summary;  // one line for `vorntool --help`
  int (*run)(int argc, char** argv);
  std::span<const OptionSpec> options;
  Complete operands = Complete::kNothing;
  // Words led by a single '-' are operands, not options (the player's own
  // switches, which it also accepts as "-L" for "/L").
  bool dash_operands = false;
  const char* notes = nullptr;  // lines printed after the option list
  const char* operand_words = nullptr;  // choices when operands is Complete::kWords
};

struct ParsedOption {
  const OptionSpec* spec;
  const char* value;  // null for a flag
};

struct ParsedCommand {
  std::vector<ParsedOption> options;  // in command-line order
  std::vector<const char*> operands;  // "-" (standard input or output) is an operand
};

// Reads argv[1..argc) against the command's table. Returns kExitOk with
// *parsed filled; kExitUsage after printing the reason; or kParsedHelp after
// printing the help to stdout for --help.
inline constexpr int kParsedHelp = -1;
int ParseCommand(const CommandSpec& command, int argc, char** argv, ParsedCommand* parsed);
// The exit code for a ParseCommand result other than kExitOk.
inline int ParseExitCode(int parse_result) {
  return parse_result == kParsedHelp ? kExitOk : parse_result;
}

// "vorntool NAME: <reason> (see vorntool NAME --help)" on stderr; returns kExitUsage.
int UsageError(const CommandSpec& command, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void PrintCommandHelp(const CommandSpec& command, std::FILE* out);

// Whole numbers in [low, high]; false for anything else (signs, blanks, overflow).
bool ParseUnsigned(const char* text, uint64_t low, uint64_t high, uint64_t* value);

// A time in seconds, whole or with up to three decimals ("12", "83.5"), no
// sign, at most 10 000 000 s; in milliseconds. False for anything else.
bool ParseSeconds(const char* text, uint64_t* ms);
// The frame (1-based) on screen `ms` into a movie of rate_num / rate_den
// frames per second: the last frame that starts at or before that time.
uint64_t FrameAtMs(uint64_t ms, uint32_t rate_num, uint32_t rate_den);

// The commands in the order `vorntool --help` lists them.
std::span<const CommandSpec* const> VorntoolCommands();
const CommandSpec* FindCommand(const char* name);

// The whole tool: help, --version, dispatch to a command.
int VorntoolMain(int argc, char** argv);

// The bash completion script generated from the tables.
void WriteBashCompletion(std::FILE* out);
