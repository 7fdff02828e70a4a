// The conventions every vorntool command shares, checked over the whole
// command table: --help and `help NAME` print the full option list to stdout
// and exit 0; wrong command lines exit 2 with the reason on stderr; the
// generated bash completion offers what the tables hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"

namespace {

ToolRun Tool(std::vector<std::string> args) {
  args.insert(args.begin(), "vorntool");
  return RunTool(VorntoolMain, args);
}

class EveryCommand : public testing::TestWithParam<const CommandSpec*> {};

TEST_P(EveryCommand, HelpListsEveryOptionOnStdout) {
  const CommandSpec& command = *GetParam();
  const ToolRun run = Tool({command.name, "--help"});
  EXPECT_EQ(run.code, kExitOk);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind(std::string("usage: vorntool ") + command.name + " ", 0), 0u) << run.out;
  for (const OptionSpec& option : command.options) {
    std::string column = std::string("\n  ") + option.name;
    if (option.value) column += std::string(" ") + option.value;
    const size_t at = run.out.find(column + " ");
    ASSERT_NE(at, std::string::npos) << option.name << " missing from\n" << run.out;
    // One line each, with its explanation on it.
    const size_t end = run.out.find('\n', at + 1);
    EXPECT_NE(run.out.substr(at, end - at).find(option.help), std::string::npos) << option.name;
  }
  EXPECT_NE(run.out.find("--help "), std::string::npos);
  EXPECT_EQ(Tool({"help", command.name}).out, run.out);
  EXPECT_EQ(Tool({command.name, "--help", "--no-such-option"}).code, kExitOk);  // help wins
}

TEST_P(EveryCommand, UnknownOptionIsAUsageError) {
  const CommandSpec& command = *GetParam();
  const ToolRun run = Tool({command.name, "--x"});
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("vorntool ") + command.name + ": unknown option '--x' (see vorntool " +
                         command.name + " --help)\n");
  const ToolRun with_value = Tool({command.name, "--x=3"});
  EXPECT_EQ(with_value.code, kExitUsage);
  EXPECT_NE(with_value.err.find("unknown option '--x'"), std::string::npos) << with_value.err;
}

TEST_P(EveryCommand, OptionWithoutItsValueIsAUsageError) {
  const CommandSpec& command = *GetParam();
  for (const OptionSpec& option : command.options) {
    if (!option.value) continue;
    const ToolRun run = Tool({command.name, option.name});
    EXPECT_EQ(run.code, kExitUsage) << option.name;
    EXPECT_NE(run.err.find(std::string("option '") + option.name + "' needs a value"), std::string::npos)
        << run.err;
  }
}

TEST_P(EveryCommand, OptionNamesAreUniqueAndWellFormed) {
  const CommandSpec& command = *GetParam();
  std::vector<std::string> seen = {"--help", "-h"};
  for (const OptionSpec& option : command.options) {
    const std::string name = option.name;
    EXPECT_TRUE(name.size() == 2 ? name[0] == '-' : name.rfind("--", 0) == 0) << name;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), name), 0) << name;
    EXPECT_EQ(option.complete == Complete::kWords, option.words != nullptr) << name;
    seen.push_back(name);
  }
}

INSTANTIATE_TEST_SUITE_P(Vorntool, EveryCommand, testing::ValuesIn(VorntoolCommands()),
                         [](const testing::TestParamInfo<const CommandSpec*>& info) {
                           return std::string(info.param->name);
                         });

TEST(ToolConventions, TopLevelHelpVersionAndUnknownCommands) {
  for (const char* word : {"--help", "-h", "help"}) {
    const ToolRun run = Tool({word});
    EXPECT_EQ(run.code, kExitOk) << word;
    for (const CommandSpec* command : VorntoolCommands())
      EXPECT_NE(run.out.find(std::string("\n  ") + command->name + " "), std::string::npos) << command->name;
  }
  const ToolRun version = Tool({"--version"});
  EXPECT_EQ(version.code, kExitOk);
  EXPECT_EQ(version.out.rfind("vorntool ", 0), 0u);
  const ToolRun bare = Tool({});
  EXPECT_EQ(bare.code, kExitUsage);
  EXPECT_EQ(bare.out, "");
  EXPECT_NE(bare.err.find("usage: vorntool COMMAND"), std::string::npos);
  const ToolRun unknown = Tool({"frobnicate"});
  EXPECT_EQ(unknown.code, kExitUsage);
  EXPECT_EQ(unknown.err, "vorntool: unknown command 'frobnicate' (see vorntool --help)\n");
  EXPECT_EQ(Tool({"help", "frobnicate"}).code, kExitUsage);
  EXPECT_EQ(Tool({"--frobnicate"}).code, kExitUsage);
}

TEST(ToolConventions, MissingInputsAreUsageErrorsAndFailedInputsAreNot) {
  EXPECT_EQ(Tool({"info"}).code, kExitUsage);
  EXPECT_EQ(Tool({"decode", "movie.vxn"}).code, kExitUsage);              // nothing to write
  EXPECT_EQ(Tool({"decode", "movie.vxn", "--alpha", "a.y4m"}).code, kExitUsage);
  EXPECT_EQ(Tool({"decode", "m.vxn", "--pixels", "rgb99", "-o", "x"}).code, kExitUsage);
  EXPECT_EQ(Tool({"encode", "in.y4m"}).code, kExitUsage);                 // no -o
  EXPECT_EQ(Tool({"encode", "in.y4m", "-o", "x.vxn", "--quality", "101"}).code, kExitUsage);
  EXPECT_EQ(Tool({"demo", "-o", "x.vxn", "--scene", "moon"}).code, kExitUsage);
  EXPECT_EQ(Tool({"play", "--headless"}).code, kExitUsage);
  EXPECT_EQ(Tool({"bundle", "player.exe", "-o", "x.exe"}).code, kExitUsage);
  EXPECT_EQ(Tool({"completion", "fish"}).code, kExitUsage);
  const std::string missing = FixtureTempPath("no_such.vxn");
  EXPECT_EQ(Tool({"info", missing}).code, kExitFailed);
  EXPECT_EQ(Tool({"decode", missing, "--video", FixtureTempPath("out.y4m")}).code, kExitFailed);
  EXPECT_EQ(Tool({"encode", FixtureTempPath("no_such.y4m"), "-o", FixtureTempPath("x.vxn")}).code,
            kExitFailed);
}

TEST(ToolConventions, ValuesMayFollowAnEqualsSign) {
  const ToolRun run = Tool({"decode", "m.vxn", "--pixels=rgb99", "-o", "x"});
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_NE(run.err.find("--pixels wants a format"), std::string::npos) << run.err;
  EXPECT_EQ(Tool({"info", "--json=1", "m.vxn"}).code, kExitUsage);  // a flag takes no value
}

#ifndef _WIN32
// What bash offers after the words typed so far (the last one being completed).
std::string Complete(const std::string& script, const std::string& words, const std::string& cwd) {
  const std::string command = "cd '" + cwd + "' && bash -c 'source \"" + script + "\"; COMP_WORDS=(" +
                              words + "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); _vorntool; " +
                              "printf \"%s\\n\" \"${COMPREPLY[@]}\" | sort | tr \"\\n\" \" \"'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  std::string out;
  char buffer[512];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  pclose(pipe);
  return out;
}

TEST(ToolConventions, BashCompletionComesFromTheTables) {
  const std::string script = FixtureTempPath("vorntool.bash");
  ASSERT_EQ(Tool({"completion", "bash", "-o", script}).code, kExitOk);
  const std::string dir = testing::TempDir();
  const std::string movie = FixtureWriteFile("completion_movie.vxn", {1});
  FixtureWriteFile("completion_sound.wav", {1});
  const std::string stem = movie.substr(dir.size(), movie.find("completion_movie") - dir.size());

  EXPECT_EQ(Complete(script, "vorntool de", dir), "decode demo ");
  EXPECT_EQ(Complete(script, "vorntool help sw", dir), "switches ");
  EXPECT_EQ(Complete(script, "vorntool decode --pix", dir), "--pixels ");
  EXPECT_EQ(Complete(script, "vorntool decode x.vxn --pixels rgb5", dir), "rgb555 rgb565 ");
  EXPECT_EQ(Complete(script, "vorntool encode --audio-variant \"\"", dir), "dct rdft ");
  EXPECT_EQ(Complete(script, "vorntool info " + stem + "completion_", dir),
            stem + "completion_movie.vxn ");
  EXPECT_EQ(Complete(script, "vorntool encode in.y4m --audio " + stem + "completion_", dir),
            stem + "completion_sound.wav ");
  // Every option of every command is offered after its command.
  for (const CommandSpec* command : VorntoolCommands()) {
    const std::string offered = Complete(script, std::string("vorntool ") + command->name + " -", dir);
    for (const OptionSpec& option : command->options)
      EXPECT_NE((" " + offered).find(std::string(" ") + option.name + " "), std::string::npos)
          << command->name << " " << option.name << ": " << offered;
  }
}

#endif  // !_WIN32

}  // namespace
