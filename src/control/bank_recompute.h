// Recomputation of the per-unit values of the bank from its bank-wide ranges.
// Each works on units 0 .. unitCount-1 only; units above keep what they held.
#pragma once

#include "engine/engine_state.h"

// unitCount from a port value: truncated, 0 gives 1, at most kMaxUnits.
void setUnitCount(UnitBank& bank, float value);
// Posts new loop lengths and redraws the taps.
void postUnitLengths(UnitBank& bank);
// postUnitLengths, then updateFeedbackGains.
void updateUnitLengths(UnitBank& bank);
// Decay times and loop gains from each unit's current length.
void updateFeedbackGains(UnitBank& bank);
// Ladder poles and resonance of every ladder set.
void updateFilterPoles(UnitBank& bank);
void updateInputGains(UnitBank& bank);
// Modulation depth in samples and LFO step per sample.
void updateModulation(UnitBank& bank);
