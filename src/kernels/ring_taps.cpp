#include "kernels/ring_taps.h"

#include "engine/engine_state.h"

void readTap(const float* ring, uint64_t base, uint32_t n, float* tap) {
    if (base > UINT64_MAX - n) {  // the 64-bit sum itself wraps within the block
        for (uint32_t j = 0; j < n; ++j) tap[j] = ring[(base + j) % kUnitRingLength];
        return;
    }
    uint64_t i = base % kUnitRingLength;
    for (uint32_t j = 0; j < n; ++j) {
        tap[j] = ring[i];
        if (++i == kUnitRingLength) i = 0;
    }
}
