// Rate-aware quantisation of transform blocks. Plain rounding (with a dead
// zone) gives each coefficient its nearest level, but in the bit-plane
// coding a lone small coefficient can cost many bits: the flags that open
// its group of four, its own flags in every later plane, and a whole extra
// plane for the block when it alone reaches it. Trimming lowers such levels
// where the bits saved are worth more than the error they add.
#pragma once
#include <cstdint>


// Quantises transform values (ForwardDctRaw's) with the reciprocal steps of
// one table into levels at natural positions (out[0], the DC, set to 0: it
// travels apart); returns the number of non-zero AC levels. Values just
// above a rounding step go to the lower level (a dead zone: levels are
// (|x| + 0.5 - dead_zone) truncated), which saves more bits than it costs
// error. Levels are clamped to 32767.
int QuantiseLevels(const float values[64], const float inverse_steps[64], float dead_zone,
                   int16_t out[64]);

// Squared sample error that one unit of ForwardDctRaw's value at each
// natural position makes (its basis picture's squared length).
const float* TransformGains();

// Lowers the AC levels of coeffs (natural positions; coeffs[0], the DC, is
// left alone) one step at a time, from the highest coded index down, while
// a step saves more bits (times lambda, squared error per bit) than the
// error it adds. values: ForwardDctRaw's output; inverse_steps: the
// reciprocal quantiser steps the levels came from; count_bits: the
// coefficient bit count (DctCoefficientBits or a kernel of it). Returns the
// bits of the coefficient coding after trimming.
uint32_t TrimCoefficients(const float values[64], const float inverse_steps[64], double lambda,
                          uint32_t (*count_bits)(const int16_t coeffs[64]), int16_t coeffs[64]);
