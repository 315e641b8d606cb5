// The one procedure behind both unit kernels: a range of units visited with
// a stride, each filtered, run through its delay line and tapped, their
// outputs summed with alternating signs.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"
#include "kernels/delay_line.h"

// Units first, first + stride, ... below end (end is held to kMaxUnits);
// n is held to kMaxKernelBlock. path selects whether blocks without events
// may take the fast loop.
void processUnitRange(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride,
                      const float* input, float* outLeft, float* outRight, uint32_t n,
                      DelayLinePath path);
