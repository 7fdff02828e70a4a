// Reading the transform coefficients and pixel residues that intra, inter and
// residue blocks carry in the plane's bit stream, coded in bit planes.
#pragma once
#include <cstdint>

#include "video/bit_reader.h"

// Reads coefficients 1..63 into block at their natural positions (block[0],
// the DC, is left as the caller put it) and then the 4-bit quantiser number,
// which it returns.
uint32_t ReadDctCoefficients(BitReader* reader, int16_t block[64]);

// Reads a residue into block (natural positions, all 64 written) given the
// count n from the block's 7-bit field: the residue ends after operation n + 1.
void ReadResidue(BitReader* reader, uint32_t n, int8_t block[64]);
