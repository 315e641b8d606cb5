// What a unit's next block of samples can reach, bounded from its state
// before the block. The bounds prove that a block holds no event, so that
// it may skip the per-sample tests or run in vectors.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

// Every interpolated read position r of the block lies in [readLow, readHigh).
struct ReadReach {
    double readLow;
    double readHigh;
};

// True when, within the next n samples, the LFO phase does not wrap, every
// read position lies in [1, 32000), no read-pointer advance reaches 32000,
// and the write position needs no guard copy and does not wrap. The glide
// state is not looked at. Fills reach when true.
bool blockStaysInRing(const ChainUnit& unit, uint32_t n, ReadReach& reach);

// True when a running glide cannot end within the next n samples: its
// target lies outside every loop length the block can measure.
bool glideOutlastsBlock(const ChainUnit& unit, uint32_t n);

// True when the unit's next n samples may run in the vector kernels: no
// pending request, a glide (if any) that outlasts the block, no wrap, and
// every read sees only values written before the block, since the vector
// form reads the whole block before it writes. With table > 0, the reads of
// any `tile` consecutive samples must also fall in a window of `table`
// ring entries (the kernels' lookup tables).
bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table);
