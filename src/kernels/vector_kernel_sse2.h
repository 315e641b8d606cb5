// The unit bank's vector kernel for the x86-64 baseline: four units per SSE2 vector.
#pragma once

#include "kernels/vector_unit_job.h"

#if defined(__x86_64__)
void runUnitsSse2(const VectorUnitJob& job);
#endif
