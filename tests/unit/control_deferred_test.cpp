#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>

#include "support/control_rig.h"

namespace {

// A new value for a port, within its range most of the time.
float newValue(uint32_t port, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    switch (port) {
        case PortDecayFirst:
        case PortDecayLast: return 50.0f + 5000.0f * unit(rng);
        case PortUnitCount: return (float)(1 + rng() % 70);
        case PortSizeFirst:
        case PortSizeLast: return 0.5f + 200.0f * unit(rng);
        case PortSizeJitter:
        case PortModDepthFirst:
        case PortModDepthLast: return 100.0f * unit(rng);
        case PortSizeCurve: return 2.0f * unit(rng) - 1.0f;
        case PortInputGainFirst:
        case PortInputGainLast: return 2.0f * unit(rng);
        case PortCutoffFirst:
        case PortCutoffLast: return 20.0f + 19000.0f * unit(rng);
        case PortFilterType: return (float)(rng() % 8);
        case PortResonance: return 60.0f * unit(rng);
        case PortModRateFirst:
        case PortModRateLast: return 10.0f * unit(rng);
        default: return unit(rng);
    }
}

bool sameEngines(const ControlRig& a, const ControlRig& b) {
    return memcmp(a.engine, b.engine, sizeof(EngineState)) == 0;
}

}  // namespace

// Several ports changing in one run give the very engine state that the
// same changes give one port per run, in ascending order: the recomputations
// the control stage runs once at the end of a run are the ones that may be.
TEST(ControlDeferred, ManyChangesInOneRunMatchOnePortPerRun) {
    std::mt19937 rng(5);
    ControlRig together, oneByOne;
    together.apply();
    oneByOne.apply();
    ASSERT_TRUE(sameEngines(together, oneByOne));
    for (int trial = 0; trial < 300; ++trial) {
        float next[PortCount];
        memcpy(next, together.controls, sizeof next);
        for (uint32_t port = PortDecayFirst; port < PortCount; ++port)
            if (port != PortDiffusion && rng() % 3 == 0) next[port] = newValue(port, rng);
        const unsigned seed = rng();

        // A unit count of 1 draws taps without reseeding.
        seedRandom(together.bank().random, seed);
        memcpy(together.controls, next, sizeof next);
        together.apply();

        seedRandom(oneByOne.bank().random, seed);
        for (uint32_t port = PortDecayFirst; port < PortCount; ++port) {
            if (oneByOne.controls[port] == next[port]) continue;
            oneByOne.controls[port] = next[port];
            oneByOne.apply();
        }
        ASSERT_TRUE(sameEngines(together, oneByOne)) << "trial " << trial;
    }
}
