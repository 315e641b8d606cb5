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

bool ladderStateIsFinite(const LadderRecord& r) {
    return isFinite(r.lastOutput) && isFinite(r.state1) && isFinite(r.state2) && isFinite(r.state3) &&
           isFinite(r.state4);
}

// Clears what the unit's audio has filled (ring, DC blocker, the filter
// states of all five sets); positions, glides and coefficients stay.
void silenceUnitIfPoisoned(UnitBank& bank, uint64_t u) {
    ChainUnit& unit = bank.units[u];
    bool finite = isFinite(unit.dcState);
    for (const auto& set : bank.ladderSets) finite = finite && ladderStateIsFinite(set[u]);
    if (finite) return;
    memset(unit.ring, 0, sizeof unit.ring);
    unit.dcState = 0.0f;
    for (auto& set : bank.ladderSets) {
        LadderRecord& r = set[u];
        r.lastOutput = r.state1 = r.state2 = r.state3 = r.state4 = 0.0f;
    }
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
