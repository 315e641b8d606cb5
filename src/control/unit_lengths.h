// The unit count and the unit lengths with their random taps. Each works on
// units 0 .. unitCount-1 only; units above keep what they held.
#pragma once

#include "engine/engine_state.h"

// unitCount from a port value: truncated, 0 gives 1, at most kMaxUnits.
void setUnitCount(UnitBank& bank, float value);
// Posts new loop lengths for the kernels to glide to and redraws the taps;
// the feedback gains that follow are the caller's to recompute.
void postUnitLengths(UnitBank& bank);
