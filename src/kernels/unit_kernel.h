// The unit bank's per-block processing over a range of units: each visited
// unit filtered, run through its delay line and tapped, the outputs summed
// with alternating signs. Every visited unit reads `input` before any output
// is written, so `input` may alias an output; outputs are overwritten, left
// before right per sample.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"
#include "kernels/kernel_path.h"

// Units first, first+1, ..., end-1; n <= kMaxKernelBlock.
void processUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input, float* outLeft,
                  float* outRight, uint32_t n);
// Units first, first+2, ... below end.
void processAlternateUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input,
                           float* outLeft, float* outRight, uint32_t n);

// The one procedure behind both: units first, first + stride, ... below end
// (end is held to kMaxUnits); n is held to kMaxKernelBlock. path selects the
// implementation; all give the same bits.
void processUnitRange(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride,
                      const float* input, float* outLeft, float* outRight, uint32_t n,
                      KernelPath path);
