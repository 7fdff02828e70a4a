// The one-line progress display of long encodes: frames done of the total,
// speed, elapsed and remaining time and the data rate so far, redrawn in
// place on stderr at most ten times a second. Drawn only on a terminal.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "writer/encode_movie.h"

struct ProgressLine {
  std::FILE* out = nullptr;  // null: nothing is drawn
  uint64_t start_ms = 0;
  uint64_t last_draw_ms = 0;
  bool drawn = false;
  size_t width = 0;          // characters of the last line drawn
  bool analysing = false;    // the measuring pass: its own clock
};

// The line's text after `elapsed_ms` of work.
std::string ProgressText(const MovieEncodeProgress& p, uint64_t elapsed_ms);

// out null (not a terminal, or --quiet) turns the display off.
void ProgressStart(ProgressLine* line, std::FILE* out, uint64_t now_ms);
// Redraws unless the last drawing is less than 100 ms old; the last frame
// is always drawn. The pass after a measuring pass starts its clock anew.
void ProgressUpdate(ProgressLine* line, const MovieEncodeProgress& p, uint64_t now_ms);
// Ends the line (a newline after the last drawing).
void ProgressEnd(ProgressLine* line);
