#include <gtest/gtest.h>
#include <math.h>

#include "control/control_constants.h"
#include "control/feedback_gains.h"
#include "control/filter_poles.h"
#include "control_test_bank.h"
#include "support/unit_refs.h"

namespace {

// powf(0.001, length / (48000 * 0.001 * decay)) rounded once from long
// double: at the quoted points the library's powf and expf are correctly
// rounded, so these must match to the bit.
float correctlyRoundedGain(uint64_t length, float decayMs) {
    const float loops = static_cast<float>(length) / (48000.0f * 0.001f * decayMs);
    return static_cast<float>(powl(static_cast<long double>(0.001f), static_cast<long double>(loops)));
}

float correctlyRoundedPole(float cutoffHz) {
    return static_cast<float>(expl(static_cast<long double>(cutoffHz * kPoleScale)));
}

}  // namespace

TEST(ControlFeedback, GainForSixtyDecibelsInTheDecayTime) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 3;
    bank.units.length[0] = 301;
    bank.units.length[1] = 14549;
    bank.units.length[2] = 14549;
    bank.decayFirst = 800.0f;
    bank.decayLast = 800.0f;
    updateFeedbackGains(bank);
    EXPECT_NEAR(bank.units.feedback[0], 0.9472931, 0.5e-7);
    EXPECT_NEAR(bank.units.feedback[1], 0.0730062, 0.5e-7);
    EXPECT_EQ(bank.units.feedback[0], correctlyRoundedGain(301, 800.0f));
    EXPECT_EQ(bank.units.feedback[1], correctlyRoundedGain(14549, 800.0f));

    bank.unitCount = 1;
    bank.units.length[0] = 16000;
    bank.decayFirst = 100.0f;
    bank.decayLast = NAN;
    updateFeedbackGains(bank);
    EXPECT_NEAR(bank.units.feedback[0], 1.0e-10, 0.001e-10);
    EXPECT_EQ(bank.units.decayMs[0], 100.0f);
    EXPECT_EQ(bank.units.decayMs[1], 800.0f) << "units above the count keep their values";
}

TEST(ControlFeedback, DecaySpreadAndClamp) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 5;
    bank.decayFirst = 800.0f;
    bank.decayLast = 400.0f;
    updateFeedbackGains(bank);
    const float decays[] = {800.0f, 700.0f, 600.0f, 500.0f, 400.0f};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(bank.units.decayMs[k], decays[k]) << k;
    EXPECT_LT(bank.units.feedback[4], bank.units.feedback[0]);

    // Zero decay: no feedback. Negative, NaN or endless: the largest loop
    // gain below 1.
    const float limit = nextafterf(nextafterf(nextafterf(1.0f, 0.0f), 0.0f), 0.0f);
    const float odd[] = {0.0f, -800.0f, NAN, INFINITY};
    const float gains[] = {0.0f, limit, limit, limit};
    bank.unitCount = 1;
    for (int i = 0; i < 4; ++i) {
        bank.decayFirst = odd[i];
        updateFeedbackGains(bank);
        EXPECT_EQ(bank.units.feedback[0], gains[i]) << odd[i];
    }
}

TEST(ControlPoles, GeometricCutoffsOverTheDefaultBank) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;  // 40 units, 10000 Hz down to 100 Hz
    updateFilterPoles(bank);
    const float* pole1 = bank.ladderSets[0].pole1;
    EXPECT_NEAR(pole1[0], 0.2700908, 0.5e-7);
    EXPECT_NEAR(pole1[1], 0.3124829, 0.5e-7);
    EXPECT_NEAR(pole1[39], 0.9869955, 0.5e-7);
    EXPECT_EQ(pole1[0], correctlyRoundedPole(10000.0f));
    for (uint64_t k = 1; k < 40; ++k) EXPECT_GT(pole1[k], pole1[k - 1]) << "closing towards the last unit";
}

TEST(ControlPoles, AllFiveSetsGetPolesAndResonanceButKeepTheirState) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 2;
    bank.ladderResonance = 0.75f;
    bank.ladderSets[3].state2[1] = 0.125f;
    bank.ladderSets[4].lastOutput[1] = -0.5f;
    updateFilterPoles(bank);
    const float firstPole = correctlyRoundedPole(10000.0f);
    const float lastPole = correctlyRoundedPole(nextafterf(100.0f, 200.0f));  // 100.00001 Hz
    for (const auto& set : bank.ladderSets) {
        for (uint64_t k = 0; k < 2; ++k) {
            const LadderRef record = ladderRef(set, k);
            const float pole = k == 0 ? firstPole : lastPole;
            EXPECT_EQ(record.resonance, 0.75f);
            EXPECT_EQ(record.pole1, pole);
            EXPECT_EQ(record.pole2, pole);
            EXPECT_EQ(record.pole3, pole);
            EXPECT_EQ(record.pole4, pole);
            EXPECT_EQ(record.feedbackScale, 1.0f);
            EXPECT_EQ(record.inputCompensation, 0.0f);
        }
        EXPECT_EQ(set.resonance[2], 0.0f) << "units above the count are left alone";
        EXPECT_EQ(set.pole1[2], 0.0f);
    }
    EXPECT_EQ(bank.ladderSets[3].state2[1], 0.125f);
    EXPECT_EQ(bank.ladderSets[4].lastOutput[1], -0.5f);

    // One unit: the first cutoff alone.
    bank.unitCount = 1;
    bank.cutoffFirst = 1000.0f;
    bank.cutoffLast = 0.0f;
    updateFilterPoles(bank);
    EXPECT_EQ(bank.ladderSets[2].pole3[0], correctlyRoundedPole(1000.0f));
    EXPECT_EQ(bank.ladderSets[2].pole3[1], lastPole);
}
