// The switch readers: finding, reading and cutting out one switch form.
#include "player/switch_readers.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "player/player_options.h"

namespace {

constexpr int32_t kInt32Max = 0x7FFFFFFF;
// Fraction digits beyond this many no longer change a ratio's denominator,
// so every intermediate product stays far inside 64 bits.
constexpr int64_t kDenominatorCap = 1000000000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c != 0 && static_cast<unsigned char>(c) <= 32; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

void CutChars(char* text, size_t pos, size_t count) {
  size_t len = std::strlen(text + pos);
  if (count > len) count = len;
  std::memmove(text + pos, text + pos + count, len - count + 1);
}

// "/X" at text[i] with the letter compared upper-cased.
bool IsSwitchAt(const char* text, size_t i, char letter) {
  return text[i] == '/' && text[i + 1] != 0 && Upper(text[i + 1]) == Upper(letter);
}

// A number argument starts with a digit, or with '-' and a digit.
bool NumberFollows(const char* p) { return IsDigit(p[0]) || (p[0] == '-' && IsDigit(p[1])); }

// Position of the first "/X" followed by a number argument, or -1.
ptrdiff_t FindNumberSwitch(const char* text, char letter) {
  for (size_t i = 0; text[i]; ++i)
    if (IsSwitchAt(text, i, letter) && NumberFollows(text + i + 2)) return static_cast<ptrdiff_t>(i);
  return -1;
}

// Reads "[-]digits" saturating at the 32-bit range; returns the end.
const char* ReadInteger(const char* p, int32_t* value) {
  bool negative = *p == '-';
  if (negative) ++p;
  int64_t v = 0;
  for (; IsDigit(*p); ++p) {
    v = v * 10 + (*p - '0');
    if (v > kInt32Max) v = kInt32Max;
  }
  *value = static_cast<int32_t>(negative ? -v : v);
  return p;
}

int64_t Gcd(int64_t a, int64_t b) {
  if (a < 0) a = -a;
  if (b < 0) b = -b;
  while (b) {
    int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

void Reduce(int64_t* num, int64_t* den) {
  if (*num == 0 || *den == 0) return;
  int64_t g = Gcd(*num, *den);
  if (g > 1) {
    *num /= g;
    *den /= g;
  }
}

// digits[.digits] as one integer over 10 to the number of fraction digits.
const char* ReadDecimal(const char* p, int64_t* num, int64_t* den) {
  int64_t n = 0, d = 1;
  for (; IsDigit(*p); ++p) {
    n = n * 10 + (*p - '0');
    if (n > kInt32Max) n = kInt32Max;
  }
  if (*p == '.') {
    for (++p; IsDigit(*p); ++p) {
      if (d >= kDenominatorCap) continue;
      n = n * 10 + (*p - '0');
      if (n > kInt32Max) n = kInt32Max;
      d *= 10;
    }
  }
  *num = n;
  *den = d;
  return p;
}

}  // namespace

Ratio ParseRatio(const char* text, const char** end) {
  const char* p = text;
  bool negative = *p == '-';
  if (negative) ++p;
  int64_t num, den;
  p = ReadDecimal(p, &num, &den);
  Reduce(&num, &den);
  if (p[0] == ';' && IsDigit(p[1])) {
    int64_t num2, den2;
    p = ReadDecimal(p + 1, &num2, &den2);
    num *= den2;
    den *= num2;
    Reduce(&num, &den);
  }
  // Huge parts (only from absurd texts) are scaled into 32 bits together.
  while (num > kInt32Max || den > kInt32Max) {
    num >>= 1;
    den >>= 1;
  }
  if (den == 0) den = 1;
  if (end) *end = p;
  return {static_cast<int32_t>(negative ? -num : num), static_cast<int32_t>(den)};
}

void CancelSwitches(char* text) {
  size_t i = 0;
  while (text[i]) {
    if (text[i] != '/' || text[i + 1] != '-') {
      ++i;
      continue;
    }
    if (text[i + 2] == 0) {  // a trailing "/-" ends the text
      text[i] = 0;
      return;
    }
    char letter = text[i + 2];
    size_t j = 0;
    while (j < i) {
      if (!IsSwitchAt(text, j, letter) || j + 1 >= i) {
        ++j;
        continue;
      }
      // The argument runs to white space or '/', or is a quoted text; the
      // closing quote goes too, or it would turn the rest into one name.
      size_t end = j + 2;
      if (end < i && text[end] == '"') {
        ++end;
        while (end < i && text[end] != '"') ++end;
        if (end < i) ++end;
      } else {
        while (end < i && !IsSpace(text[end]) && text[end] != '/') ++end;
      }
      CutChars(text, j, end - j);
      i -= end - j;
    }
    CutChars(text, i, 3);
  }
}

bool TakeFlagSwitch(char* text, char letter) {
  for (size_t i = 0; text[i]; ++i) {
    if (IsSwitchAt(text, i, letter) && static_cast<unsigned char>(text[i + 2]) <= 47) {
      CutChars(text, i, 2);
      return true;
    }
  }
  return false;
}

int32_t TakeNumberSwitch(char* text, char letter, int32_t fallback) {
  ptrdiff_t at = FindNumberSwitch(text, letter);
  if (at < 0) return fallback;
  int32_t value;
  const char* end = ReadInteger(text + at + 2, &value);
  CutChars(text, static_cast<size_t>(at), static_cast<size_t>(end - (text + at)));
  return value;
}

Ratio TakeRatioSwitch(char* text, char letter, int32_t fallback_num, int32_t fallback_den) {
  ptrdiff_t at = FindNumberSwitch(text, letter);
  if (at < 0) return {fallback_num, fallback_den};
  const char* end;
  Ratio r = ParseRatio(text + at + 2, &end);
  CutChars(text, static_cast<size_t>(at), static_cast<size_t>(end - (text + at)));
  return r;
}

bool CommandTextAppend(char* text, const char* src) {
  size_t have = std::strlen(text), add = std::strlen(src);
  if (have + add >= kCommandTextSize) return false;
  std::memcpy(text + have, src, add + 1);
  return true;
}
