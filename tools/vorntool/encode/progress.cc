#include "vorntool/encode/progress.h"

#include <algorithm>

namespace {

std::string Clock(double seconds) {
  uint64_t s = static_cast<uint64_t>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  else
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  return text;
}

}  // namespace

std::string ProgressText(const MovieEncodeProgress& p, uint64_t elapsed_ms) {
  double elapsed = elapsed_ms / 1000.0;
  double fps = elapsed > 0 ? p.frames_done / elapsed : 0;
  double kbps = p.seconds_done > 0 ? p.packet_bytes * 8 / p.seconds_done / 1000 : 0;
  char text[160];
  std::string frames = std::to_string(p.frames_done);
  if (p.frames_total) frames += "/" + std::to_string(p.frames_total);
  std::string left = "?";
  if (p.frames_total && fps > 0)
    left = Clock((p.frames_total - std::min(p.frames_done, p.frames_total)) / fps);
  // The measuring pass of rate control says so; its fps and times are its own.
  std::snprintf(text, sizeof text, "%sframe %s  %.1f fps  %s elapsed  %s left  %.0f kbit/s",
                p.analysing ? "measuring: " : "", frames.c_str(), fps, Clock(elapsed).c_str(),
                left.c_str(), kbps);
  return text;
}

void ProgressStart(ProgressLine* line, std::FILE* out, uint64_t now_ms) {
  *line = ProgressLine{};
  line->out = out;
  line->start_ms = now_ms;
}

void ProgressUpdate(ProgressLine* line, const MovieEncodeProgress& p, uint64_t now_ms) {
  if (!line->out) return;
  if (line->analysing && !p.analysing) line->start_ms = now_ms;
  line->analysing = p.analysing;
  bool last = p.frames_total && p.frames_done >= p.frames_total;
  if (line->drawn && now_ms - line->last_draw_ms < 100 && !last) return;
  std::string text = ProgressText(p, now_ms - line->start_ms);
  // Blanks wipe what a longer previous line left behind.
  size_t pad = line->width > text.size() ? line->width - text.size() : 0;
  std::fprintf(line->out, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
  std::fflush(line->out);
  line->width = text.size();
  line->drawn = true;
  line->last_draw_ms = now_ms;
}

void ProgressEnd(ProgressLine* line) {
  if (line->out && line->drawn) {
    std::fputc('\n', line->out);
    std::fflush(line->out);
  }
  line->drawn = false;
}
