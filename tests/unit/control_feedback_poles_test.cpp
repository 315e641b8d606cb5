#include <gtest/gtest.h>
#include <math.h>

#include "control/control_constants.h"
#include "control/feedback_gains.h"
#include "control/filter_poles.h"
#include "control_test_bank.h"

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
    bank.units[0].length = 301;
    bank.units[1].length = 14549;
    bank.units[2].length = 14549;
    bank.decayFirst = 800.0f;
    bank.decayLast = 800.0f;
    updateFeedbackGains(bank);
    EXPECT_NEAR(bank.units[0].feedback, 0.9472931, 0.5e-7);
    EXPECT_NEAR(bank.units[1].feedback, 0.0730062, 0.5e-7);
    EXPECT_EQ(bank.units[0].feedback, correctlyRoundedGain(301, 800.0f));
    EXPECT_EQ(bank.units[1].feedback, correctlyRoundedGain(14549, 800.0f));

    bank.unitCount = 1;
    bank.units[0].length = 16000;
    bank.decayFirst = 100.0f;
    bank.decayLast = NAN;
    updateFeedbackGains(bank);
    EXPECT_NEAR(bank.units[0].feedback, 1.0e-10, 0.001e-10);
    EXPECT_EQ(bank.units[0].decayMs, 100.0f);
    EXPECT_EQ(bank.units[1].decayMs, 800.0f) << "units above the count keep their values";
}

TEST(ControlFeedback, DecaySpreadAndClamp) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 5;
    bank.decayFirst = 800.0f;
    bank.decayLast = 400.0f;
    updateFeedbackGains(bank);
    const float decays[] = {800.0f, 700.0f, 600.0f, 500.0f, 400.0f};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(bank.units[k].decayMs, decays[k]) << k;
    EXPECT_LT(bank.units[4].feedback, bank.units[0].feedback);

    // Zero decay: no feedback. Negative, NaN or endless: the largest loop
    // gain below 1.
    const float limit = nextafterf(nextafterf(nextafterf(1.0f, 0.0f), 0.0f), 0.0f);
    const float odd[] = {0.0f, -800.0f, NAN, INFINITY};
    const float gains[] = {0.0f, limit, limit, limit};
    bank.unitCount = 1;
    for (int i = 0; i < 4; ++i) {
        bank.decayFirst = odd[i];
        updateFeedbackGains(bank);
        EXPECT_EQ(bank.units[0].feedback, gains[i]) << odd[i];
    }
}

TEST(ControlPoles, GeometricCutoffsOverTheDefaultBank) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;  // 40 units, 10000 Hz down to 100 Hz
    updateFilterPoles(bank);
    const LadderRecord* set0 = bank.ladderSets[0];
    EXPECT_NEAR(set0[0].pole1, 0.2700908, 0.5e-7);
    EXPECT_NEAR(set0[1].pole1, 0.3124829, 0.5e-7);
    EXPECT_NEAR(set0[39].pole1, 0.9869955, 0.5e-7);
    EXPECT_EQ(set0[0].pole1, correctlyRoundedPole(10000.0f));
    for (uint64_t k = 1; k < 40; ++k) EXPECT_GT(set0[k].pole1, set0[k - 1].pole1) << "closing towards the last unit";
}

TEST(ControlPoles, AllFiveSetsGetPolesAndResonanceButKeepTheirState) {
    EnginePtr engine = freshEngine();
    UnitBank& bank = engine->bank;
    bank.unitCount = 2;
    bank.ladderResonance = 0.75f;
    bank.ladderSets[3][1].state2 = 0.125f;
    bank.ladderSets[4][1].lastOutput = -0.5f;
    updateFilterPoles(bank);
    const float firstPole = correctlyRoundedPole(10000.0f);
    const float lastPole = correctlyRoundedPole(nextafterf(100.0f, 200.0f));  // 100.00001 Hz
    for (const auto& set : bank.ladderSets) {
        for (uint64_t k = 0; k < 2; ++k) {
            const LadderRecord& record = set[k];
            const float pole = k == 0 ? firstPole : lastPole;
            EXPECT_EQ(record.resonance, 0.75f);
            EXPECT_EQ(record.pole1, pole);
            EXPECT_EQ(record.pole2, pole);
            EXPECT_EQ(record.pole3, pole);
            EXPECT_EQ(record.pole4, pole);
            EXPECT_EQ(record.feedbackScale, 1.0f);
            EXPECT_EQ(record.inputCompensation, 0.0f);
        }
        EXPECT_EQ(set[2].resonance, 0.0f) << "units above the count are left alone";
        EXPECT_EQ(set[2].pole1, 0.0f);
    }
    EXPECT_EQ(bank.ladderSets[3][1].state2, 0.125f);
    EXPECT_EQ(bank.ladderSets[4][1].lastOutput, -0.5f);

    // One unit: the first cutoff alone.
    bank.unitCount = 1;
    bank.cutoffFirst = 1000.0f;
    bank.cutoffLast = 0.0f;
    updateFilterPoles(bank);
    EXPECT_EQ(bank.ladderSets[2][0].pole3, correctlyRoundedPole(1000.0f));
    EXPECT_EQ(bank.ladderSets[2][1].pole3, lastPole);
}
