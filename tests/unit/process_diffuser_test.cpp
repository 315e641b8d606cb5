#include <gtest/gtest.h>

#include <vector>

#include "engine/engine_state.h"
#include "process/diffuser_chain.h"

namespace {

struct EngineHolder {
    EngineState* engine = createEngineState();
    ~EngineHolder() { destroyEngineState(engine); }
};

// Runs `signal` through `diffuser` in 16-sample blocks.
std::vector<float> diffuseInBlocks(Diffuser& diffuser, const std::vector<float>& signal) {
    std::vector<float> out(signal.size());
    for (size_t at = 0; at < signal.size(); at += kBlockLength) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlockLength, signal.size() - at));
        processDiffuser(diffuser, signal.data() + at, out.data() + at, n);
    }
    return out;
}

std::vector<float> noise(size_t count, uint32_t seed) {
    std::vector<float> out(count);
    for (float& x : out) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(seed)) * (1.0f / 2147483648.0f);
    }
    return out;
}

}  // namespace

TEST(Diffuser, ImpulseResponseOfTheFirstDiffuser) {
    EngineHolder holder;
    Diffuser& diffuser = holder.engine->diffusers[0];
    ASSERT_EQ(diffuser.length, 211u);
    diffuser.coefficient = 0.5f;
    std::vector<float> impulse(240, 0.0f);
    impulse[0] = 1.0f;
    const std::vector<float> out = diffuseInBlocks(diffuser, impulse);

    EXPECT_EQ(out[0], 0.5f);
    for (size_t k = 1; k < 211; ++k) ASSERT_EQ(out[k], 0.0f) << k;
    // The ring holds the low-passed impulse: (1 - a), then a (1 - a); each
    // comes back scaled by 1 - g^2.
    const float a = diffuser.damping;
    const float first = 1.0f - a;
    EXPECT_EQ(out[211], 0.75f * first);
    EXPECT_EQ(out[212], 0.75f * (a * first));
    EXPECT_NEAR(out[211], 0.6576415f, 1e-6f);
    EXPECT_NEAR(out[212], 0.0809851f, 1e-6f);
}

TEST(Diffuser, ZeroCoefficientIsADelayedLowPassedCopy) {
    EngineHolder holder;
    Diffuser& diffuser = holder.engine->diffusers[1];
    diffuser.coefficient = 0.0f;
    const uint64_t m = diffuser.length;
    const std::vector<float> in = noise(3 * m + 5, 7);
    const std::vector<float> out = diffuseInBlocks(diffuser, in);
    float lowPassed = 0.0f;
    std::vector<float> expected(in.size(), 0.0f);
    for (size_t k = 0; k < in.size(); ++k) {
        lowPassed = in[k] + diffuser.damping * (lowPassed - in[k]);
        if (k + m < in.size()) expected[k + m] = lowPassed;
    }
    for (size_t k = 0; k < in.size(); ++k) ASSERT_EQ(out[k], expected[k]) << k;
}

TEST(Diffuser, BlockCrossingTheEndOfTheRingWrapsOnce) {
    EngineHolder holder;
    Diffuser& diffuser = holder.engine->diffusers[2];
    diffuser.coefficient = 0.0f;  // the output is then the cell read
    const uint64_t m = diffuser.length;
    for (uint64_t cell = 0; cell < m; ++cell) diffuser.ring[cell] = static_cast<float>(cell);
    const float in[kBlockLength] = {};
    float out[kBlockLength];

    diffuser.position = m - 3;
    processDiffuser(diffuser, in, out, kBlockLength);
    const float crossing[kBlockLength] = {static_cast<float>(m - 3), static_cast<float>(m - 2),
                                          static_cast<float>(m - 1), 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    for (uint32_t k = 0; k < kBlockLength; ++k) EXPECT_EQ(out[k], crossing[k]) << k;
    EXPECT_EQ(diffuser.position, 13u);

    for (uint64_t cell = 0; cell < m; ++cell) diffuser.ring[cell] = static_cast<float>(cell);
    diffuser.position = m - 16;
    processDiffuser(diffuser, in, out, kBlockLength);
    for (uint32_t k = 0; k < kBlockLength; ++k) EXPECT_EQ(out[k], static_cast<float>(m - 16 + k)) << k;
    EXPECT_EQ(diffuser.position, 0u);
    EXPECT_EQ(diffuser.ring[m], 0.0f);  // nothing past the ring's end
}

TEST(Diffuser, ChainEqualsEachSampleThroughAllFourInTurn) {
    EngineHolder blockwise;
    EngineHolder samplewise;
    const float coefficients[kDiffuserCount] = {0.7f, -0.6f, 0.55f, 0.75f};
    for (size_t index = 0; index < kDiffuserCount; ++index) {
        blockwise.engine->diffusers[index].coefficient = coefficients[index];
        samplewise.engine->diffusers[index].coefficient = coefficients[index];
    }
    const std::vector<float> in = noise(2000, 11);
    std::vector<float> chained(in.size());
    std::vector<float> inPlace = in;  // source and destination the same block
    for (size_t at = 0; at + kBlockLength <= in.size(); at += kBlockLength) {
        runDiffuserChain(*blockwise.engine, in.data() + at, chained.data() + at, kBlockLength);
    }
    EngineHolder inPlaceEngine;
    for (size_t index = 0; index < kDiffuserCount; ++index) {
        inPlaceEngine.engine->diffusers[index].coefficient = coefficients[index];
    }
    for (size_t at = 0; at + kBlockLength <= in.size(); at += kBlockLength) {
        runDiffuserChain(*inPlaceEngine.engine, inPlace.data() + at, inPlace.data() + at, kBlockLength);
    }
    for (size_t k = 0; k < in.size(); ++k) {
        float x = in[k];
        for (Diffuser& diffuser : samplewise.engine->diffusers) processDiffuser(diffuser, &x, &x, 1);
        ASSERT_EQ(chained[k], x) << k;
        ASSERT_EQ(inPlace[k], x) << k;
    }
}
