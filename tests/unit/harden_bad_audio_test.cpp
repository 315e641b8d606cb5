// Bad audio from the host: NaN and infinite samples, and finite samples so
// large that the loops overflow. Neither may leave the instance broken.
#include <float.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "process/signal_guard.h"
#include "support/plugin_rig.h"
#include "unit/harden_engine_scan.h"
#include "support/unit_refs.h"

namespace {

std::vector<float> noise(size_t count, float level, uint32_t seed) {
    std::vector<float> x(count);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = level * static_cast<float>(static_cast<int32_t>(seed)) * 0x1p-31f;
    }
    return x;
}

struct Setting {
    float routing, diffusion, filter, stereo;
};
const Setting kSettings[] = {{0, 0, 0, 0}, {0, 0.6f, 4, 1}, {1, 0.6f, 3, 0}, {2, 0, 6, 1}, {2, 0.9f, 5, 0}};

void use(PluginRig& rig, const Setting& s) {
    rig.controls[PortMix] = 30.0f;  // the dry term is heard
    rig.controls[PortRouting] = s.routing;
    rig.controls[PortDiffusion] = s.diffusion;
    rig.controls[PortFilterType] = s.filter;
    rig.controls[PortStereo] = s.stereo;
    rig.controls[PortResonance] = 40.0f;
    rig.controls[PortModDepthLast] = 20.0f;
    rig.controls[PortModRateLast] = 2.0f;
}

// Each bad sample reaches the dry term alone: every other output sample has
// exactly the bits it has when the bad samples are silence instead, and the
// engine holds nothing but finite values afterwards.
TEST(HardenBadAudio, NonFiniteSamplesReachOnlyTheDryTerm) {
    std::vector<float> clean = noise(12000, 0.3f, 5);
    for (size_t k = 0; k < clean.size(); k += 1500) clean[k] = 1.0f;
    std::vector<float> bad = clean;
    const float poison[] = {NAN, INFINITY, -INFINITY, -NAN};
    for (size_t k = 4000; k < 4400; ++k) bad[k] = poison[k % 4];
    for (size_t k : {6001u, 6003u, 6015u, 9999u}) bad[k] = poison[k % 4];
    std::vector<float> silenced = bad;
    for (float& v : silenced) v = isfinite(v) ? v : 0.0f;

    for (const Setting& s : kSettings) {
        SCOPED_TRACE(testing::Message() << "routing " << s.routing << " filter " << s.filter);
        PluginRig withBad, reference;
        use(withBad, s);
        use(reference, s);
        withBad.render(bad, 100);
        reference.render(silenced, 100);
        size_t differing = 0, silentBad = 0;
        for (size_t k = 0; k < bad.size(); ++k) {
            if (isfinite(bad[k])) {
                differing += memcmp(&withBad.left[k], &reference.left[k], sizeof(float)) != 0;
                differing += memcmp(&withBad.right[k], &reference.right[k], sizeof(float)) != 0;
            } else {
                silentBad += isfinite(withBad.left[k]) || isfinite(withBad.right[k]);
            }
        }
        EXPECT_EQ(differing, 0u);
        EXPECT_EQ(silentBad, 0u) << "the dry term carries a bad sample while it lasts";
        EXPECT_EQ(tallyEngineState(*withBad.instance->engine).nonFinite, 0u);
    }
}

// Finite input at the float limit overflows inside the loops; once it is
// gone the output is finite again within the decay time, and so is the state.
TEST(HardenBadAudio, OverflowingInputLeavesNoTraceAfterTheDecayTime) {
    const size_t decaySamples = 48 * 800;  // 800 ms
    std::vector<float> signal = noise(2000, FLT_MAX, 9);
    const std::vector<float> after = noise(2 * decaySamples, 0.3f, 10);
    signal.insert(signal.end(), after.begin(), after.end());
    for (const Setting& s : kSettings) {
        SCOPED_TRACE(testing::Message() << "routing " << s.routing << " filter " << s.filter);
        PluginRig rig;
        use(rig, s);
        rig.controls[PortInputGainFirst] = 2.0f;
        rig.controls[PortInputGainLast] = 2.0f;
        rig.render(signal, 256);
        EXPECT_EQ(tallySamples(rig.left, 2000 + decaySamples).nonFinite, 0u);
        EXPECT_EQ(tallySamples(rig.right, 2000 + decaySamples).nonFinite, 0u);
        EXPECT_EQ(tallyEngineState(*rig.instance->engine).nonFinite, 0u);
        float loudest = 0.0f;
        for (size_t k = signal.size() - 4800; k < signal.size(); ++k) loudest = fmaxf(loudest, fabsf(rig.left[k]));
        EXPECT_LT(loudest, 100.0f) << "the tail of the overflow has died away";
    }
}

// A bad value already inside the engine, wherever it sits, is cleared once
// it shows, and the output stays finite meanwhile.
TEST(HardenBadAudio, PoisonedStateIsClearedWhereverItSits) {
    enum Where { UnitRing, DcBlocker, LadderState, DiffuserRing };
    for (Where where : {UnitRing, DcBlocker, LadderState, DiffuserRing}) {
        SCOPED_TRACE(where);
        PluginRig rig;
        use(rig, Setting{0, 0.6f, 4, 1});
        const std::vector<float> signal = noise(40000, 0.3f, 3);
        rig.render(std::vector<float>(signal.begin(), signal.begin() + 4096), 256);
        EngineState& engine = *rig.instance->engine;
        UnitRef unit = unitRef(engine.bank, 5);
        switch (where) {
            case UnitRing: unit.ring[(unit.writeIndex + 20000) % kUnitRingLength] = NAN; break;
            case DcBlocker: unit.dcState = INFINITY; break;
            case LadderState: engine.bank.ladderSets[2].state3[5] = -INFINITY; break;
            case DiffuserRing:
                engine.diffusers[2].ring[0] = NAN;
                engine.diffusers[2].dampState = NAN;
                break;
        }
        rig.left.clear();
        rig.right.clear();
        rig.render(std::vector<float>(signal.begin() + 4096, signal.end()), 256);
        EXPECT_EQ(tallySamples(rig.left).nonFinite + tallySamples(rig.right).nonFinite, 0u);
        EXPECT_EQ(tallyEngineState(engine).nonFinite, 0u);
    }
}

}  // namespace

// After a whole bank overflows, no block pays for clearing every ring: each
// block clears at most kRingEntriesClearedPerBlock entries, the silenced
// units give nothing and keep their place meanwhile, and once their rings
// are clear they run again.
TEST(HardenBadAudio, RingsOfSilencedUnitsAreClearedAFewEntriesPerBlock) {
    PluginRig rig;
    use(rig, Setting{0, 0.0f, 0, 1});
    rig.controls[PortUnitCount] = 70.0f;
    rig.render(noise(4096, 0.3f, 4), 256);
    UnitBank& bank = rig.instance->engine->bank;
    for (uint64_t u = 0; u < kMaxUnits; ++u)
        for (float& s : bank.rings[u].samples) s = NAN;
    rig.render(std::vector<float>(16, 0.3f), 16);  // reads a NaN: every unit is silenced
    ASSERT_EQ(bank.unitsClearing, kMaxUnits);
    const uint64_t writeBefore = bank.units.writeIndex[69];
    size_t blocks = 0;
    size_t nonFiniteBefore = tallyEngineState(*rig.instance->engine).nonFinite;
    while (bank.unitsClearing > 0 && blocks < 1000) {
        rig.render(noise(16, 0.3f, (uint32_t)blocks), 16);
        const size_t nonFinite = tallyEngineState(*rig.instance->engine).nonFinite;
        EXPECT_LE(nonFiniteBefore - nonFinite, kRingEntriesClearedPerBlock) << blocks;
        nonFiniteBefore = nonFinite;
        ++blocks;
        if (bank.unitsClearing > 0) {
            EXPECT_EQ(bank.units.writeIndex[69], writeBefore) << "a silenced unit stays put";
        }
    }
    EXPECT_EQ(blocks, (kMaxUnits * kUnitRingStorage + kRingEntriesClearedPerBlock - 1) / kRingEntriesClearedPerBlock);
    EXPECT_EQ(tallyEngineState(*rig.instance->engine).nonFinite, 0u);
    EXPECT_EQ(tallySamples(rig.left).nonFinite + tallySamples(rig.right).nonFinite, 0u);
    // The last unit runs again from the block that cleared the end of its ring.
    rig.render(std::vector<float>(256, 0.3f), 256);
    EXPECT_EQ(bank.units.writeIndex[69], (writeBefore + 16 + 256) % kUnitRingLength);
}
