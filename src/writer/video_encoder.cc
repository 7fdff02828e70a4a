#include "writer/video_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/cpu.h"
#include "writer/encode_blocks.h"
#include "writer/encode_plane.h"
#include "writer/encode_trees.h"
#include "writer/plane_syntax.h"
#include "writer/writer_memory.h"

namespace {

enum PlaneIndex { kLuma = 0, kChromaU = 1, kChromaV = 2, kAlpha = 3 };

uint32_t RoundUp(uint32_t v, uint32_t m) { return (v + m - 1) / m * m; }

struct PlaneGeometry {
  uint32_t offset;          // in the frame buffer (alpha: in the alpha plane)
  uint32_t pitch;
  uint32_t width, height;   // visible samples
  uint32_t width8, height8;
};

}  // namespace

struct VideoEncoder {
  VideoEncoderOptions options;
  uint32_t pitch = 0, rows = 0;
  PlaneGeometry planes[4];
  std::vector<uint8_t> source, source_alpha;
  std::vector<uint8_t> frames[2], alphas[2];
  uint32_t current = 0;            // the buffer holding the last reconstruction
  uint64_t frames_coded = 0;
  uint32_t since_key = 0;
  // Squared error of the first predicted frame after the last key frame:
  // what copying costs on this motion before copies of copies add to it
  // (0 until known).
  double first_copy_sse = 0;
  double samples_coded = 0;        // samples of the planes coded per frame
  double lambda = 1;
  PlaneCostModel models[3];        // luma, chroma, alpha
  std::vector<MotionVector> vectors[4];
  EncodeKernels kernels;  // set up at creation for this processor
  std::vector<BlockChoice> choice_store;  // the planes' block choices, reused
  // Each plane's syntax, reused: its rows keep the storage the last frame
  // grew, instead of growing it again value by value.
  PlaneSyntax syntax[4];
  bool measure_flows = false;
  std::vector<BlockFlow> flows;    // the last frame's, when measured
  std::vector<float> area_scales;  // lambda per 16x16 luma area, when set
  // The fastest speed: frames in a row where the key coding beat the inter
  // coding it was tried against, and frames still to be coded as key frames
  // without trying the inter coding first.
  uint32_t keys_won = 0, keys_trusted = 0;
  // What VideoEncoderUndoLast restores: the state before the last frame.
  struct Saved {
    uint32_t current = 0;
    uint64_t frames_coded = 0;
    uint32_t since_key = 0;
    uint32_t keys_won = 0, keys_trusted = 0;
    double first_copy_sse = 0;
    PlaneCostModel models[3];
    std::vector<MotionVector> vectors[4];
    bool valid = false;
  } saved;
};

namespace {

// Rate control by quality: lambda (squared error per bit) follows these
// anchors, log-linear between them; chosen so that typical camera-like
// content lands near 46, 42, 38 and 34 dB PSNR at qualities 90, 75, 50, 25.
double LambdaFromQuality(int quality) {
  static constexpr double kAnchors[][2] = {{1, 8000}, {25, 800}, {50, 150},
                                           {75, 20},  {90, 2},   {100, 0.25}};
  for (int i = 0; i < 5; i++) {
    if (quality > kAnchors[i + 1][0]) continue;
    double t = (quality - kAnchors[i][0]) / (kAnchors[i + 1][0] - kAnchors[i][0]);
    return std::exp2(std::log2(kAnchors[i][1]) * (1 - t) + std::log2(kAnchors[i + 1][1]) * t);
  }
  return kAnchors[5][1];
}

// The first guess at the quantiser numbers worth trying: a coefficient step
// that balances lambda. Each plane kind then follows the numbers its last
// plane actually chose.
int QuantiserForLambda(double lambda) {
  static constexpr double kScale[16] = {1, 4. / 3, 5. / 3, 2, 8. / 3, 3.5, 4, 5,
                                        6, 8, 12, 17, 22, 28, 34, 44};
  double wanted = std::sqrt(lambda);
  int q = 0;
  while (q < 15 && kScale[q + 1] <= wanted) q++;
  return q;
}

void SetLambda(VideoEncoder* e, double lambda) {
  e->lambda = lambda;
  int q = QuantiserForLambda(lambda);
  // The numbers each plane kind learnt stay while they are near the guess;
  // a large change of lambda moves them at once.
  for (PlaneCostModel& m : e->models)
    if (std::abs(m.base_q - q) > 2) m.base_q = q;
}

void SetQuality(VideoEncoder* e, int quality) {
  e->lambda = LambdaFromQuality(quality);
  for (PlaneCostModel& m : e->models) m.base_q = QuantiserForLambda(e->lambda);
}

// Copies a visible plane into the padded source, repeating the last column
// and line into the padding so that edge blocks stay smooth.
void PadPlane(const uint8_t* src, uint32_t width, uint32_t height, uint8_t* dest,
              uint32_t pitch, uint32_t width8, uint32_t height8) {
  for (uint32_t y = 0; y < height8; y++) {
    const uint8_t* line = src + size_t{std::min(y, height - 1)} * width;
    uint8_t* out = dest + size_t{y} * pitch;
    std::memcpy(out, line, width);
    std::memset(out + width, line[width - 1], width8 - width);
  }
}

double PlaneSse(const EncodeKernels& kernels, const uint8_t* picture, const uint8_t* recon,
                const PlaneGeometry& g) {
  double sum = 0;
  for (uint32_t y = 0; y < g.height; y++) {
    const uint8_t* a = picture + size_t{y} * g.width;
    const uint8_t* b = recon + size_t{y} * g.pitch;
    uint64_t line = 0;
    // The kernel takes multiples of 16, at most 4096 at a time (its sums
    // stay within 32 bits); the rest sample by sample.
    uint32_t x = 0;
    for (; x + 16 <= g.width; x += std::min<uint32_t>(4096, (g.width - x) & ~15u))
      line += kernels.sse(a + x, b + x, std::min<uint32_t>(4096, (g.width - x) & ~15u));
    for (; x < g.width; x++) {
      int32_t d = static_cast<int32_t>(a[x]) - b[x];
      line += static_cast<uint64_t>(d * d);
    }
    sum += static_cast<double>(line);
  }
  return sum;
}

}  // namespace

void VideoPictureInit(VideoPicture* picture, uint32_t width, uint32_t height, bool alpha) {
  picture->width = width;
  picture->height = height;
  size_t chroma = size_t{(width + 1) / 2} * ((height + 1) / 2);
  picture->y.assign(size_t{width} * height, 16);
  picture->u.assign(chroma, 128);
  picture->v.assign(chroma, 128);
  picture->a.assign(alpha ? size_t{width} * height : 0, 255);
}

double VideoPsnr(double sse, uint64_t samples) {
  if (samples == 0) return 0;
  if (sse <= 0) return 99;
  return std::min(99.0, 10 * std::log10(255.0 * 255.0 * static_cast<double>(samples) / sse));
}

VideoEncoder* VideoEncoderCreate(const VideoEncoderOptions& options) {
  if (options.width == 0 || options.height == 0 || options.width > 4024 || options.height > 4096)
    return nullptr;
  if (options.version < 'f' || options.version > 'i') return nullptr;
  if (options.quality < 1 || options.quality > 100) return nullptr;
  if (options.speed < 0 || options.speed > 9) return nullptr;
  // The record and its frame buffers: three pictures and their alpha planes.
  const size_t picture_bytes = size_t{RoundUp(options.width, 16)} * RoundUp(options.height, 16) * 5 / 2;
  if (!WriterMayAllocate(sizeof(VideoEncoder) + 4 * picture_bytes)) return nullptr;
  auto* e = new (std::nothrow) VideoEncoder;
  if (!e) return nullptr;
  EncodeKernelsInit(&e->kernels, CpuFeatures());
  e->options = options;
  e->pitch = RoundUp(options.width, 16);
  e->rows = RoundUp(options.height, 16);
  uint32_t luma_bytes = e->pitch * e->rows;
  uint32_t chroma_bytes = (e->pitch / 2) * (e->rows / 2);
  uint32_t cw = (options.width + 1) / 2, ch = (options.height + 1) / 2;
  e->planes[kLuma] = {0, e->pitch, options.width, options.height, RoundUp(options.width, 8),
                      RoundUp(options.height, 8)};
  // The stream's first chroma plane drives red (V), except in versions f
  // and g, which store U first; the buffer keeps the stream's order.
  bool u_first = options.version == 'f' || options.version == 'g';
  PlaneGeometry chroma{0, e->pitch / 2, cw, ch, RoundUp(cw, 8), RoundUp(ch, 8)};
  e->planes[kChromaU] = chroma;
  e->planes[kChromaV] = chroma;
  e->planes[u_first ? kChromaU : kChromaV].offset = luma_bytes;
  e->planes[u_first ? kChromaV : kChromaU].offset = luma_bytes + chroma_bytes;
  e->planes[kAlpha] = e->planes[kLuma];
  for (int p = 0; p < 4; p++) {
    bool coded = p == kLuma || (p == kAlpha ? options.alpha : !options.grey);
    if (coded) e->samples_coded += static_cast<double>(e->planes[p].width8) * e->planes[p].height8;
  }
  size_t frame_bytes = size_t{luma_bytes} + 2 * chroma_bytes;
  e->source.assign(frame_bytes, 0);
  for (auto& f : e->frames) f.assign(frame_bytes, 0);
  if (options.alpha) {
    e->source_alpha.assign(luma_bytes, 0);
    for (auto& a : e->alphas) a.assign(luma_bytes, 0);
  }
  SetQuality(e, options.quality);
  return e;
}

void VideoEncoderDestroy(VideoEncoder* encoder) { delete encoder; }

namespace {

struct FrameWork {
  std::vector<uint8_t> coded[4];
  std::vector<uint8_t> luma_types;  // when flows are measured
  PlaneEncodeResult results[4];
  double cost = 0;  // squared error + lambda x bits over all planes
  bool ok = true;   // every plane could be written
};

// refresh: a key frame tried in place of a predicted one; it is coded with
// the predicted frames' lambda, so that the two compare like for like.
void EncodeFramePlanes(VideoEncoder* e, bool key, FrameWork* work, bool refresh = false) {
  const VideoEncoderOptions& o = e->options;
  uint32_t next = e->current ^ 1;
  int plane_count = o.grey ? 1 : 3;
  auto encode = [&](int index, const uint8_t* source, const uint8_t* prev, uint8_t* recon,
                    PlaneCostModel* model) {
    const PlaneGeometry& g = e->planes[index];
    PlaneEncodeArgs args{};
    args.source = source + g.offset;
    args.prev = prev + g.offset;
    args.recon = recon + g.offset;
    args.width8 = g.width8;
    args.height8 = g.height8;
    args.pitch = g.pitch;
    args.kernels = &e->kernels;
    args.key = key;
    args.old_colours = o.version != 'i';
    // Chroma errors are seen less; a larger lambda moves bits to luma. Key
    // frames get a smaller one (unless every frame is a key frame): the
    // frames after them predict from their picture, so their quality pays
    // off again and again.
    double plane_lambda = index == kChromaU || index == kChromaV ? e->lambda * 1.5 : e->lambda;
    args.lambda = key && o.keyint != 1 && !refresh ? plane_lambda * 0.5 : plane_lambda;
    args.base_q = model->base_q;
    args.allowed_types = o.allowed_types;
    args.allowed_sub_types = o.allowed_sub_types;
    args.model = model;
    args.vectors = &e->vectors[index];
    args.speed = SpeedPlanFor(o.speed, o.fastest_shortcuts);
    args.threads = std::max(1u, o.threads);
    args.choice_store = &e->choice_store;
    if (index == kLuma && e->measure_flows) args.block_types = &work->luma_types;
    if (!e->area_scales.empty()) {
      const PlaneGeometry& luma = e->planes[kLuma];
      args.area_scales = e->area_scales.data();
      args.area_cols = (luma.width8 / 8 + 1) / 2;
      args.area_rows = (luma.height8 / 8 + 1) / 2;
      args.area_shift = index == kLuma || index == kAlpha ? 1 : 0;
    }
    if (index == kChromaU || index == kChromaV) {
      args.guide = &e->vectors[kLuma];
      args.guide_cols = e->planes[kLuma].width8 / 8;
    }
    PlaneSyntax& syntax = e->syntax[index];
    work->results[index] = PlaneEncodeResult{};
    EncodePlane(args, &syntax, &work->results[index]);
    RefillPlan plan;
    PlanRefills(syntax, *model, &plan);
    PlaneHistograms histograms;
    GatherPlaneHistograms(syntax, plan, &histograms);
    ChoosePlaneTrees(&syntax, histograms);
    RefineTypeTrees(&syntax, plan, &histograms);
    LearnValueCosts(syntax, histograms, model);
    work->coded[index].clear();
    work->ok = WritePlanePlanned(syntax, plan, &work->coded[index]) && work->ok;
    // The cost that decides between key and inter coding weighs bits alike.
    work->cost += work->results[index].sse + plane_lambda * 8.0 * work->coded[index].size();
  };
  encode(kLuma, e->source.data(), e->frames[e->current].data(), e->frames[next].data(),
         &e->models[0]);
  for (int p = 1; p < plane_count; p++)
    encode(p, e->source.data(), e->frames[e->current].data(), e->frames[next].data(),
           &e->models[1]);
  if (o.alpha)
    encode(kAlpha, e->source_alpha.data(), e->alphas[e->current].data(), e->alphas[next].data(),
           &e->models[2]);
}

// The squared error of a frame's planes against the picture.
double WorkSse(const FrameWork& work) {
  double sse = 0;
  for (const PlaneEncodeResult& r : work.results) sse += r.sse;
  return sse;
}

// Predicted frames that have lost half as much again as the first copy
// after the last key frame had (and a noticeable amount: about 4 per
// sample). Measured from the first copy, not from the key frame itself:
// motion by fractions of a sample costs every copy about the same error,
// which a new key frame removes for one frame only; what grows beyond it is
// the error that copies of copies pile up, which a key frame does remove.
bool Drifted(const VideoEncoder* e, const FrameWork& work) {
  double sse = WorkSse(work);
  return e->first_copy_sse > 0 && sse > 1.5 * e->first_copy_sse && sse > 4.0 * e->samples_coded;
}

// Frames the fastest speed codes as key frames without trying the inter
// coding, once two frames in a row showed the key coding cheaper.
constexpr uint32_t kTrustedKeys = 3;

}  // namespace

bool VideoEncoderEncode(VideoEncoder* e, const VideoPicture& picture, bool force_key,
                        std::vector<uint8_t>* video, VideoFrameStats* stats) {
  const VideoEncoderOptions& o = e->options;
  size_t chroma = size_t{e->planes[kChromaU].width} * e->planes[kChromaU].height;
  if (picture.width != o.width || picture.height != o.height ||
      picture.y.size() != size_t{o.width} * o.height || picture.u.size() != chroma ||
      picture.v.size() != chroma || (o.alpha && picture.a.size() != picture.y.size()))
    return false;
  const uint8_t* inputs[4] = {picture.y.data(), picture.u.data(), picture.v.data(),
                              o.alpha ? picture.a.data() : nullptr};
  for (int p = 0; p < 3; p++) {
    const PlaneGeometry& g = e->planes[p];
    PadPlane(inputs[p], g.width, g.height, e->source.data() + g.offset, g.pitch, g.width8,
             g.height8);
  }
  if (o.alpha) {
    const PlaneGeometry& g = e->planes[kAlpha];
    PadPlane(inputs[kAlpha], g.width, g.height, e->source_alpha.data(), g.pitch, g.width8,
             g.height8);
  }

  e->saved.current = e->current;
  e->saved.frames_coded = e->frames_coded;
  e->saved.since_key = e->since_key;
  e->saved.keys_won = e->keys_won;
  e->saved.keys_trusted = e->keys_trusted;
  e->saved.first_copy_sse = e->first_copy_sse;
  std::copy(std::begin(e->models), std::end(e->models), std::begin(e->saved.models));
  for (int p = 0; p < 4; p++) e->saved.vectors[p] = e->vectors[p];
  e->saved.valid = true;

  bool key = force_key || e->frames_coded == 0 || (o.keyint && e->since_key >= o.keyint);
  FrameWork work;
  bool coded_twice = false;
  if (!key && e->keys_trusted > 0) {
    // Pictures that nothing predicts well (film grain, noise): the fastest
    // speed codes them as key frames straight away for a few frames, as the
    // last ones were, and tries the inter coding again now and then.
    e->keys_trusted--;
    key = true;
    EncodeFramePlanes(e, true, &work, true);
  } else {
    EncodeFramePlanes(e, key, &work);
  }
  if (!key) {
    uint32_t reading = 0, blocks = 0;
    for (const PlaneEncodeResult& r : work.results) {
      reading += r.reading_blocks;
      blocks += r.blocks;
    }
    if (reading == 0) {
      key = true;  // nothing reads the previous frame: it is a key frame as it is
    } else if (o.scene_cuts && (2 * reading < blocks || (o.speed <= 6 && Drifted(e, work)))) {
      // (The fastest settings do not spend a second coding on drift.)
      // Most of the picture no longer predicts from the previous frame, as
      // after a cut, or copies of copies have let the picture drift far
      // from where the last key frame left it: code it as a key frame too
      // and keep that when it costs about the same (a key frame also lets a
      // player start there).
      uint32_t next = e->current ^ 1;
      std::vector<uint8_t> inter_frame(e->frames[next].begin(), e->frames[next].end());
      std::vector<uint8_t> inter_alpha(e->alphas[next].begin(), e->alphas[next].end());
      PlaneCostModel models[3];
      std::copy(std::begin(e->models), std::end(e->models), std::begin(models));
      FrameWork key_work;
      EncodeFramePlanes(e, true, &key_work, true);
      coded_twice = true;
      // The error a key frame removes would otherwise stay in the frames
      // that copy this one: count it once more for them.
      double lasting = std::max(0.0, WorkSse(work) - WorkSse(key_work));
      if (key_work.cost <= 1.05 * work.cost + 2 * lasting) {
        // Two frames in a row won by the key coding are not a cut but
        // pictures that keep changing: prediction gains little, or less
        // than the error its copies would carry on.
        if (o.speed >= 9 && o.fastest_shortcuts) {
          e->keys_won++;
          if (e->keys_won >= 2) e->keys_trusted = kTrustedKeys;
        }
        key = true;
        work = std::move(key_work);
      } else {
        // The trial's costs and quantisers must not steer the next frames.
        std::copy(std::begin(models), std::end(models), std::begin(e->models));
        std::copy(inter_frame.begin(), inter_frame.end(), e->frames[next].begin());
        std::copy(inter_alpha.begin(), inter_alpha.end(), e->alphas[next].begin());
      }
    }
  }

  if (!work.ok) return false;
  if (!key) e->keys_won = 0;
  if (key)
    e->first_copy_sse = 0;
  else if (e->first_copy_sse == 0)
    e->first_copy_sse = WorkSse(work);
  e->flows.clear();
  if (e->measure_flows)
    BlockFlowsFromTypes(work.luma_types.data(), e->vectors[kLuma].data(), work.luma_types.size(),
                        &e->flows);
  std::vector<uint8_t> frame = AssembleVideoFrame(
      work.coded[kLuma], o.grey ? nullptr : &work.coded[o.version <= 'g' ? kChromaU : kChromaV],
      o.grey ? nullptr : &work.coded[o.version <= 'g' ? kChromaV : kChromaU],
      o.alpha ? &work.coded[kAlpha] : nullptr, o.version == 'i');
  video->insert(video->end(), frame.begin(), frame.end());

  e->current ^= 1;
  e->frames_coded++;
  e->since_key = key ? 1 : e->since_key + 1;
  if (stats) {
    *stats = VideoFrameStats{};
    stats->key = key;
    stats->coded_twice = coded_twice;
    for (int p = 0; p < 4; p++) {
      for (int t = 0; t < BLOCK_TYPE_COUNT; t++) {
        stats->block_types[t] += work.results[p].block_types[t];
        stats->sub_types[t] += work.results[p].sub_types[t];
      }
      stats->plane_bits[p] = work.coded[p].size() * 8;
    }
    int planes = o.grey ? 1 : 3;
    for (int p = 0; p < planes; p++) {
      const PlaneGeometry& g = e->planes[p];
      stats->sse[p] = PlaneSse(e->kernels, inputs[p], e->frames[e->current].data() + g.offset, g);
      stats->samples[p] = uint64_t{g.width} * g.height;
    }
    if (o.alpha) {
      const PlaneGeometry& g = e->planes[kAlpha];
      stats->sse[kAlpha] = PlaneSse(e->kernels, inputs[kAlpha], e->alphas[e->current].data(), g);
      stats->samples[kAlpha] = uint64_t{g.width} * g.height;
    }
  }
  return true;
}

void VideoEncoderUndoLast(VideoEncoder* e) {
  if (!e->saved.valid) return;
  e->current = e->saved.current;
  e->frames_coded = e->saved.frames_coded;
  e->since_key = e->saved.since_key;
  e->keys_won = e->saved.keys_won;
  e->keys_trusted = e->saved.keys_trusted;
  e->first_copy_sse = e->saved.first_copy_sse;
  std::copy(std::begin(e->saved.models), std::end(e->saved.models), std::begin(e->models));
  for (int p = 0; p < 4; p++) e->vectors[p] = e->saved.vectors[p];
  e->saved.valid = false;
}

VideoReconView VideoEncoderRecon(const VideoEncoder* e) {
  return {e->frames[e->current].data(),
          e->options.alpha ? e->alphas[e->current].data() : nullptr, e->pitch, e->rows};
}

double VideoLambdaForQuality(int quality) { return LambdaFromQuality(std::clamp(quality, 1, 100)); }

double VideoEncoderLambda(const VideoEncoder* e) { return e->lambda; }

void VideoEncoderSetLambda(VideoEncoder* e, double lambda) {
  if (lambda > 0 && std::isfinite(lambda)) SetLambda(e, lambda);
}

void VideoEncoderMeasureFlows(VideoEncoder* e, bool on) { e->measure_flows = on; }

const std::vector<BlockFlow>& VideoEncoderFlows(const VideoEncoder* e) { return e->flows; }


void VideoEncoderSetAreaScales(VideoEncoder* e, const std::vector<float>& scales) {
  const PlaneGeometry& luma = e->planes[kLuma];
  size_t areas = size_t{(luma.width8 / 8 + 1) / 2} * ((luma.height8 / 8 + 1) / 2);
  if (scales.size() == areas)
    e->area_scales = scales;
  else
    e->area_scales.clear();
}
