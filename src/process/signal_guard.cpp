#include "process/signal_guard.h"

#include <string.h>

#include "engine/engine_state.h"

namespace {

constexpr uint32_t kExponentMask = 0x7F800000u;  // all ones: infinity or NaN

uint32_t exponentBits(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits & kExponentMask;
}

bool isFinite(float value) { return exponentBits(value) != kExponentMask; }

// Each stage's own state shows whether its memory holds a bad value, so the
// rings need no search: a diffuser's damping state takes every value its
// ring stores and keeps a NaN or infinity for good; a bad value in a unit's
// ring reaches the read pointer within a loop length, and the DC blocker's
// state then keeps it for good, unless the write pointer overwrites it
// first; and a ladder's states feed back on themselves. A value that has
// not yet reached them is found in a later block.
void silenceDiffuserIfPoisoned(Diffuser& diffuser) {
    if (isFinite(diffuser.dampState)) return;
    memset(diffuser.ring, 0, sizeof diffuser.ring);
    diffuser.dampState = 0.0f;
}

bool ladderStateIsFinite(const LadderSet& set, uint64_t u) {
    return isFinite(set.lastOutput[u]) && isFinite(set.state1[u]) && isFinite(set.state2[u]) &&
           isFinite(set.state3[u]) && isFinite(set.state4[u]);
}

// Clears what the unit's audio has filled (DC blocker, the filter states of
// all five sets) and silences it until its ring is cleared too, a bounded
// share per block (continueClearingRings); positions, glides and
// coefficients stay.
void silenceUnitIfPoisoned(UnitBank& bank, uint64_t u) {
    ChainUnits& units = bank.units;
    bool finite = isFinite(units.dcState[u]);
    for (const LadderSet& set : bank.ladderSets) finite = finite && ladderStateIsFinite(set, u);
    if (finite) return;
    units.dcState[u] = 0.0f;
    for (LadderSet& set : bank.ladderSets)
        set.lastOutput[u] = set.state1[u] = set.state2[u] = set.state3[u] = set.state4[u] = 0.0f;
    if (units.ringLeftToClear[u] == 0) ++bank.unitsClearing;
    units.ringLeftToClear[u] = (uint32_t)kUnitRingStorage;
}

}  // namespace

bool allFinite(const float* x, size_t n) {
    // A maximum over the exponent fields: no branch per value, so it vectorises.
    uint32_t widest = 0;
    for (size_t k = 0; k < n; ++k) {
        const uint32_t e = exponentBits(x[k]);
        widest = e > widest ? e : widest;
    }
    return widest != kExponentMask;
}

void copyFiniteOrZero(const float* source, float* destination, uint32_t n) {
    for (uint32_t k = 0; k < n; ++k) destination[k] = isFinite(source[k]) ? source[k] : 0.0f;
}

void recoverFromNonFiniteState(EngineState& engine, float* left, float* right, uint32_t n) {
    for (Diffuser& diffuser : engine.diffusers) silenceDiffuserIfPoisoned(diffuser);
    UnitBank& bank = engine.bank;
    const uint64_t count = bank.unitCount < kMaxUnits ? bank.unitCount : kMaxUnits;
    for (uint64_t u = 0; u < count; ++u) silenceUnitIfPoisoned(bank, u);
    copyFiniteOrZero(left, left, n);
    copyFiniteOrZero(right, right, n);
}

void continueClearingRings(UnitBank& bank) {
    if (bank.unitsClearing == 0) return;
    uint32_t budget = kRingEntriesClearedPerBlock;
    for (uint64_t u = 0; u < kMaxUnits && budget > 0; ++u) {
        uint32_t& left = bank.units.ringLeftToClear[u];
        if (left == 0) continue;
        const uint32_t chunk = left < budget ? left : budget;
        left -= chunk;
        budget -= chunk;
        memset(bank.rings[u].samples + left, 0, chunk * sizeof(float));
        if (left == 0) --bank.unitsClearing;
    }
}
