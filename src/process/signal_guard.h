// Keeps NaN and infinity out of the engine's memory. One that reaches a
// unit ring, a filter state or a diffuser would circulate there for good,
// so the block loop looks at each block once and only a block that holds
// one pays for more.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct EngineState;

// True when none of the n values is a NaN or an infinity.
bool allFinite(const float* x, size_t n);

// destination[k] = source[k], or 0 where source[k] is not finite.
void copyFiniteOrZero(const float* source, float* destination, uint32_t n);

struct UnitBank;

// The rare path after the unit bank gave a non-finite sample (finite but
// huge input, or coefficients far outside the ports' ranges, can overflow
// inside the loops): every diffuser and active unit that now holds a
// non-finite value is silenced, and the processed pair's non-finite samples
// become 0 so that the output mix stays finite. A silenced unit's ring is
// cleared over the following blocks (continueClearingRings) while the unit
// stays silent, so that no block pays for clearing the whole bank.
void recoverFromNonFiniteState(EngineState& engine, float* left, float* right, uint32_t n);

// Ring entries cleared per block at most: a few microseconds of work.
constexpr uint32_t kRingEntriesClearedPerBlock = 8192;

// Clears the next share of the rings of silenced units; once a unit's ring
// is clear, it runs again. Called once per block.
void continueClearingRings(UnitBank& bank);
