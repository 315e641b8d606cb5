// The hand-over from the unit-bank driver to the vector kernels: one
// 16-sample block of a range of units.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

struct VectorUnitJob {
    UnitBank* bank;
    const float* input;  // kBlockLength samples, the same for every unit
    // The units visited: first, first + stride, ... below end (<= kMaxUnits).
    uint64_t first;
    uint64_t end;
    uint64_t stride;
    // Runs a unit whose block does not fit the vectors on its own, with the
    // same results, into its two rows.
    void (*runAlone)(UnitBank& bank, uint64_t unit, const float* input, float* left, float* right);
    // Per visited unit in order, room for its main output plus tap A
    // (left) and plus tap B (right); filled for the units run on their own
    // (the kernels may use the others' as scratch).
    float (*left)[kBlockLength];
    float (*right)[kBlockLength];
    // Out: the rows added, subtracted, added, ... in visiting order.
    float* sumLeft;
    float* sumRight;
};

// Runs every visited unit over the block (input gain, input filter, delay
// line and taps) with the same bits as the per-sample procedure: the units
// whose block fits the kernel's vectors together, the others through
// runAlone; then sums the rows.
typedef void (*VectorKernel)(const VectorUnitJob& job);

#if defined(__x86_64__)
void runUnitsSse2(const VectorUnitJob& job);
void runUnitsAvx2(const VectorUnitJob& job);
void runUnitsAvx512(const VectorUnitJob& job);
#endif
