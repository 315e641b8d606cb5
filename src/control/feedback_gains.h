// Decay times and loop gains of the units 0 .. unitCount-1.
#pragma once

#include "engine/engine_state.h"

// From each unit's current length, not a posted one.
void updateFeedbackGains(UnitBank& bank);
