// The unit bank's vector kernel for eight units per AVX2 vector; only where the CPU has AVX2.
#pragma once

#include "kernels/vector_unit_job.h"

#if defined(__x86_64__)
void runUnitsAvx2(const VectorUnitJob& job);
#endif
