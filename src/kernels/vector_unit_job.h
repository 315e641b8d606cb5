// The hand-over from the unit-bank driver to the vector kernels: one block
// of up to 16 samples through a range of units.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

struct VectorUnitJob {
    UnitBank* bank;
    const float* input;  // n samples, the same for every unit
    // The units visited: first, first + stride, ... (count of them).
    uint64_t first;
    uint32_t stride;  // 1 or 2
    uint32_t count;   // 1 .. kMaxUnits
    uint32_t n;       // 1 .. kBlockLength
    // Runs a unit the lanes cannot take through the per-sample procedure,
    // main + tap A into left and main + tap B into right.
    void (*runAlone)(UnitBank& bank, uint64_t unit, const float* input, float* left, float* right, uint32_t n);
    // Rows for the contributions main + tap of units the lanes do not
    // write and tap themselves, by visiting index (the kernel's scratch,
    // whole vectors long).
    float (*contribLeft)[kBlockLength];
    float (*contribRight)[kBlockLength];
    // Out: n samples each, the contributions added, subtracted, added, ...
    // in visiting order.
    float* sumLeft;
    float* sumRight;
};

// Runs every visited unit over the block (input gain, input filter, delay
// line and taps) with the same bits as the per-sample procedure: one entry
// point per instruction set, vector_kernel_sse2.h, _avx2.h and _avx512.h.
typedef void (*VectorKernel)(const VectorUnitJob& job);
