#include "vorntool/encode/encode_stats.h"

namespace {

constexpr const char* kTypeNames[BLOCK_TYPE_COUNT] = {"keep",    "doubled", "motion", "runs",
                                                      "residue", "intra",   "fill",   "inter",
                                                      "pattern", "raw"};
constexpr const char* kPlaneNames[4] = {"Y", "U", "V", "A"};

void PrintTypes(std::FILE* out, const uint32_t types[BLOCK_TYPE_COUNT],
                const uint32_t subs[BLOCK_TYPE_COUNT]) {
  for (int t = 0; t < BLOCK_TYPE_COUNT; t++)
    if (types[t]) std::fprintf(out, " %s=%u", kTypeNames[t], types[t]);
  bool any = false;
  for (int t = 0; t < BLOCK_TYPE_COUNT; t++)
    if (subs[t]) {
      std::fprintf(out, "%s%s=%u", any ? "," : " [doubled:", kTypeNames[t], subs[t]);
      any = true;
    }
  if (any) std::fprintf(out, "]");
}

}  // namespace

void PrintEncodeStats(std::FILE* out, const MovieEncodeOptions& options,
                      const MovieEncodeStats& stats, size_t movie_bytes) {
  int planes = options.video.grey ? 1 : 3;
  uint32_t types[BLOCK_TYPE_COUNT] = {}, subs[BLOCK_TYPE_COUNT] = {};
  double sse[4] = {};
  uint64_t samples[4] = {}, bits[4] = {};
  uint32_t keys = 0, coded_twice = 0;
  for (size_t k = 0; k < stats.frames.size(); k++) {
    const VideoFrameStats& f = stats.frames[k];
    std::fprintf(out, "frame %zu %s", k + 1, f.key ? "key  " : "inter");
    for (int p = 0; p < 4; p++) {
      if (p >= planes && !(p == 3 && options.video.alpha)) continue;
      std::fprintf(out, " %s:%llub/%.2fdB", kPlaneNames[p],
                   static_cast<unsigned long long>(f.plane_bits[p]), VideoPsnr(f.sse[p], f.samples[p]));
      sse[p] += f.sse[p];
      samples[p] += f.samples[p];
      bits[p] += f.plane_bits[p];
    }
    PrintTypes(out, f.block_types, f.sub_types);
    if (k < stats.lambdas.size()) std::fprintf(out, " lambda=%.3f", stats.lambdas[k]);
    std::fprintf(out, "\n");
    for (int t = 0; t < BLOCK_TYPE_COUNT; t++) {
      types[t] += f.block_types[t];
      subs[t] += f.sub_types[t];
    }
    keys += f.key;
    coded_twice += f.coded_twice;
  }
  double seconds = static_cast<double>(stats.frames.size()) * options.rate_den / options.rate_num;
  // (Frames coded both ways, inter and key, took about twice the time.)
  std::fprintf(out, "total: %zu frames (%u key, %u coded twice), %zu bytes, %.1f kbit/s\n",
               stats.frames.size(), keys, coded_twice, movie_bytes,
               seconds > 0 ? movie_bytes * 8 / seconds / 1000 : 0.0);
  MovieRates rates = MovieRatesOf(stats.packet_bytes, options.rate_num, options.rate_den);
  std::fprintf(out, "  data rate: average %.1f kbit/s, peak %.1f kbit/s (one second)", rates.average_kbps,
               rates.peak_kbps);
  if (stats.target_kbps > 0)
    std::fprintf(out, ", target %.1f kbit/s (%+.1f %%), %d pass%s", stats.target_kbps,
                 (rates.average_kbps / stats.target_kbps - 1) * 100, stats.passes,
                 stats.passes > 1 ? "es" : "");
  std::fprintf(out, "\n");
  for (int p = 0; p < 4; p++) {
    if (!samples[p]) continue;
    std::fprintf(out, "  plane %s: %llu bits, PSNR %.2f dB\n", kPlaneNames[p],
                 static_cast<unsigned long long>(bits[p]), VideoPsnr(sse[p], samples[p]));
  }
  std::fprintf(out, "  block types:");
  PrintTypes(out, types, subs);
  std::fprintf(out, "\n");
  for (size_t t = 0; t < stats.audio_bytes.size(); t++) {
    std::fprintf(out, "  audio track %zu (id %u): %llu bytes", t, options.audio[t].id,
                 static_cast<unsigned long long>(stats.audio_bytes[t]));
    if (t < stats.audio_quality.size()) std::fprintf(out, ", quality %d", stats.audio_quality[t]);
    if (t < stats.audio_snr.size()) std::fprintf(out, ", SNR %.2f dB", stats.audio_snr[t]);
    std::fprintf(out, "\n");
  }
}
