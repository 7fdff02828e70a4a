// The subcommands of vorntool; each lives in its own file.
#pragma once
#include <cstdio>

int CmdInfo(int argc, char** argv);      // info.cc
int CmdDecode(int argc, char** argv);    // decode.cc
int CmdEncode(int argc, char** argv);    // encode/encode_command.cc
int CmdDemo(int argc, char** argv);      // encode/demo_command.cc
int CmdSwitches(int argc, char** argv);  // switches.cc
int CmdBundle(int argc, char** argv);    // bundle.cc
int CmdPlay(int argc, char** argv);      // play.cc

// The body of `info` for one movie, writing to out (the report) and err (a
// refusal). Returns the command's exit code.
int InfoWrite(const char* file, bool frame_list, bool json, std::FILE* out, std::FILE* err);
