// Plain reads of a unit's ring at a fixed distance behind the write position.
#pragma once

#include <stdint.h>

// The n ring entries at (base + j) mod 2^64 mod 32000. Sample j of a tap is
// the value written its offset before sample j; offsets of any size keep the
// index inside the ring.
void readTap(const float* ring, uint64_t base, uint32_t n, float* tap);
