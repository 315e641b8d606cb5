// The unit bank's per-block processing over a range of units. Every visited
// unit reads `input` before any output is written, so `input` may alias an
// output; outputs are overwritten, left before right per sample.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

// Units first, first+1, ..., end-1; n <= kMaxKernelBlock.
void processUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input, float* outLeft,
                  float* outRight, uint32_t n);
// Units first, first+2, ... below end.
void processAlternateUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input,
                           float* outLeft, float* outRight, uint32_t n);
