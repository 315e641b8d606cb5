// Drives the unit bank over one block in the arrangement of routingMode.
#pragma once

#include <stdint.h>

struct UnitBank;

// `left` holds the block's (diffused) input on entry; on return `left` and
// `right` hold the processed pair. n <= 16.
void routeUnitBank(UnitBank& bank, float* left, float* right, uint32_t n);
