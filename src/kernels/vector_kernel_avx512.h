// The unit bank's vector kernel for eight units per 256-bit vector with AVX-512's lookup and masks; only where
// the CPU has AVX-512 with its VL extension.
#pragma once

#include "kernels/vector_unit_job.h"

#if defined(__x86_64__)
void runUnitsAvx512(const VectorUnitJob& job);
#endif
