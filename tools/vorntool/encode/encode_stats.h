// The --stats report of `vorntool encode` and `vorntool demo`: per frame and
// in total, the block types used, the bits of every plane, PSNR per plane and
// the SNR of each decoded audio track.
#pragma once
#include <cstdio>

#include "writer/encode_movie.h"

void PrintEncodeStats(std::FILE* out, const MovieEncodeOptions& options,
                      const MovieEncodeStats& stats, size_t movie_bytes);
