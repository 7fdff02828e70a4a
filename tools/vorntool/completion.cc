// vorntool completion bash: the shell completion, written from the same
// option tables that parse the commands and print their help.
#include <cstdio>
#include <cstring>
#include <string>

#include "vorntool/commands.h"

namespace {

enum CompletionOption { kOptOut };
constexpr OptionSpec kCompletionOptions[] = {
    {kOptOut, "-o", "OUT", "write the script to OUT instead of standard output", Complete::kFile},
};

// The shell words that fill COMPREPLY for one kind of value.
std::string Reply(Complete kind, const char* words) {
  switch (kind) {
    case Complete::kNothing: return "return";
    case Complete::kFile: return "_vorntool_files ''; return";
    case Complete::kMovie: return "_vorntool_files '*.vxn'; return";
    case Complete::kY4m: return "_vorntool_files '*.y4m'; return";
    case Complete::kWav: return "_vorntool_files '*.wav'; return";
    case Complete::kExe: return "_vorntool_files '*.exe'; return";
    case Complete::kDir: return "_vorntool_files dir; return";
    case Complete::kWords:
      return std::string("COMPREPLY=($(compgen -W '") + (words ? words : "") +
             "' -- \"$cur\")); return";
  }
  return "return";
}

void WriteCommandCase(std::FILE* out, const CommandSpec& command) {
  std::fprintf(out, "  %s)\n    case $prev in\n", command.name);
  std::string names = command.dash_operands ? "--help" : "-h --help";
  for (const OptionSpec& option : command.options) {
    names += std::string(" ") + option.name;
    if (option.value)
      std::fprintf(out, "    %s) %s ;;\n", option.name, Reply(option.complete, option.words).c_str());
  }
  std::fprintf(out, "    esac\n");
  std::fprintf(out,
               "    if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W '%s' -- \"$cur\")); return; "
               "fi\n",
               names.c_str());
  std::fprintf(out, "    %s\n    ;;\n", Reply(command.operands, command.operand_words).c_str());
}

}  // namespace

void WriteBashCompletion(std::FILE* out) {
  std::string commands;
  for (const CommandSpec* command : VorntoolCommands())
    commands += std::string(command->name) + " ";
  std::fprintf(out,
               "# bash completion for vorntool (written by `vorntool completion bash`)\n"
               "_vorntool_files() {\n"
               "  local IFS=$'\\n'\n"
               "  compopt -o filenames 2>/dev/null\n"
               "  if [[ -z $1 ]]; then COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "  elif [[ $1 == dir ]]; then COMPREPLY=($(compgen -d -- \"$cur\"))\n"
               "  else COMPREPLY=($(compgen -d -- \"$cur\") $(compgen -f -X \"!$1\" -- \"$cur\"))\n"
               "  fi\n"
               "}\n"
               "_vorntool() {\n"
               "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "  COMPREPLY=()\n"
               "  if ((COMP_CWORD == 1)); then\n"
               "    COMPREPLY=($(compgen -W '%shelp --help --version' -- \"$cur\")); return\n"
               "  fi\n"
               "  case ${COMP_WORDS[1]} in\n"
               "  help)\n"
               "    ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W '%s' -- \"$cur\")); return ;;\n",
               commands.c_str(), commands.c_str());
  for (const CommandSpec* command : VorntoolCommands()) WriteCommandCase(out, *command);
  std::fprintf(out, "  esac\n}\ncomplete -F _vorntool vorntool\n");
}

const CommandSpec kCompletionCommand = {
    "completion", "bash [-o OUT]", "the shell completion script for bash", CmdCompletion,
    kCompletionOptions, Complete::kWords, false,
    "Installed by `cmake --install` as share/bash-completion/completions/vorntool;\n"
    "for this shell only: source <(vorntool completion bash)\n",
    "bash"};

int CmdCompletion(int argc, char** argv) {
  ParsedCommand parsed;
  if (int code = ParseCommand(kCompletionCommand, argc, argv, &parsed))
    return ParseExitCode(code);
  if (parsed.operands.size() != 1 || std::strcmp(parsed.operands[0], "bash") != 0)
    return UsageError(kCompletionCommand, "the one shell written for is bash");
  const char* path = parsed.options.empty() ? "-" : parsed.options.back().value;
  const bool to_stdout = !std::strcmp(path, "-");
  std::FILE* out = to_stdout ? stdout : std::fopen(path, "w");
  if (!out) {
    std::fprintf(stderr, "vorntool completion: cannot write %s\n", path);
    return kExitFailed;
  }
  WriteBashCompletion(out);
  const bool ok = to_stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (!ok) {
    std::fprintf(stderr, "vorntool completion: cannot write %s\n", path);
    return kExitFailed;
  }
  return kExitOk;
}
