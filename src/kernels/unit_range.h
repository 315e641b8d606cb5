// The one procedure behind both unit kernels: a range of units visited with
// a stride, each filtered, run through its delay line and tapped, their
// outputs summed with alternating signs.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"
#include "kernels/kernel_path.h"

// Units first, first + stride, ... below end (end is held to kMaxUnits);
// n is held to kMaxKernelBlock. path selects the implementation; all give
// the same bits.
void processUnitRange(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride,
                      const float* input, float* outLeft, float* outRight, uint32_t n,
                      KernelPath path);
