#include "kernels/block_bounds.h"

#include "kernels/unit_constants.h"

bool blockStaysInRing(const ChainUnit& unit, uint32_t n) {
    float readLow, readHigh;
    return staysInRing(blockStartOf(unit), (float)n, readLow, readHigh);
}

bool glideMissesTarget(const ChainUnit& unit, uint32_t n) {
    if (unit.writeIndex > kUnitRingLength - 1 - n) return false;  // the block would wrap
    float readPhase = unit.readPhase;
    uint64_t w = unit.writeIndex;
    for (uint32_t j = 0; j < n; ++j) {
        if (!(readPhase >= 0.0f && readPhase < kRingLengthFloat)) return false;
        w = w + 1;
        const uint64_t d = w + ((float)w > readPhase ? 0 : kUnitRingLength) - (uint64_t)readPhase;
        if (d == unit.targetLength) return false;
        readPhase = readPhase + unit.readSpeed;
    }
    return true;
}

bool glideOutlastsBlock(const ChainUnit& unit, uint32_t n) {
    return glideFarFromTarget(unit, n) || glideMissesTarget(unit, n);
}

bool lengthStateFitsVectors(const ChainUnit& unit, uint32_t n) {
    if (unit.gliding) return glideOutlastsBlock(unit, n);
    return unit.pendingLength == 0;
}

bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table) {
    return lengthStateFitsVectors(unit, n) && fitsVectors(blockStartOf(unit), (float)n, (float)tile, (float)table);
}
