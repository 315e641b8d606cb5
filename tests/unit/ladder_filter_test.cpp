#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "kernel_test_bank.h"
#include "kernels/ladder_filter.h"
#include "support/unit_refs.h"

namespace {

// Straight transcription of the ladder, sample by sample on the record's
// own fields; stage 2 in its plain form except in set 0.
void referenceLadder(LadderValues& r, int set, int type, float* x, uint32_t n) {
    const float a = 1.0f + r.resonance * r.inputCompensation;
    const float b = r.resonance * r.feedbackScale;
    for (uint32_t j = 0; j < n; ++j) {
        const float u = x[j] * a - b * r.lastOutput;
        const float y1 = u + r.pole1 * (r.state1 - u);
        r.state1 = y1;
        float d = 0.0f, y2;
        if (set == 0) {
            d = r.pole2 * (r.state2 - y1);
            y2 = d + y1;
        } else {
            y2 = y1 + r.pole2 * (r.state2 - y1);
        }
        r.state2 = y2;
        const float y3 = y2 + r.pole3 * (r.state3 - y2);
        r.state3 = y3;
        const float y4 = y3 + r.pole4 * (r.state4 - y3);
        r.state4 = y4;
        r.lastOutput = y4;
        switch (type) {
            case 1: x[j] = d; break;
            case 2: x[j] = 8 * y3 - 4 * y2 - 4 * y4; break;
            case 4: x[j] = y4; break;
            case 5: x[j] = u - 3 * y1 + 3 * y2 - y3; break;
            case 6: x[j] = (u + 4 * y2 - 8 * y3 + 4 * y4) * 0.25f; break;
        }
    }
}

void fillRecords(UnitBank& bank, uint64_t unit, std::mt19937& rng, bool defaultScales) {
    std::uniform_real_distribution<float> pole(0.05f, 0.98f), state(-0.5f, 0.5f), res(0.0f, 3.5f);
    for (auto& set : bank.ladderSets) {
        LadderRef r = ladderRef(set, unit);
        r.resonance = res(rng);
        r.inputCompensation = defaultScales ? 0.0f : state(rng);
        r.feedbackScale = defaultScales ? 1.0f : 1.0f + state(rng);
        r.pole1 = pole(rng), r.pole2 = pole(rng), r.pole3 = pole(rng), r.pole4 = pole(rng);
        r.state1 = state(rng), r.state2 = state(rng), r.state3 = state(rng), r.state4 = state(rng);
        r.lastOutput = r.state4;
    }
}

void fillNoise(float* x, uint32_t n, std::mt19937& rng) {
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (uint32_t j = 0; j < n; ++j) x[j] = dist(rng);
}

bool sameRecord(const LadderValues& a, const LadderValues& b) { return memcmp(&a, &b, sizeof a) == 0; }

// The set each single-set type runs on (type 3 runs sets 0 and 1).
int setOfType(int type) { return type <= 2 ? type - 1 : type - 2; }

}  // namespace

TEST(LadderFilter, EachTypeMatchesTheLadderTranscriptionBitForBit) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    std::mt19937 rng(7);
    for (int type : {1, 2, 4, 5, 6}) {
        for (bool defaultScales : {true, false}) {
            const uint64_t unit = 13;
            fillRecords(bank, unit, rng, defaultScales);
            bank.filterType = static_cast<FilterType>(type);
            LadderValues expected = ladderValues(bank.ladderSets[setOfType(type)], unit);
            float x[kMaxKernelBlock], want[kMaxKernelBlock];
            for (int block = 0; block < 20; ++block) {
                const uint32_t n = 1 + (uint32_t)(rng() % kMaxKernelBlock);
                fillNoise(x, n, rng);
                memcpy(want, x, n * sizeof(float));
                referenceLadder(expected, setOfType(type), type, want, n);
                filterUnitInput(bank, unit, x, n);
                for (uint32_t j = 0; j < n; ++j) ASSERT_EQ(bitsOf(x[j]), bitsOf(want[j])) << type << " " << j;
                ASSERT_TRUE(sameRecord(ladderValues(bank.ladderSets[setOfType(type)], unit), expected)) << type;
            }
        }
    }
}

TEST(LadderFilter, TypesOneToSixAdvanceOnlyTheirSetsAndEndWithLastOutputEqualToState4) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    std::mt19937 rng(11);
    const uint64_t unit = 4;
    for (int type = 1; type <= 6; ++type) {
        fillRecords(bank, unit, rng, true);
        for (auto& set : bank.ladderSets) set.lastOutput[unit] = 0.3f;  // differs from state4 before the block
        LadderValues before[kLadderSetCount];
        for (size_t s = 0; s < kLadderSetCount; ++s) before[s] = ladderValues(bank.ladderSets[s], unit);
        bank.filterType = static_cast<FilterType>(type);
        float x[40];
        fillNoise(x, 40, rng);
        filterUnitInput(bank, unit, x, 40);
        for (size_t s = 0; s < kLadderSetCount; ++s) {
            const LadderRef r = ladderRef(bank.ladderSets[s], unit);
            const bool used = type == 3 ? s <= 1 : (int)s == setOfType(type);
            if (used) {
                EXPECT_EQ(bitsOf(r.lastOutput), bitsOf(r.state4)) << type << " set " << s;
                EXPECT_FALSE(sameRecord(ladderValues(bank.ladderSets[s], unit), before[s])) << type << " set " << s;
            } else {
                EXPECT_TRUE(sameRecord(ladderValues(bank.ladderSets[s], unit), before[s])) << type << " set " << s;
            }
        }
        // Neighbouring units' records belong to other units and stay put.
        EXPECT_EQ(bank.ladderSets[0].state1[unit + 1], 0.0f);
    }
}

TEST(LadderFilter, TypeThreeIsTypeOneThenTypeTwoOverTheWholeBlock) {
    EngineFloatModeScope mode;
    EnginePtr a = makeEngine();
    std::mt19937 rng(3);
    fillRecords(a->bank, 9, rng, false);
    EnginePtr b = cloneEngine(*a);
    float xa[kMaxKernelBlock], xb[kMaxKernelBlock];
    fillNoise(xa, kMaxKernelBlock, rng);
    memcpy(xb, xa, sizeof xa);

    a->bank.filterType = FilterBandPassCascade;
    filterUnitInput(a->bank, 9, xa, kMaxKernelBlock);
    b->bank.filterType = FilterBandPass2;
    filterUnitInput(b->bank, 9, xb, kMaxKernelBlock);
    b->bank.filterType = FilterBandPass4;
    filterUnitInput(b->bank, 9, xb, kMaxKernelBlock);

    EXPECT_EQ(memcmp(xa, xb, sizeof xa), 0);
    for (size_t s = 0; s < kLadderSetCount; ++s)
        EXPECT_TRUE(sameRecord(ladderValues(a->bank.ladderSets[s], 9), ladderValues(b->bank.ladderSets[s], 9))) << s;
}

TEST(LadderFilter, TypeZeroScalesOtherValuesPassAndNeitherTouchesARecord) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    std::mt19937 rng(5);
    fillRecords(engine->bank, 2, rng, true);
    EnginePtr before = cloneEngine(*engine);
    const float in[5] = {1.0f, -3.0f, 0.5f, 7.25f, -0.0f};
    for (int32_t type : {0, 7, -1, 1000, INT32_MIN}) {
        engine->bank.filterType = static_cast<FilterType>(type);
        float x[5];
        memcpy(x, in, sizeof in);
        filterUnitInput(engine->bank, 2, x, 5);
        for (int j = 0; j < 5; ++j) {
            const float want = type == 0 ? in[j] * 0.25f : in[j];
            EXPECT_EQ(bitsOf(x[j]), bitsOf(want)) << type << " " << j;
        }
    }
    EXPECT_EQ(memcmp(engine->bank.ladderSets, before->bank.ladderSets, sizeof before->bank.ladderSets), 0);
}

TEST(LadderFilter, EmptyBlockChangesNoRecord) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    std::mt19937 rng(1);
    fillRecords(engine->bank, 0, rng, false);
    EnginePtr before = cloneEngine(*engine);
    float x[1] = {42.0f};
    for (int type = 0; type <= 6; ++type) {
        engine->bank.filterType = static_cast<FilterType>(type);
        filterUnitInput(engine->bank, 0, x, 0);
    }
    EXPECT_EQ(x[0], 42.0f);
    EXPECT_EQ(memcmp(engine->bank.ladderSets, before->bank.ladderSets, sizeof before->bank.ladderSets), 0);
}

TEST(LadderFilter, FourPoleImpulseStartsAtTheProductOfTheStageGains) {
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    bank.filterType = FilterLowPass4;
    // Dyadic poles keep every step exact; cutoff-like poles agree closely.
    const float poles[2][4] = {{0.5f, 0.25f, 0.75f, 0.125f}, {0.2700908f, 0.3124829f, 0.6f, 0.9869955f}};
    for (const auto& p : poles) {
        storeLadderValues(bank.ladderSets[2], 0, LadderValues{});
        LadderRef r = ladderRef(bank.ladderSets[2], 0);
        r.feedbackScale = 1.0f;
        r.pole1 = p[0], r.pole2 = p[1], r.pole3 = p[2], r.pole4 = p[3];
        float x[3] = {1.0f, 0.0f, 0.0f};
        filterUnitInput(bank, 0, x, 3);
        const double want = (1.0 - p[0]) * (1.0 - p[1]) * (1.0 - p[2]) * (1.0 - p[3]);
        // Each stage's 1 - p cancels, so a few parts in a million are expected.
        EXPECT_NEAR(x[0], want, 1e-5 * want);
        if (p[0] == 0.5f) {
            EXPECT_EQ(x[0], (float)want);
        }
        EXPECT_GT(x[1], 0.0f);  // the impulse keeps ringing through the low-passes
    }
}

TEST(LadderFilter, SteadyDirectCurrentReachesEachTypesGainWithoutResonance) {
    // At DC each stage passes 1, so the mixes settle to: band-passes 0,
    // low-pass 1, high-pass 0, peaking boost 1/4.
    EngineFloatModeScope mode;
    EnginePtr engine = makeEngine();
    UnitBank& bank = engine->bank;
    for (auto& set : bank.ladderSets) set.pole1[0] = set.pole2[0] = set.pole3[0] = set.pole4[0] = 0.5f;
    const float settled[7] = {0.25f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.25f};
    for (int type = 0; type <= 6; ++type) {
        bank.filterType = static_cast<FilterType>(type);
        float x[kMaxKernelBlock];
        for (int block = 0; block < 4; ++block) {
            for (float& v : x) v = 1.0f;
            filterUnitInput(bank, 0, x, kMaxKernelBlock);
        }
        EXPECT_NEAR(x[kMaxKernelBlock - 1], settled[type], 1e-6) << type;
    }
}
