// Shared pieces of the fuzz targets: a temporary folder of this process for
// targets that must hand files to code that reads by name, and a strict JSON
// check for reports that promise JSON.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// <tmp>/vorn_fuzz_<pid>/<name>: several fuzzers (and -jobs workers) may run
// side by side, each writes only below its own pid.
inline std::string FuzzTempPath(const char* name) {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorn_fuzz_" +
                      std::to_string(static_cast<long>(getpid()));
    mkdir(dir.c_str(), 0700);
    return dir;
  }();
  return folder + "/" + name;
}

inline bool FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// A small recursive-descent check of RFC 8259 JSON text: true when the whole
// text is one value with optional white space around it.
class JsonCheck {
 public:
  static bool Valid(const std::string& text) {
    JsonCheck check(text);
    check.Space();
    if (!check.Value(0)) return false;
    check.Space();
    return check.pos_ == text.size();
  }

 private:
  explicit JsonCheck(const std::string& text) : text_(text) {}
  bool At(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool Eat(char c) {
    if (!At(c)) return false;
    pos_++;
    return true;
  }
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\t'))
      pos_++;
  }
  bool Word(const char* word) {
    for (size_t i = 0; word[i]; i++)
      if (!Eat(word[i])) return false;
    return true;
  }
  bool Digits() {
    size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') pos_++;
    return pos_ > start;
  }
  bool Number() {
    Eat('-');
    if (Eat('0')) {
      if (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') return false;
    } else if (!Digits()) {
      return false;
    }
    if (Eat('.') && !Digits()) return false;
    if (Eat('e') || Eat('E')) {
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    return true;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (pos_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      if (e == 'u') {
        for (int i = 0; i < 4; i++, pos_++)
          if (pos_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[pos_])))
            return false;
      } else if (!std::strchr("\"\\/bfnrt", e)) {
        return false;
      }
    }
    return false;
  }
  bool Value(int depth) {
    if (depth > 64) return false;
    if (At('{')) return Members(depth);
    if (At('[')) return Elements(depth);
    if (At('"')) return String();
    if (At('t')) return Word("true");
    if (At('f')) return Word("false");
    if (At('n')) return Word("null");
    return Number();
  }
  bool Members(int depth) {
    Eat('{');
    Space();
    if (Eat('}')) return true;
    do {
      Space();
      if (!String()) return false;
      Space();
      if (!Eat(':')) return false;
      Space();
      if (!Value(depth + 1)) return false;
      Space();
    } while (Eat(','));
    return Eat('}');
  }
  bool Elements(int depth) {
    Eat('[');
    Space();
    if (Eat(']')) return true;
    do {
      Space();
      if (!Value(depth + 1)) return false;
      Space();
    } while (Eat(','));
    return Eat(']');
  }

  const std::string& text_;
  size_t pos_ = 0;
};
