#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "control/control_constants.h"
#include "engine/loop_gain.h"

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

// Each literal must store the float it is derived from, not a neighbour.
TEST(ControlConstants, LiteralsStoreTheIntendedFloats) {
    EXPECT_EQ(bitsOf(kPercent), bitsOf(static_cast<float>(0.01)));
    EXPECT_EQ(bitsOf(kResonanceScale), bitsOf(nextafterf(0.025f, 0.0f)));
    EXPECT_EQ(bitsOf(kSizeUnitPerSample), bitsOf(static_cast<float>(1.0 / 330.0)));
    EXPECT_EQ(bitsOf(kLfoIncrementPerHz), bitsOf(static_cast<float>(1.0 / 24000.0)));
    EXPECT_EQ(bitsOf(kLoopGainLimit), bitsOf(1.0f - 3.0f * 0x1p-24f));
    EXPECT_EQ(bitsOf(kTapBase), bitsOf(static_cast<float>(0.9)));
    EXPECT_EQ(bitsOf(kOctavesPerNepers), bitsOf(static_cast<float>(1.0 / log(2.0))));
    EXPECT_EQ(bitsOf(kMillisecond), bitsOf(static_cast<float>(0.001)));
    // One ulp larger in magnitude than the float nearest -2 pi / 48000.
    const float poleScaleNearest = static_cast<float>(-2.0 * M_PI / 48000.0);
    EXPECT_EQ(bitsOf(kPoleScale), bitsOf(nextafterf(poleScaleNearest, -1.0f)));
    EXPECT_EQ(bitsOf(kJitterDrawScale), 0x2F800000u);  // 2^-32
    EXPECT_EQ(bitsOf(kTapDrawScale), 0x30000000u);     // 2^-31
}
