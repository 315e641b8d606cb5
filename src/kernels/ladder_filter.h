// The units' input filter: four-stage ladder cascades whose stage mix is
// chosen bank-wide by filterType.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

// Filters unit u's working block x in place; n <= kMaxKernelBlock.
void filterUnitInput(UnitBank& bank, uint64_t unit, float* x, uint32_t n);
