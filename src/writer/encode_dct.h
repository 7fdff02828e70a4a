// The forward transform that matches the decoder's integer inverse: basis
// vectors and gains are measured from the inverse's own butterfly, so a
// coefficient computed here reconstructs (through IdctPut / IdctAdd with the
// same table) to the block it came from, up to quantisation.
#pragma once
#include <cstdint>

// Coefficients in the decoder's units for table `table` (QUANT_INTRA[q] or
// QUANT_INTER[q]), unquantised, at natural positions. The DC of an intra
// block is coefficients[0] as the intra-DC bundle carries it.
void ForwardDct(const int16_t samples[64], const int32_t table[64], float coefficients[64]);

// The same transform without the table scaling: orthonormal-like values that
// ForwardDctScale turns into coefficients (coefficient = value / step).
void ForwardDctRaw(const int16_t samples[64], float values[64]);
// Its 1-D weights, [frequency k][sample n]: basis vector k divided by its
// squared length (for the vector kernels, which repeat its arithmetic).
const float* ForwardDctWeights();
// The quantiser step of each natural position for a table: the change of
// ForwardDctRaw's value that one coefficient unit makes.
void ForwardDctSteps(const int32_t table[64], float steps[64]);
