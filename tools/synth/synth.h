// Procedural pictures and sound. The project has no sample movies: the demo,
// the benchmarks, the closing logo and the round-trip tests all encode what
// these functions draw.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/video_encoder.h"

enum class SynthScene {
  kDemo,      // gradient sky, moving shapes, scrolling text, frame counter
  kNatural,   // panned fractal texture with drifting objects (camera-like motion)
  kGradient,  // smooth colour ramps that shift slowly
  kNoise,     // fresh random noise every frame (worst case for prediction)
  kShapes,    // flat-coloured shapes and stripes on a flat background
  kLogo,      // the closing logo: emblem and name on a dark panel
};

// Draws frame `frame` (0-based) of a scene into *picture (resized to width x
// height; alpha filled when with_alpha: a soft ellipse).
void SynthPicture(SynthScene scene, uint32_t frame, uint32_t width, uint32_t height,
                  bool with_alpha, VideoPicture* picture);

// A short melody on a soft tone, interleaved signed 16-bit, seconds long.
void SynthMelody(uint32_t rate, uint32_t channels, double seconds, std::vector<int16_t>* pcm);

// Writes text with the built-in 5x7 capitals-and-digits font into an RGB
// canvas (3 bytes per pixel), each font pixel a scale x scale square.
void SynthText(uint8_t* rgb, uint32_t width, uint32_t height, int32_t x, int32_t y,
               const char* text, uint32_t scale, const uint8_t colour[3]);

// Converts an RGB canvas into the picture's studio-range Y, U, V planes.
void SynthRgbToPicture(const uint8_t* rgb, uint32_t width, uint32_t height,
                       VideoPicture* picture);
