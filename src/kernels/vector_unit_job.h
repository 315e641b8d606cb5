// The hand-over from the unit-bank driver to the vector kernels: one
// 16-sample block of the units that may run in vectors.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

struct VectorUnitJob {
    UnitBank* bank;
    const float* input;   // kBlockLength samples, the same for every unit
    const uint8_t* units; // unit indices
    const uint8_t* slots; // for each unit, its row in left and right
    uint32_t count;
    // Per row, the unit's main output plus tap A (left) and plus tap B
    // (right). Rows of units not in the job are filled in beforehand.
    float (*left)[kBlockLength];
    float (*right)[kBlockLength];
    uint32_t rows;
    // Out: rows 0, 1, 2, ... added, subtracted, added, ... in that order.
    float* sumLeft;
    float* sumRight;
};

// Runs every unit of the job over the block (input gain, input filter,
// delay line and taps, with the same bits as the per-sample procedure),
// then sums the rows. Each unit must have passed blockFitsVectors for the
// kernel's shape.
struct VectorKernel {
    void (*run)(const VectorUnitJob& job);
    uint32_t tile;   // samples per lookup
    uint32_t table;  // ring entries per lookup window; 0 for no window
};

#if defined(__x86_64__)
extern const VectorKernel kSse2Kernel;
extern const VectorKernel kAvx2Kernel;
extern const VectorKernel kAvx512Kernel;
#endif
