// One unit's modulated, interpolated feedback delay line over one block.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

enum class DelayLinePath : uint8_t {
    // Blocks that provably hold no wrap, guard copy or length event skip
    // those tests; the result is the same bits either way.
    Fastest,
    // Every sample takes the full procedure: the reference the fast loop
    // is checked against.
    FullProcedure,
};

// Runs unit u over n <= kMaxKernelBlock samples of filtered input x and
// stores its main output in out (x and out must not overlap).
void runDelayLine(UnitBank& bank, uint64_t u, const float* x, float* out, uint32_t n, DelayLinePath path);

// True when none of the LFO wrap, the read wraps, the write wrap, the guard
// copies or the length management can act within unit u's next n samples.
bool delayLineIsQuiet(const ChainUnits& units, uint64_t u, uint32_t n);
