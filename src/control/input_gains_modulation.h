// The two recomputations that are plain linear spreads over the units
// 0 .. unitCount-1.
#pragma once

#include "engine/engine_state.h"

void updateInputGains(UnitBank& bank);
// Modulation depth in samples and LFO step per sample.
void updateModulation(UnitBank& bank);
