#include "convert/families.h"

void Sse2Kernels(FamilyKernels[FAMILY_COUNT]) {}
