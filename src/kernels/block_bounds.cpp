#include "kernels/block_bounds.h"

#include "kernels/unit_constants.h"

bool blockStaysInRing(const ChainUnit& unit, uint32_t n, ReadReach& reach) {
    // Writes at writeIndex .. writeIndex + n - 1 need no guard copy and the
    // advance after the last one does not wrap.
    if (unit.writeIndex < kUnitGuardEntries || unit.writeIndex > kUnitRingLength - 1 - n) return false;

    // LFO: with p0 >= -1 and a step >= 0 the phase only rises, and each
    // rounded sum below 2 is off by at most 2^-24, so p_k <= p0 + k*(step +
    // 2^-24). Requiring p0 + (n+1)*step + n*2^-21 < 1 keeps every p_k below 1.
    // Evaluated in double, where (n+1)*step is exact and the two roundings
    // are far smaller than the spare margin.
    const float p0 = unit.lfoPhase;
    const float step = unit.lfoIncrement;
    if (!(p0 >= -1.0f && step >= 0.0f)) return false;  // also rejects NaN
    const double lfoBound = (double)p0 + (double)(n + 1) * (double)step + (double)n * 0x1p-21;
    if (!(lfoBound < 1.0)) return false;

    // Read position: readPhase stays below 32768 here, so each rounded advance
    // is off by at most 2^-10 and rp_k <= rp0 + k*(speed + 2^-8). The read
    // offset 1 + depth*(1 + |p|) is at most fl(1 + 2*depth) as |p| <= 1. One
    // spare sample absorbs those roundings and that of the final sum, so every
    // read lies in [1, 32000) and no advance reaches 32000. Below, the offset
    // is at least 1 + depth less a rounding, so a whole sample covers it.
    const float rp0 = unit.readPhase;
    const float speed = unit.readSpeed;
    const float depth = unit.modDepth;
    if (!(rp0 >= 0.0f && speed >= 0.0f && depth >= 0.0f)) return false;
    reach.readHigh = (double)rp0 + (double)n * ((double)speed + 0x1p-8) + 2.0 * (double)depth + 2.0;
    reach.readLow = (double)rp0 + (double)depth;
    return reach.readHigh < (double)kRingLengthFloat;
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

bool blockFitsVectors(const ChainUnit& unit, uint32_t n, uint32_t tile, uint32_t table) {
    if (unit.gliding) {
        if (!glideOutlastsBlock(unit, n)) return false;
    } else if (unit.pendingLength != 0) {
        return false;  // taken in the block's first sample
    }
    ReadReach reach;
    if (!blockStaysInRing(unit, n, reach)) return false;
    // Entries writeIndex .. writeIndex + n - 1 change during the block: the
    // reads (and their interpolation partners) must lie wholly before them,
    // or wholly at or after them.
    const double w0 = (double)unit.writeIndex;
    if (!(reach.readHigh + 1.0 <= w0 || reach.readLow >= w0 + (double)n)) return false;
    if (table == 0) return true;
    // Over `tile` consecutive samples the read position moves by the pointer
    // advances plus depth times the change of |p|, which is at most the
    // change of p; a whole sample covers the roundings. Truncation and the
    // interpolation partner widen the window by two entries.
    const double steps = (double)(tile - 1);
    const double span = steps * ((double)unit.readSpeed + 0x1p-8) +
                        (double)unit.modDepth * steps * ((double)unit.lfoIncrement + 0x1p-21) + 1.0;
    return span + 2.0 <= (double)(table - 1);
}
