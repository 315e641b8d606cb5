#include "kernels/block_bounds.h"

#include "kernels/unit_constants.h"

bool blockStaysInRing(const ChainUnit& unit, uint32_t n) {
    float readLow, readHigh;
    return staysInRing(blockStartOf(unit), (float)n, readLow, readHigh);
}

bool glideMissesTarget(const GlideStart& glide, uint32_t n) {
    if (glide.writeIndex > kUnitRingLength - 1 - n) return false;  // the block would wrap
    float readPhase = glide.readPhase;
    uint64_t w = glide.writeIndex;
    for (uint32_t j = 0; j < n; ++j) {
        if (!(readPhase >= 0.0f && readPhase < kRingLengthFloat)) return false;
        w = w + 1;
        const uint64_t d = w + ((float)w > readPhase ? 0 : kUnitRingLength) - (uint64_t)readPhase;
        if (d == glide.targetLength) return false;
        readPhase = readPhase + glide.readSpeed;
    }
    return true;
}

bool glideOutlastsBlock(const ChainUnit& unit, uint32_t n) {
    const GlideStart glide = glideStartOf(unit);
    return glideFarFromTarget(glide, n) || glideMissesTarget(glide, n);
}

bool takeRequestForVectors(ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table) {
    const uint64_t target = unit.pendingLength;
    if (unit.gliding || target == 0) return false;
    float speed = unit.readSpeed;
    if (target > unit.length) speed = kLengtheningSpeed;
    if (target < unit.length) speed = kShorteningSpeed;
    if (target != unit.length) {
        const GlideStart glide = {unit.writeIndex, unit.readPhase, speed, target};
        if (!glideFarFromTarget(glide, n) && !glideMissesTarget(glide, n)) return false;
    }
    BlockStart<float> start = blockStartOf(unit);
    start.readSpeed = speed;
    if (!fitsVectors(start, (float)n, (float)tile, (float)table)) return false;
    unit.targetLength = target;
    unit.pendingLength = 0;
    if (target != unit.length) {
        unit.gliding = true;
        unit.readSpeed = speed;
    }
    return true;
}

bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table) {
    const bool lengthFits = unit.gliding ? glideOutlastsBlock(unit, n) : unit.pendingLength == 0;
    return lengthFits && fitsVectors(blockStartOf(unit), (float)n, (float)tile, (float)table);
}
