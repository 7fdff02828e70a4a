// The writer's side of the video decoder's coefficients
// (video/coefficients.cc): the bit-plane coded DCT coefficients and pixel
// residues that transform and residue blocks carry in their own fields.
#pragma once
#include <cstdint>

#include "writer/bit_writer.h"

// Coefficients 1..63 of coeffs (natural positions; coeffs[0] is ignored,
// magnitudes above 32767 are clamped) and the 4-bit quantiser number.
void WriteDctCoefficients(BitWriter* writer, const int16_t coeffs[64], uint32_t q);
// The number of bits WriteDctCoefficients writes for coeffs, without
// writing them (the block decisions price every quantiser they try).
uint32_t DctCoefficientBits(const int16_t coeffs[64]);
// The same count from each 2x2 square's longest magnitude bit length
// (square 4 r + c covers rows 2r, 2r + 1 and columns 2c, 2c + 1; the DC is
// left out, magnitudes clamped to 32767) and the number of non-zero AC
// coefficients: what the vector kernels gather before this last step.
uint32_t DctBitsFromSquares(const int32_t lengths[16], uint32_t nonzero);
// The 7-bit count field and the residue (natural positions). A residue
// needing more than 128 operations is cut after the 128th; decoded receives
// what the decoder will rebuild (natural positions).
void WriteResidue(BitWriter* writer, const int8_t residue[64], int8_t decoded[64]);
