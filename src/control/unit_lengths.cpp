#include "control/unit_lengths.h"

#include <math.h>

#include "control/bank_spread.h"
#include "control/control_constants.h"
#include "engine/float_to_int.h"
#include "engine/prime_length.h"

namespace {

// A tap between 0.45 and 0.95 of the float length, from one draw.
uint64_t drawTapOffset(RandomGenerator& random, float floatLength) {
    const float position = fmaf(static_cast<float>(nextRandom(random)), kTapDrawScale, kTapBase);
    return truncateToU64(position * (floatLength * 0.5f));
}

}  // namespace

void setUnitCount(UnitBank& bank, float value) {
    const uint64_t count = truncateToU64(value);
    bank.unitCount = count == 0 ? 1 : count > kMaxUnits ? kMaxUnits : count;
}

void postUnitLengths(UnitBank& bank) {
    const uint64_t count = bank.unitCount;
    // Seeding with the count makes a set of controls give the same lengths
    // and taps whichever port started the recomputation.
    if (count >= 2) seedRandom(bank.random, static_cast<uint32_t>(count));
    const bool jitter = count >= 2 && bank.lengthJitter != 0.0f;  // NaN jitters too
    const float jitterScale = bank.lengthJitter * kJitterDrawScale;
    for (uint64_t k = 0; k < count; ++k) {
        float size = spreadCurved(bank.sizeFirst, bank.sizeLast, bank.distributionCurve, k, count);
        if (jitter) {
            const float drawnSize = static_cast<float>(nextRandom(bank.random)) * size;
            size = fmaf(drawnSize, jitterScale, size);
        }
        const float floatLength = bank.sampleRate * kSizeUnitPerSample * size;
        const uint64_t length = nextPrimeLength(floatLength, kUnitLengthMin, kUnitLengthMax);
        // The kernel glides to the request; an equal length must not replace
        // a request still waiting.
        if (length != bank.units.length[k]) bank.units.pendingLength[k] = length;
        bank.tapOffsetA[k] = drawTapOffset(bank.random, floatLength);
        bank.tapOffsetB[k] = drawTapOffset(bank.random, floatLength);
    }
}
