// The ladder filters' poles and resonance for the units 0 .. unitCount-1.
#pragma once

#include "engine/engine_state.h"

// Every ladder set gets the same poles: one per unit, from the cutoffs
// spread geometrically over the bank.
void updateFilterPoles(UnitBank& bank);
