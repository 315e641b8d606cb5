#include "kernels/block_bounds.h"

bool blockStaysInRing(const ChainUnits& units, uint64_t u, uint32_t n) {
    const BlockStart<float> start = {(float)units.writeIndex[u], units.lfoPhase[u], units.lfoIncrement[u],
                                     units.readPhase[u], units.readSpeed[u], units.modDepth[u]};
    float readLow, readHigh;
    return staysInRing(start, (float)n, readLow, readHigh);
}
