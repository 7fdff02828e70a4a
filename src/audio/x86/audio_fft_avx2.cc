// AVX2 kernels of the audio transforms.
#include <immintrin.h>

#include "audio/audio_transform.h"

void AudioKernelsInitAvx2(AudioFftKernels*) {}
