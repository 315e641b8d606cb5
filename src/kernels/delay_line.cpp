#include "kernels/delay_line.h"

#include <math.h>

#include "engine/float_to_int.h"
#include "engine/loop_gain.h"
#include "kernels/block_bounds.h"
#include "kernels/unit_constants.h"

namespace {

// Per-block copy of the fields the loop changes: working on the field arrays
// themselves would reload every field after each ring store.
struct LoopState {
    float lfoPhase;
    float readPhase;
    float readSpeed;
    float feedback;
    float dcState;
    uint64_t writeIndex;
    uint64_t length;
    uint64_t targetLength;
    uint64_t pendingLength;
    bool gliding;
};

LoopState loadLoopState(const ChainUnits& units, uint64_t u) {
    return LoopState{units.lfoPhase[u],   units.readPhase[u],    units.readSpeed[u], units.feedback[u],
                     units.dcState[u],    units.writeIndex[u],   units.length[u],    units.targetLength[u],
                     units.pendingLength[u], units.gliding[u]};
}

void storeLoopState(ChainUnits& units, uint64_t u, const LoopState& s) {
    units.lfoPhase[u] = s.lfoPhase;
    units.readPhase[u] = s.readPhase;
    units.readSpeed[u] = s.readSpeed;
    units.feedback[u] = s.feedback;
    units.dcState[u] = s.dcState;
    units.writeIndex[u] = s.writeIndex;
    units.length[u] = s.length;
    units.targetLength[u] = s.targetLength;
    units.pendingLength[u] = s.pendingLength;
    units.gliding[u] = s.gliding;
}

// Linear interpolation between ring[i] and ring[i + 1]; i = 31999 reaches the
// guard copy of entry 0.
inline float readRing(const float* ring, uint64_t i, float frac) {
    return ring[i] + frac * (ring[i + 1] - ring[i]);
}

// Every sample with all its tests: LFO wrap, read wrap, guard copies, write
// wrap, the length glide and the read-pointer wrap.
void runFullProcedure(UnitBank& bank, uint64_t u, const float* x, float* out, uint32_t n) {
    ChainUnits& units = bank.units;
    float* const ring = bank.rings[u].samples;
    const float lfoIncrement = units.lfoIncrement[u];
    const float modDepth = units.modDepth[u];
    const float ringGain = units.ringGain[u];
    LoopState s = loadLoopState(units, u);
    for (uint32_t j = 0; j < n; ++j) {
        float p = s.lfoPhase + lfoIncrement;
        if (p >= 1.0f) p = p - 2.0f;
        s.lfoPhase = p;

        float r = s.readPhase + (1.0f + modDepth * (1.0f + fabsf(p)));
        if (r >= kRingLengthFloat) r = r - kRingLengthFloat;
        // Only a depth outside [0, 300], a negative or non-finite LFO step
        // can carry the read outside the ring; read entry 0 rather than
        // leave the ring.
        if (!(r >= 0.0f && r < kRingLengthFloat)) r = 0.0f;
        float whole;
        const float frac = modff(r, &whole);
        const float v = readRing(ring, truncateToU64(whole), frac);

        const float y = kDcBlockerInputGain * v + kDcBlockerPole * s.dcState;
        const float o = y - s.dcState;
        s.dcState = y;

        uint64_t w = s.writeIndex;
        const float q = (x[j] + o * s.feedback) * ringGain;
        ring[w] = q;
        if (w < kUnitGuardEntries) ring[kUnitRingLength + w] = q;
        w = w + 1;
        if (w > kUnitRingLength - 1) w = 0;
        s.writeIndex = w;

        // Length management sees the read position before this sample's
        // advance.
        if (s.gliding) {
            const uint64_t behind = ((float)w > s.readPhase) ? 0 : kUnitRingLength;
            const uint64_t d = w + behind - truncateToU64(s.readPhase);
            s.length = d;
            if (d == s.targetLength) {
                s.gliding = false;
                s.readSpeed = 1.0f;
                s.feedback = glideEndLoopGain(d, units.sampleRate[u], units.decayMs[u]);
            }
        } else if (s.pendingLength != 0) {
            s.targetLength = s.pendingLength;
            s.pendingLength = 0;
            if (s.targetLength > s.length) {
                s.gliding = true;
                s.readSpeed = kLengtheningSpeed;
            } else if (s.targetLength < s.length) {
                s.gliding = true;
                s.readSpeed = kShorteningSpeed;
            }
        }

        s.readPhase = s.readPhase + s.readSpeed;
        if (s.readPhase >= kRingLengthFloat) s.readPhase = s.readPhase - kRingLengthFloat;
        out[j] = o;
    }
    storeLoopState(units, u, s);
}

// The same arithmetic for a block that delayLineIsQuiet() has cleared: no
// test can fire, so none is made.
void runQuietBlock(UnitBank& bank, uint64_t u, const float* x, float* out, uint32_t n) {
    ChainUnits& units = bank.units;
    float* const ring = bank.rings[u].samples;
    const float lfoIncrement = units.lfoIncrement[u];
    const float modDepth = units.modDepth[u];
    const float ringGain = units.ringGain[u];
    const float readSpeed = units.readSpeed[u];
    const float feedback = units.feedback[u];
    float lfoPhase = units.lfoPhase[u];
    float readPhase = units.readPhase[u];
    float dcState = units.dcState[u];
    float* const write = ring + units.writeIndex[u];
    for (uint32_t j = 0; j < n; ++j) {
        const float p = lfoPhase + lfoIncrement;
        lfoPhase = p;
        const float r = readPhase + (1.0f + modDepth * (1.0f + fabsf(p)));
        // r lies in [1, 32000), so r - trunc(r) is exact: modff's fraction.
        const uint32_t i = (uint32_t)truncateToU64(r);
        const float v = readRing(ring, i, r - (float)i);
        const float y = kDcBlockerInputGain * v + kDcBlockerPole * dcState;
        const float o = y - dcState;
        dcState = y;
        write[j] = (x[j] + o * feedback) * ringGain;
        readPhase = readPhase + readSpeed;
        out[j] = o;
    }
    units.lfoPhase[u] = lfoPhase;
    units.readPhase[u] = readPhase;
    units.dcState[u] = dcState;
    units.writeIndex[u] += n;
}

}  // namespace

bool delayLineIsQuiet(const ChainUnits& units, uint64_t u, uint32_t n) {
    if (units.gliding[u] || units.pendingLength[u] != 0) return false;
    return blockStaysInRing(units, u, n);
}

void runDelayLine(UnitBank& bank, uint64_t u, const float* x, float* out, uint32_t n, DelayLinePath path) {
    if (n == 0) return;
    // Only the kernels write writeIndex; keep a damaged value from
    // addressing memory outside the ring.
    uint64_t& writeIndex = bank.units.writeIndex[u];
    if (writeIndex >= kUnitRingLength) writeIndex %= kUnitRingLength;
    if (path == DelayLinePath::Fastest && delayLineIsQuiet(bank.units, u, n)) {
        runQuietBlock(bank, u, x, out, n);
    } else {
        runFullProcedure(bank, u, x, out, n);
    }
}
