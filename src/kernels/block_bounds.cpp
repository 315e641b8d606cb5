#include "kernels/block_bounds.h"

bool blockStaysInRing(const ChainUnit& unit, uint32_t n) {
    float readLow, readHigh;
    return staysInRing(blockStartOf(unit), (float)n, readLow, readHigh);
}

bool glideOutlastsBlock(const ChainUnit& unit, uint32_t n) {
    // Sample j measures d_j = w0 + 1 + j + behind - trunc(rp_j), where behind
    // is 32000 while the read pointer is not below the write position. Keep
    // the block clear of the point where that switches.
    const double speed = unit.readSpeed;
    if (!(speed >= 0.0 && speed <= 2.0)) return false;
    const double w0 = (double)unit.writeIndex;
    const double rp0 = unit.readPhase;
    const double rpEnd = rp0 + (double)n * (speed + 0x1p-8);
    double behind;
    if (rpEnd + 1.0 < w0 + 1.0) {
        behind = 0.0;
    } else if (rp0 >= w0 + (double)n + 1.0) {
        behind = (double)kUnitRingLength;
    } else {
        return false;
    }
    // With rp0 <= rp_j <= rp0 + j*(speed + 2^-8) and trunc within one below,
    // every d_j lies within [low, high]; one more sample on each side spares
    // the roundings.
    const double first = w0 + 1.0 + behind - rp0;
    const double last = first + (double)(n - 1);
    const double low = (last - (double)(n - 1) * (speed + 0x1p-8) < first
                            ? last - (double)(n - 1) * (speed + 0x1p-8)
                            : first) - 1.0;
    const double high = last + 1.0;
    const double target = (double)unit.targetLength;
    return target < low || target > high;
}

bool lengthStateFitsVectors(const ChainUnit& unit, uint32_t n) {
    if (unit.gliding) return glideOutlastsBlock(unit, n);
    return unit.pendingLength == 0;
}

bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table) {
    return lengthStateFitsVectors(unit, n) && fitsVectors(blockStartOf(unit), (float)n, (float)tile, (float)table);
}
