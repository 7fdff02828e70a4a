// Running a vorntool command inside the test process, as the shell would:
// argv[0] is the command's name, stdout and stderr are captured.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ToolRun {
  int code;
  std::string out, err;
};

// command(argc, argv) with argv = args (args[0] is the command's name).
inline ToolRun RunTool(int (*command)(int, char**), std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = command(static_cast<int>(argv.size()), argv.data());
  ToolRun run{code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
  return run;
}

// As RunTool, for steps that must work: a failure is reported with the
// command's stderr. Returns the exit code; *out gets stdout when asked.
inline int RunToolOk(int (*command)(int, char**), std::vector<std::string> args,
                     std::string* out = nullptr) {
  const ToolRun run = RunTool(command, args);
  if (out) *out = run.out;
  if (run.code != 0) ADD_FAILURE() << args[0] << " failed: " << run.err;
  return run.code;
}

// The whole file (empty when it cannot be read).
inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
