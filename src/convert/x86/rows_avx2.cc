#include "convert/families.h"

void Avx2Kernels(FamilyKernels[FAMILY_COUNT]) {}
