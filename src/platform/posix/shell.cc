// Message boxes and web pages on POSIX. There is no desktop to ask, so a
// message box is printed to stderr and a question is answered by the
// environment (VORN_ANSWER=yes|no, default no), which keeps every run
// non-interactive. Web pages go to xdg-open when it is installed.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

extern char** environ;

namespace {

const char* KindLabel(MessageBoxKind kind) {
  switch (kind) {
    case MESSAGE_ERROR: return "error";
    case MESSAGE_QUESTION: return "question";
    default: return "info";
  }
}

bool ExecutableOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + program;
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool MessageBoxShow(const char* text, const char* caption, MessageBoxKind kind, void* /*owner*/) {
  std::fprintf(stderr, "[%s] %s: %s\n", KindLabel(kind), caption ? caption : "", text ? text : "");
  if (kind != MESSAGE_QUESTION) return true;
  const char* answer = std::getenv("VORN_ANSWER");
  bool yes = answer && std::strcmp(answer, "yes") == 0;
  std::fprintf(stderr, "[question] answered %s\n", yes ? "yes" : "no");
  return yes;
}

bool OpenUrl(const char* url) {
  // A leading '-' would be read as an option by the opener.
  if (!url || !url[0] || url[0] == '-' || !ExecutableOnPath("xdg-open")) return false;
  // A short-lived shell starts xdg-open in the background and exits at once,
  // so the caller never waits for a browser and no zombie is left behind.
  // The URL travels as an argument, never through the shell's parser.
  const char* script = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script),
                  const_cast<char*>("vorn-open-url"), const_cast<char*>(url), nullptr};
  pid_t child;
  if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
