// The subcommands of vorntool; each lives in its own file with its option
// table (see options.h).
#pragma once
#include "vorntool/options.h"

int CmdInfo(int argc, char** argv);        // info.cc
int CmdDecode(int argc, char** argv);      // decode.cc
int CmdEncode(int argc, char** argv);      // encode/encode_command.cc
int CmdDemo(int argc, char** argv);        // encode/demo_command.cc
int CmdSwitches(int argc, char** argv);    // switches.cc
int CmdBundle(int argc, char** argv);      // bundle.cc
int CmdPlay(int argc, char** argv);        // play.cc
int CmdCompletion(int argc, char** argv);  // completion.cc

extern const CommandSpec kInfoCommand;
extern const CommandSpec kDecodeCommand;
extern const CommandSpec kEncodeCommand;
extern const CommandSpec kDemoCommand;
extern const CommandSpec kSwitchesCommand;
extern const CommandSpec kBundleCommand;
extern const CommandSpec kPlayCommand;
extern const CommandSpec kCompletionCommand;

// The body of `info` for one movie, writing to out (the report) and err (a
// refusal, or the damage --check found). Returns the command's exit code.
int InfoWrite(const char* file, bool frame_list, bool json, bool check, std::FILE* out,
              std::FILE* err);
