// The switch readers: each takes the first occurrence of its form out of the
// command text, which is edited in place, and what remains is the list of
// movie names.
#pragma once
#include <cstdint>

// A ratio read from text: [-]digits[.digits][;digits[.digits]].
struct Ratio {
  int32_t num, den;
};
// Reads a ratio at text; *end (when not null) receives the first unread character.
Ratio ParseRatio(const char* text, const char** end);

// Cuts every "/X" that stands before a "/-X" (with its argument), then the
// "/-X" itself.
void CancelSwitches(char* text);
bool TakeFlagSwitch(char* text, char letter);
int32_t TakeNumberSwitch(char* text, char letter, int32_t fallback);
Ratio TakeRatioSwitch(char* text, char letter, int32_t fallback_num, int32_t fallback_den);

// Appends src to the command text, refusing (false, text unchanged) when the
// result would not fit in kCommandTextSize bytes.
bool CommandTextAppend(char* text, const char* src);
