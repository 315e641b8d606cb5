#include <gtest/gtest.h>
#include <math.h>

#include "engine/engine_state.h"
#include "process/diffuser_chain.h"
#include "process/output_mix.h"
#include "process/param_smoother.h"

namespace {

const float kMixStep = 0.6666667f;
const float kDiffusionStep = 0.0066666668f;

ParamSmoother smootherAt(float current, float target, float step) {
    ParamSmoother smoother{};
    smoother.interval = 1;
    smoother.current = current;
    smoother.target = target;
    smoother.step = step;
    return smoother;
}

struct EngineHolder {
    EngineState* engine = createEngineState();
    ~EngineHolder() { destroyEngineState(engine); }
};

// Units in the last place between two floats of the same sign.
int32_t ulpsApart(float a, float b) {
    int32_t steps = 0;
    while (a != b && steps < 1000) {
        a = nextafterf(a, b);
        ++steps;
    }
    return steps;
}

// The crossfade worked out with the sine and cosine taken in long double
// and rounded once, then the single-precision gain arithmetic.
void crossfadeFromLongDouble(float mix, float& dry, float& wet) {
    const float theta = static_cast<float>(static_cast<long double>(mix) * (3.14159265358979323846264L / 4.0L));
    const float s = static_cast<float>(sinl(theta));
    const float c = static_cast<float>(cosl(theta));
    dry = (c - s) * 0.70710677f;
    wet = (c + s) * 0.70710677f;
}

}  // namespace

TEST(ParamSmoother, MixReachesTargetExactlyOnSecondStep) {
    ParamSmoother mix = smootherAt(0.0f, 1.0f, kMixStep);
    EXPECT_TRUE(tickSmoother(mix));
    EXPECT_EQ(mix.current, kMixStep);
    EXPECT_TRUE(tickSmoother(mix));
    EXPECT_EQ(mix.current, 1.0f);
    EXPECT_FALSE(tickSmoother(mix));
    EXPECT_EQ(mix.current, 1.0f);
}

TEST(ParamSmoother, TargetWithinOneStepIsReachedInOneBlockBothWays) {
    ParamSmoother up = smootherAt(0.3f, 0.303f, kDiffusionStep);
    EXPECT_TRUE(tickSmoother(up));
    EXPECT_EQ(up.current, 0.303f);
    ParamSmoother down = smootherAt(0.3f, 0.297f, kDiffusionStep);
    EXPECT_TRUE(tickSmoother(down));
    EXPECT_EQ(down.current, 0.297f);
    ParamSmoother exact = smootherAt(0.5f, 0.5f - kDiffusionStep, kDiffusionStep);
    EXPECT_TRUE(tickSmoother(exact));
    EXPECT_EQ(exact.current, 0.5f - kDiffusionStep);
}

TEST(ParamSmoother, IntervalCountsBlocksBetweenUpdates) {
    ParamSmoother slow = smootherAt(0.0f, 1.0f, 0.25f);
    slow.interval = 3;
    EXPECT_FALSE(tickSmoother(slow));
    EXPECT_FALSE(tickSmoother(slow));
    EXPECT_TRUE(tickSmoother(slow));
    EXPECT_EQ(slow.current, 0.25f);
    EXPECT_EQ(slow.counter, 0u);
    EXPECT_FALSE(tickSmoother(slow));
    EXPECT_EQ(slow.counter, 1u);
}

TEST(ParamSmoother, NaNTargetMovesCurrentDownEveryBlock) {
    ParamSmoother smoother = smootherAt(0.2f, NAN, kDiffusionStep);
    for (int block = 0; block < 400; ++block) {
        const float before = smoother.current;
        EXPECT_TRUE(tickSmoother(smoother));
        ASSERT_EQ(smoother.current, before - kDiffusionStep) << block;
    }
    EngineHolder holder;
    applyDiffusionAmount(*holder.engine, smoother.current);
    EXPECT_EQ(holder.engine->diffusionAmount, -0.9f);
    EXPECT_EQ(holder.engine->diffusers[3].coefficient, -0.75f);
}

TEST(DiffusionAmount, RisesToTheClampAndComesBack) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    ParamSmoother diffusion = smootherAt(0.0f, 1.0f, kDiffusionStep);
    int firstClamped = 0;
    int reachedTarget = 0;
    float accumulated = 0.0f;  // the same single-precision walk, kept apart
    for (int block = 1; block <= 160; ++block) {
        if (tickSmoother(diffusion)) applyDiffusionAmount(engine, diffusion.current);
        accumulated = accumulated + kDiffusionStep < 1.0f ? accumulated + kDiffusionStep : 1.0f;
        ASSERT_EQ(diffusion.current, accumulated) << block;
        if (firstClamped == 0 && engine.diffusionAmount == 0.9f) firstClamped = block;
        if (reachedTarget == 0 && diffusion.current == 1.0f) reachedTarget = block;
        if (firstClamped == 0) {
            ASSERT_EQ(engine.diffusionAmount, diffusion.current) << block;
            ASSERT_EQ(engine.diffusers[1].coefficient, diffusion.current) << block;
            ASSERT_EQ(engine.diffusers[2].coefficient, diffusion.current * 0.8333334f) << block;
        }
    }
    EXPECT_EQ(firstClamped, 136);
    EXPECT_EQ(reachedTarget, 151);
    EXPECT_EQ(engine.diffusers[0].coefficient, 0.9f);
    EXPECT_EQ(engine.diffusers[2].coefficient, 0.75f);
    EXPECT_EQ(engine.diffusers[3].coefficient, 0.75f);

    diffusion.target = 0.0f;
    int firstBelowClamp = 0;
    int reachedZero = 0;
    for (int block = 1; block <= 200; ++block) {
        if (tickSmoother(diffusion)) applyDiffusionAmount(engine, diffusion.current);
        if (firstBelowClamp == 0 && engine.diffusionAmount != 0.9f) {
            firstBelowClamp = block;
            EXPECT_NEAR(engine.diffusionAmount, 0.8933334f, 1e-6f);
            EXPECT_EQ(engine.diffusers[3].coefficient, engine.diffusionAmount * 0.8333334f);
        }
        if (reachedZero == 0 && engine.diffusionAmount == 0.0f) reachedZero = block;
    }
    EXPECT_EQ(firstBelowClamp, 16);
    EXPECT_GT(reachedZero, firstBelowClamp);
    EXPECT_EQ(diffusion.current, 0.0f);
}

TEST(DiffusionAmount, NegativeAmountsAndTheLowerClamp) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    applyDiffusionAmount(engine, -0.6f);
    EXPECT_EQ(engine.diffusionAmount, -0.6f);
    EXPECT_EQ(engine.diffusers[0].coefficient, -0.6f);
    EXPECT_EQ(engine.diffusers[2].coefficient, -0.6f * 0.8333334f);
    EXPECT_LT(engine.diffusers[3].coefficient, 0.0f);
    applyDiffusionAmount(engine, -3.0f);
    EXPECT_EQ(engine.diffusionAmount, -0.9f);
    EXPECT_EQ(engine.diffusers[1].coefficient, -0.9f);
    EXPECT_EQ(engine.diffusers[2].coefficient, -0.75f);
}

TEST(DiffusionAmount, CoefficientsAreRewrittenOnlyWhenTheClampedAmountChanges) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    applyDiffusionAmount(engine, 0.95f);
    for (Diffuser& diffuser : engine.diffusers) diffuser.coefficient = 0.125f;
    applyDiffusionAmount(engine, 2.0f);  // still 0.9 once clamped
    for (const Diffuser& diffuser : engine.diffusers) EXPECT_EQ(diffuser.coefficient, 0.125f);
    applyDiffusionAmount(engine, 0.0f);
    EXPECT_EQ(engine.diffusionAmount, 0.0f);
    EXPECT_EQ(engine.diffusers[0].coefficient, 0.0f);
}

TEST(MixGains, CrossfadeMatchesLongDoubleTrigAndQuotedFigures) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    struct Case {
        float mix, quotedDry, quotedWet;
    };
    for (const Case& c : {Case{0.0f, 0.70710677f, 0.70710677f}, Case{0.5f, 0.38268343f, 0.9238795f},
                          Case{1.0f, 0.0f, 1.0f}, Case{-1.0f, 1.0f, 0.0f}}) {
        float dry;
        float wet;
        crossfadeFromLongDouble(c.mix, dry, wet);
        updateMixGains(engine, c.mix);
        EXPECT_EQ(engine.dryGain, dry) << c.mix;
        EXPECT_EQ(engine.wetGain, wet) << c.mix;
        // The single-precision path may land an ulp off the exact figures.
        if (c.quotedDry == 0.0f) {
            EXPECT_LE(fabsf(engine.dryGain), 6e-8f) << c.mix;
        } else {
            EXPECT_LE(ulpsApart(engine.dryGain, c.quotedDry), 1) << c.mix;
        }
        if (c.quotedWet == 0.0f) {
            EXPECT_LE(fabsf(engine.wetGain), 6e-8f) << c.mix;
        } else {
            EXPECT_LE(ulpsApart(engine.wetGain, c.quotedWet), 1) << c.mix;
        }
    }
}

TEST(MixGains, KeepTurningOutsideTheUsualRange) {
    EngineHolder holder;
    EngineState& engine = *holder.engine;
    updateMixGains(engine, 3.0f);  // three eighths of a turn: wet, dry both signed
    EXPECT_LT(engine.dryGain, -0.9f);
    EXPECT_NEAR(engine.wetGain, 0.0f, 1e-6f);
    updateMixGains(engine, 49.995f);
    EXPECT_TRUE(isfinite(engine.dryGain));
    EXPECT_NEAR(engine.dryGain * engine.dryGain + engine.wetGain * engine.wetGain, 1.0f, 1e-5f);
}
