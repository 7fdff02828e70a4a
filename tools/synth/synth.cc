#include "synth/synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Glyph {
  char c;
  uint8_t rows[7];  // 5 bits each, bit 4 = leftmost column
};

constexpr Glyph kFont[] = {
    {'A', {0b01110, 0b10001, 0b10001, 0b11111, 0b10001, 0b10001, 0b10001}},
    {'B', {0b11110, 0b10001, 0b10001, 0b11110, 0b10001, 0b10001, 0b11110}},
    {'C', {0b01110, 0b10001, 0b10000, 0b10000, 0b10000, 0b10001, 0b01110}},
    {'D', {0b11110, 0b10001, 0b10001, 0b10001, 0b10001, 0b10001, 0b11110}},
    {'E', {0b11111, 0b10000, 0b10000, 0b11110, 0b10000, 0b10000, 0b11111}},
    {'F', {0b11111, 0b10000, 0b10000, 0b11110, 0b10000, 0b10000, 0b10000}},
    {'G', {0b01110, 0b10001, 0b10000, 0b10111, 0b10001, 0b10001, 0b01111}},
    {'H', {0b10001, 0b10001, 0b10001, 0b11111, 0b10001, 0b10001, 0b10001}},
    {'I', {0b01110, 0b00100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110}},
    {'J', {0b00111, 0b00010, 0b00010, 0b00010, 0b00010, 0b10010, 0b01100}},
    {'K', {0b10001, 0b10010, 0b10100, 0b11000, 0b10100, 0b10010, 0b10001}},
    {'L', {0b10000, 0b10000, 0b10000, 0b10000, 0b10000, 0b10000, 0b11111}},
    {'M', {0b10001, 0b11011, 0b10101, 0b10101, 0b10001, 0b10001, 0b10001}},
    {'N', {0b10001, 0b10001, 0b11001, 0b10101, 0b10011, 0b10001, 0b10001}},
    {'O', {0b01110, 0b10001, 0b10001, 0b10001, 0b10001, 0b10001, 0b01110}},
    {'P', {0b11110, 0b10001, 0b10001, 0b11110, 0b10000, 0b10000, 0b10000}},
    {'Q', {0b01110, 0b10001, 0b10001, 0b10001, 0b10101, 0b10010, 0b01101}},
    {'R', {0b11110, 0b10001, 0b10001, 0b11110, 0b10100, 0b10010, 0b10001}},
    {'S', {0b01111, 0b10000, 0b10000, 0b01110, 0b00001, 0b00001, 0b11110}},
    {'T', {0b11111, 0b00100, 0b00100, 0b00100, 0b00100, 0b00100, 0b00100}},
    {'U', {0b10001, 0b10001, 0b10001, 0b10001, 0b10001, 0b10001, 0b01110}},
    {'V', {0b10001, 0b10001, 0b10001, 0b10001, 0b10001, 0b01010, 0b00100}},
    {'W', {0b10001, 0b10001, 0b10001, 0b10101, 0b10101, 0b10101, 0b01010}},
    {'X', {0b10001, 0b10001, 0b01010, 0b00100, 0b01010, 0b10001, 0b10001}},
    {'Y', {0b10001, 0b10001, 0b01010, 0b00100, 0b00100, 0b00100, 0b00100}},
    {'Z', {0b11111, 0b00001, 0b00010, 0b00100, 0b01000, 0b10000, 0b11111}},
    {'0', {0b01110, 0b10001, 0b10011, 0b10101, 0b11001, 0b10001, 0b01110}},
    {'1', {0b00100, 0b01100, 0b00100, 0b00100, 0b00100, 0b00100, 0b01110}},
    {'2', {0b01110, 0b10001, 0b00001, 0b00010, 0b00100, 0b01000, 0b11111}},
    {'3', {0b11111, 0b00010, 0b00100, 0b00010, 0b00001, 0b10001, 0b01110}},
    {'4', {0b00010, 0b00110, 0b01010, 0b10010, 0b11111, 0b00010, 0b00010}},
    {'5', {0b11111, 0b10000, 0b11110, 0b00001, 0b00001, 0b10001, 0b01110}},
    {'6', {0b00110, 0b01000, 0b10000, 0b11110, 0b10001, 0b10001, 0b01110}},
    {'7', {0b11111, 0b00001, 0b00010, 0b00100, 0b01000, 0b01000, 0b01000}},
    {'8', {0b01110, 0b10001, 0b10001, 0b01110, 0b10001, 0b10001, 0b01110}},
    {'9', {0b01110, 0b10001, 0b10001, 0b01111, 0b00001, 0b00010, 0b01100}},
    {'.', {0b00000, 0b00000, 0b00000, 0b00000, 0b00000, 0b01100, 0b01100}},
    {':', {0b00000, 0b01100, 0b01100, 0b00000, 0b01100, 0b01100, 0b00000}},
    {'-', {0b00000, 0b00000, 0b00000, 0b11111, 0b00000, 0b00000, 0b00000}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return &g;
  return nullptr;
}

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); }

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 13;
  h *= 0x5BD1E995u;
  return h ^ (h >> 15);
}

// Smooth value noise in 0..1 with a lattice step of `cell` pixels.
double ValueNoise(double x, double y, double cell, uint32_t seed) {
  double fx = x / cell, fy = y / cell;
  double ix = std::floor(fx), iy = std::floor(fy);
  double tx = fx - ix, ty = fy - iy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  uint32_t x0 = static_cast<uint32_t>(static_cast<int64_t>(ix));
  uint32_t y0 = static_cast<uint32_t>(static_cast<int64_t>(iy));
  auto v = [&](uint32_t a, uint32_t b) { return (Hash(a, b, seed) & 0xFFFF) / 65535.0; };
  double top = v(x0, y0) + (v(x0 + 1, y0) - v(x0, y0)) * tx;
  double bottom = v(x0, y0 + 1) + (v(x0 + 1, y0 + 1) - v(x0, y0 + 1)) * tx;
  return top + (bottom - top) * ty;
}

double Fractal(double x, double y, uint32_t seed) {
  return 0.5 * ValueNoise(x, y, 64, seed) + 0.25 * ValueNoise(x, y, 23, seed + 1) +
         0.15 * ValueNoise(x, y, 8, seed + 2) + 0.10 * ValueNoise(x, y, 3, seed + 3);
}

struct Canvas {
  uint32_t width, height;
  std::vector<uint8_t> rgb;
  void Put(int32_t x, int32_t y, const uint8_t c[3]) {
    if (x < 0 || y < 0 || x >= static_cast<int32_t>(width) || y >= static_cast<int32_t>(height))
      return;
    std::memcpy(&rgb[(size_t{static_cast<uint32_t>(y)} * width + static_cast<uint32_t>(x)) * 3], c, 3);
  }
  void Disc(double cx, double cy, double r, const uint8_t c[3]) {
    for (int32_t y = static_cast<int32_t>(cy - r); y <= static_cast<int32_t>(cy + r) + 1; y++)
      for (int32_t x = static_cast<int32_t>(cx - r); x <= static_cast<int32_t>(cx + r) + 1; x++)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) Put(x, y, c);
  }
  void Box(int32_t x0, int32_t y0, int32_t w, int32_t h, const uint8_t c[3]) {
    for (int32_t y = y0; y < y0 + h; y++)
      for (int32_t x = x0; x < x0 + w; x++) Put(x, y, c);
  }
};

void DrawDemo(Canvas* cv, uint32_t frame) {
  double t = frame / 30.0;
  uint32_t w = cv->width, h = cv->height;
  uint32_t horizon = h * 2 / 3;
  for (uint32_t y = 0; y < h; y++) {
    for (uint32_t x = 0; x < w; x++) {
      uint8_t* p = &cv->rgb[(size_t{y} * w + x) * 3];
      if (y < horizon) {  // sky: slow dusk gradient
        double k = static_cast<double>(y) / horizon;
        double dusk = 0.5 + 0.5 * std::sin(t * 0.3);
        p[0] = Clamp8(40 + 180 * k * dusk + 20 * (1 - k));
        p[1] = Clamp8(80 + 60 * k);
        p[2] = Clamp8(200 - 120 * k * dusk);
      } else {  // floor: scrolling checkerboard
        // Tiles sized for the picture height, so that the far rows do not
        // shimmer finer than a pixel.
        double depth = static_cast<double>(y - horizon) / h + 0.05;
        int32_t u = static_cast<int32_t>((static_cast<double>(x) - w / 2.0) / h * 1.5 / depth + 1000);
        int32_t v = static_cast<int32_t>(0.6 / depth + t * 2);
        bool dark = (u + v) & 1;
        p[0] = dark ? 30 : 200;
        p[1] = dark ? 90 : 210;
        p[2] = dark ? 40 : 180;
      }
    }
  }
  const uint8_t sun[3] = {255, 220, 90};
  cv->Disc(w * (0.15 + 0.7 * std::fmod(t * 0.05, 1.0)), horizon * 0.3, h / 10.0, sun);
  const uint8_t ball[3] = {220, 40, 60};
  double bounce = std::fabs(std::sin(t * 2.2));
  cv->Disc(w * (0.5 + 0.35 * std::sin(t * 0.7)), horizon - bounce * h * 0.4, h / 14.0, ball);
  const uint8_t box[3] = {60, 60, 230};
  cv->Box(static_cast<int32_t>(w * (0.8 - 0.6 * std::fmod(t * 0.1, 1.0))),
          static_cast<int32_t>(horizon + h / 12), static_cast<int32_t>(w / 8),
          static_cast<int32_t>(h / 10), box);
  const uint8_t white[3] = {255, 255, 255};
  uint32_t scale = std::max<uint32_t>(1, h / 120);
  int32_t scroll = static_cast<int32_t>(w) - static_cast<int32_t>(frame * 2 % (w + 600));
  SynthText(cv->rgb.data(), w, h, scroll, static_cast<int32_t>(h / 20),
            "VORN MOVIE DEMO - MADE BY THE ENCODER", scale, white);
  char counter[32];
  std::snprintf(counter, sizeof counter, "FRAME %u", frame + 1);
  const uint8_t yellow[3] = {255, 255, 0};
  SynthText(cv->rgb.data(), w, h, 4, static_cast<int32_t>(h - 8 * scale - 4), counter, scale,
            yellow);
}

void DrawNatural(Canvas* cv, uint32_t frame) {
  uint32_t w = cv->width, h = cv->height;
  // A camera pan of about two pixels a frame with a slight vertical drift.
  double pan_x = frame * 2.0, pan_y = frame * 0.5;
  for (uint32_t y = 0; y < h; y++) {
    for (uint32_t x = 0; x < w; x++) {
      double gx = x + pan_x, gy = y + pan_y;
      double land = Fractal(gx, gy, 7);
      double moss = Fractal(gx * 0.5, gy * 0.5, 99);
      uint8_t* p = &cv->rgb[(size_t{y} * w + x) * 3];
      p[0] = Clamp8(60 + 150 * land * (1 - 0.4 * moss));
      p[1] = Clamp8(70 + 140 * land * (0.6 + 0.5 * moss));
      p[2] = Clamp8(40 + 90 * moss);
    }
  }
  // Objects moving against the pan.
  for (int i = 0; i < 3; i++) {
    double cx = std::fmod(w * (0.2 + 0.3 * i) + frame * (1.5 + i), w + 80.0) - 40;
    double cy = h * (0.3 + 0.2 * i) + 10 * std::sin(frame * 0.1 + i);
    uint8_t colour[3] = {static_cast<uint8_t>(200 - 60 * i), static_cast<uint8_t>(80 + 50 * i),
                         static_cast<uint8_t>(60 + 70 * i)};
    cv->Disc(cx, cy, h / 12.0, colour);
  }
}

void DrawGradient(Canvas* cv, uint32_t frame) {
  uint32_t w = cv->width, h = cv->height;
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) {
      uint8_t* p = &cv->rgb[(size_t{y} * w + x) * 3];
      p[0] = Clamp8(255.0 * x / std::max(1u, w - 1));
      p[1] = Clamp8(255.0 * y / std::max(1u, h - 1));
      p[2] = Clamp8(128 + 100 * std::sin((x + y + frame * 3) * 0.02));
    }
}

// Fine noise above, noise of 2x2 cells (like an enlarged picture) below.
void DrawNoise(Canvas* cv, uint32_t frame) {
  for (uint32_t y = 0; y < cv->height; y++)
    for (uint32_t x = 0; x < cv->width; x++) {
      uint32_t cell = y < cv->height / 2 ? y * cv->width + x : (y / 2) * cv->width + x / 2 + 1000000;
      for (uint32_t c = 0; c < 3; c++)
        cv->rgb[(size_t{y} * cv->width + x) * 3 + c] =
            static_cast<uint8_t>(Hash(cell * 3 + c, frame, 5) >> 24);
    }
}

void DrawShapes(Canvas* cv, uint32_t frame) {
  const uint8_t background[3] = {20, 30, 90};
  cv->Box(0, 0, static_cast<int32_t>(cv->width), static_cast<int32_t>(cv->height), background);
  int32_t w = static_cast<int32_t>(cv->width), h = static_cast<int32_t>(cv->height);
  // Thin stripes (two-colour blocks), a flat box and a disc that move.
  const uint8_t stripe[3] = {240, 240, 240};
  for (int32_t x = 0; x < w / 3; x += 3) cv->Box(x, h / 2, 1, h / 2, stripe);
  const uint8_t red[3] = {230, 30, 30};
  cv->Box(static_cast<int32_t>(frame * 3 % static_cast<uint32_t>(w)), h / 8, w / 4, h / 4, red);
  const uint8_t green[3] = {30, 220, 60};
  cv->Disc(w * 0.7, h * 0.6 + frame % 16, h / 6.0, green);
  const uint8_t yellow[3] = {250, 230, 20};
  SynthText(cv->rgb.data(), cv->width, cv->height, w / 2 - 20, 2, "VORN", 1, yellow);
}

void DrawLogo(Canvas* cv) {
  int32_t w = static_cast<int32_t>(cv->width), h = static_cast<int32_t>(cv->height);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {  // dark panel with a soft vertical sheen
      uint8_t* p = &cv->rgb[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3];
      double k = static_cast<double>(y) / h;
      p[0] = Clamp8(12 + 20 * k);
      p[1] = Clamp8(16 + 24 * k);
      p[2] = Clamp8(40 + 50 * k);
    }
  // The emblem: concentric rings around a stylised V.
  double cx = w / 2.0, cy = h * 0.38;
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++) {
      double d = std::hypot(x - cx, y - cy);
      double ring = std::fabs(std::fmod(d, 18.0) - 9.0);
      if (d < 80 && ring < 2.5) {
        uint8_t c[3] = {Clamp8(70 + d), Clamp8(120 + d), 230};
        cv->Put(x, y, c);
      }
    }
  const uint8_t gold[3] = {250, 200, 60};
  for (int32_t i = 0; i < 50; i++) {  // two strokes of the V
    double yy = cy - 40 + i * 1.6;
    cv->Disc(cx - 30 + i * 0.6, yy, 5, gold);
    cv->Disc(cx + 30 - i * 0.6, yy, 5, gold);
  }
  const uint8_t white[3] = {240, 240, 250};
  SynthText(cv->rgb.data(), cv->width, cv->height, w / 2 - 4 * 6 * 3 / 2 + 1,
            static_cast<int32_t>(h * 0.72), "VORN", 3, white);
  const uint8_t grey[3] = {150, 160, 190};
  SynthText(cv->rgb.data(), cv->width, cv->height, w / 2 - 12 * 6 / 2, static_cast<int32_t>(h * 0.86),
            "MOVIE PLAYER", 1, grey);
}

}  // namespace

void SynthText(uint8_t* rgb, uint32_t width, uint32_t height, int32_t x, int32_t y,
               const char* text, uint32_t scale, const uint8_t colour[3]) {
  Canvas view{width, height, {}};
  for (; *text; text++, x += static_cast<int32_t>(6 * scale)) {
    const Glyph* g = FindGlyph(*text);
    if (!g) continue;
    for (int32_t row = 0; row < 7; row++)
      for (int32_t col = 0; col < 5; col++) {
        if (!((g->rows[row] >> (4 - col)) & 1)) continue;
        for (uint32_t sy = 0; sy < scale; sy++)
          for (uint32_t sx = 0; sx < scale; sx++) {
            int32_t px = x + col * static_cast<int32_t>(scale) + static_cast<int32_t>(sx);
            int32_t py = y + row * static_cast<int32_t>(scale) + static_cast<int32_t>(sy);
            if (px >= 0 && py >= 0 && px < static_cast<int32_t>(width) &&
                py < static_cast<int32_t>(height))
              std::memcpy(&rgb[(size_t{static_cast<uint32_t>(py)} * width + static_cast<uint32_t>(px)) * 3],
                          colour, 3);
          }
      }
  }
}

void SynthRgbToPicture(const uint8_t* rgb, uint32_t width, uint32_t height,
                       VideoPicture* picture) {
  uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
  std::vector<double> u_sum(size_t{cw} * ch, 0), v_sum(size_t{cw} * ch, 0), n(size_t{cw} * ch, 0);
  for (uint32_t y = 0; y < height; y++)
    for (uint32_t x = 0; x < width; x++) {
      const uint8_t* p = &rgb[(size_t{y} * width + x) * 3];
      double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
      picture->y[size_t{y} * width + x] = Clamp8(16 + 65.481 * r + 128.553 * g + 24.966 * b);
      size_t c = size_t{y / 2} * cw + x / 2;
      u_sum[c] += -37.797 * r - 74.203 * g + 112.0 * b;
      v_sum[c] += 112.0 * r - 93.786 * g - 18.214 * b;
      n[c] += 1;
    }
  for (size_t c = 0; c < u_sum.size(); c++) {
    picture->u[c] = Clamp8(128 + u_sum[c] / n[c]);
    picture->v[c] = Clamp8(128 + v_sum[c] / n[c]);
  }
}

void SynthPicture(SynthScene scene, uint32_t frame, uint32_t width, uint32_t height,
                  bool with_alpha, VideoPicture* picture) {
  VideoPictureInit(picture, width, height, with_alpha);
  Canvas cv{width, height, std::vector<uint8_t>(size_t{width} * height * 3, 0)};
  switch (scene) {
    case SynthScene::kDemo: DrawDemo(&cv, frame); break;
    case SynthScene::kNatural: DrawNatural(&cv, frame); break;
    case SynthScene::kGradient: DrawGradient(&cv, frame); break;
    case SynthScene::kNoise: DrawNoise(&cv, frame); break;
    case SynthScene::kShapes: DrawShapes(&cv, frame); break;
    case SynthScene::kLogo: DrawLogo(&cv); break;
  }
  SynthRgbToPicture(cv.rgb.data(), width, height, picture);
  if (with_alpha) {
    double cx = width / 2.0 + 3.0 * frame, cy = height / 2.0;
    double rx = width * 0.4, ry = height * 0.4;
    for (uint32_t y = 0; y < height; y++)
      for (uint32_t x = 0; x < width; x++) {
        double d = std::hypot((x - cx) / rx, (y - cy) / ry);
        picture->a[size_t{y} * width + x] = Clamp8(255 * std::clamp((1.2 - d) * 4, 0.0, 1.0));
      }
  }
}

void SynthMelody(uint32_t rate, uint32_t channels, double seconds, std::vector<int16_t>* pcm) {
  // A pentatonic phrase of eighth notes at 120 beats a minute, looping.
  static constexpr int kNotes[] = {0, 2, 4, 7, 9, 7, 4, 2, 0, 4, 7, 12, 9, 7, 4, 0};
  size_t count = static_cast<size_t>(seconds * rate);
  pcm->assign(count * channels, 0);
  double note_len = 0.25;
  for (size_t i = 0; i < count; i++) {
    double t = static_cast<double>(i) / rate;
    size_t note = static_cast<size_t>(t / note_len);
    double in_note = t - note * note_len;
    double freq = 220.0 * std::pow(2.0, kNotes[note % 16] / 12.0);
    double env = std::exp(-in_note * 6) * std::min(1.0, in_note * 200);
    double tone = std::sin(2 * kPi * freq * t) + 0.3 * std::sin(4 * kPi * freq * t);
    double bass = 0.4 * std::sin(2 * kPi * 55.0 * t) * (0.6 + 0.4 * std::sin(2 * kPi * 0.5 * t));
    double left = 0.35 * env * tone + 0.25 * bass;
    double pan = 0.5 + 0.4 * std::sin(2 * kPi * t / 4);
    if (channels == 1) {
      (*pcm)[i] = static_cast<int16_t>(std::lround(left * 22000));
    } else {
      (*pcm)[2 * i] = static_cast<int16_t>(std::lround((0.35 * env * tone * (1 - pan) * 2 + 0.25 * bass) * 22000 * 0.7));
      (*pcm)[2 * i + 1] = static_cast<int16_t>(std::lround((0.35 * env * tone * pan * 2 + 0.25 * bass) * 22000 * 0.7));
    }
  }
}
