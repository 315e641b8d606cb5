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

// The rare path after the unit bank gave a non-finite sample (finite but
// huge input, or coefficients far outside the ports' ranges, can overflow
// inside the loops): every diffuser and active unit that now holds a
// non-finite value is silenced, and the processed pair's non-finite samples
// become 0 so that the output mix stays finite.
void recoverFromNonFiniteState(EngineState& engine, float* left, float* right, uint32_t n);
