#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "process/block_loop.h"
#include "process/diffuser_chain.h"
#include "support/plugin_rig.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

// The block loop alone on a fresh engine, set by hand.
struct LoopFixture {
    EngineState* engine = createEngineState();
    BlockLoop loop = kFreshBlockLoop;
    std::vector<float> input, left, right;

    ~LoopFixture() { destroyEngineState(engine); }

    void run(uint32_t count) {
        input.resize(count);
        for (uint32_t k = 0; k < count; ++k) input[k] = (k % 5 == 0 ? 0.5f : 0.0f) - 0.01f * static_cast<float>(k % 3);
        left.assign(count, 0.0f);
        right.assign(count, 0.0f);
        runBlockLoop(loop, *engine, input.data(), left.data(), right.data(), count);
    }
};

// Ticks taken so far, read from counters that never reach their interval.
uint64_t ticksOf(const BlockLoop& loop) { return loop.mixSmoother.counter; }

void countTicksOnly(BlockLoop& loop) {
    loop.mixSmoother.interval = 1u << 30;
    loop.diffusionSmoother.interval = 1u << 30;
}

}  // namespace

TEST(BlockLoop, SmoothersTickOncePerSixteenSamplesOfAudio) {
    LoopFixture sixteen;
    countTicksOnly(sixteen.loop);
    sixteen.run(16);
    EXPECT_EQ(ticksOf(sixteen.loop), 1u);
    EXPECT_EQ(sixteen.loop.diffusionSmoother.counter, 1u);

    LoopFixture sixtyFour;
    countTicksOnly(sixtyFour.loop);
    sixtyFour.run(64);
    EXPECT_EQ(ticksOf(sixtyFour.loop), 4u);

    // A block that spans calls ticks once, when it begins.
    LoopFixture pieces;
    countTicksOnly(pieces.loop);
    pieces.run(7);
    EXPECT_EQ(ticksOf(pieces.loop), 1u);
    pieces.run(9);
    EXPECT_EQ(ticksOf(pieces.loop), 1u);
    EXPECT_EQ(pieces.loop.blockPhase, 0u);
    for (int call = 0; call < 17; ++call) pieces.run(1);
    EXPECT_EQ(ticksOf(pieces.loop), 3u);
    EXPECT_EQ(pieces.loop.blockPhase, 1u);
    pieces.run(100);  // 15 to end the block, then 85 = 5 blocks and 5 samples
    EXPECT_EQ(ticksOf(pieces.loop), 9u);
    EXPECT_EQ(pieces.loop.blockPhase, 5u);
}

TEST(BlockLoop, FirstBlockReplacesTheInitialGains) {
    LoopFixture fixture;
    EngineState& engine = *fixture.engine;
    fixture.loop.mixSmoother.target = 0.5f;
    fixture.run(16);
    EXPECT_EQ(fixture.loop.mixSmoother.current, 49.995f - 0.6666667f);
    EXPECT_NE(engine.dryGain, 1.0f);
    EXPECT_NE(engine.wetGain, 0.2f);
    EXPECT_NEAR(engine.dryGain * engine.dryGain + engine.wetGain * engine.wetGain, 1.0f, 1e-5f);
}

TEST(BlockLoop, ZeroSamplesChangeNothing) {
    LoopFixture fixture;
    applyDiffusionAmount(*fixture.engine, 0.7f);
    fixture.loop.diffusionSmoother.target = 0.7f;
    fixture.loop.mixSmoother.target = 0.5f;
    for (float& feedback : fixture.engine->bank.units.feedback) feedback = 0.5f;
    for (float& gain : fixture.engine->bank.unitInputGain) gain = 1.0f;
    for (int call = 0; call < 7; ++call) fixture.run(100);  // leaves the block phase inside a block
    ASSERT_NE(fixture.loop.blockPhase, 0u);
    EngineState* before = static_cast<EngineState*>(malloc(sizeof(EngineState)));
    memcpy(before, fixture.engine, sizeof(EngineState));
    const BlockLoop loopBefore = fixture.loop;
    fixture.run(0);
    EXPECT_EQ(memcmp(before, fixture.engine, sizeof(EngineState)), 0);
    EXPECT_EQ(memcmp(&loopBefore.mixSmoother, &fixture.loop.mixSmoother, sizeof(ParamSmoother)), 0);
    EXPECT_EQ(memcmp(&loopBefore.diffusionSmoother, &fixture.loop.diffusionSmoother, sizeof(ParamSmoother)), 0);
    EXPECT_EQ(loopBefore.blockPhase, fixture.loop.blockPhase);
    free(before);
}

TEST(BlockLoop, EvenOddWithOneUnitGivesTheDryTermOnTheRight) {
    LoopFixture fixture;
    BlockLoop& loop = fixture.loop;
    EngineState& engine = *fixture.engine;
    engine.stereoOutput = true;
    engine.bank.routingMode = RoutingEvenOdd;
    engine.bank.unitCount = 1;
    engine.bank.unitInputGain[0] = 1.0f;
    loop.mixSmoother.current = loop.mixSmoother.target = 0.3f;
    loop.diffusionSmoother.target = 0.5f;
    fixture.run(48);
    for (uint32_t k = 0; k < 48; ++k) ASSERT_EQ(fixture.right[k], engine.dryGain * fixture.input[k]) << k;
}

TEST(BlockLoop, UnknownRoutingSendsTheInputStageToBothChannels) {
    LoopFixture fixture;
    EngineState& engine = *fixture.engine;
    engine.stereoOutput = true;
    engine.bank.routingMode = static_cast<RoutingMode>(3);
    fixture.loop.mixSmoother.current = fixture.loop.mixSmoother.target;  // the gains stay put
    const float dry = engine.dryGain;
    const float wet = engine.wetGain;
    fixture.run(40);
    for (uint32_t k = 0; k < 40; ++k) {
        ASSERT_EQ(fixture.left[k], wet * fixture.input[k] + dry * fixture.input[k]) << k;
        ASSERT_EQ(fixture.right[k], fixture.left[k]) << k;
    }
}

// Bank bypassed, gains held, diffusion applied at `amount` and held there.
void holdDiffusion(LoopFixture& fixture, float amount) {
    BlockLoop& loop = fixture.loop;
    fixture.engine->bank.routingMode = static_cast<RoutingMode>(3);
    fixture.engine->stereoOutput = true;
    loop.mixSmoother.current = loop.mixSmoother.target;
    applyDiffusionAmount(*fixture.engine, amount);
    loop.diffusionSmoother.current = loop.diffusionSmoother.target = amount;
}

TEST(BlockLoop, BlockWhoseAmountReachesZeroIsTheFirstCopied) {
    LoopFixture fixture;
    holdDiffusion(fixture, 0.5f);
    ParamSmoother& diffusion = fixture.loop.diffusionSmoother;
    const Diffuser& first = fixture.engine->diffusers[0];
    diffusion.current = 2.0f * diffusion.step;
    diffusion.target = 0.0f;
    fixture.run(16);
    EXPECT_NE(fixture.engine->diffusionAmount, 0.0f);
    EXPECT_EQ(first.position, 16u);
    fixture.run(16);
    EXPECT_EQ(fixture.engine->diffusionAmount, 0.0f);
    EXPECT_EQ(first.position, 16u);
    const EngineState& engine = *fixture.engine;
    for (uint32_t k = 0; k < 16; ++k) {
        ASSERT_EQ(fixture.left[k], engine.wetGain * fixture.input[k] + engine.dryGain * fixture.input[k]) << k;
    }
}

TEST(BlockLoop, DiffusersResumeAfterAPauseAsIfNoTimeHadPassed) {
    LoopFixture paused, straight;
    for (LoopFixture* fixture : {&paused, &straight}) {
        holdDiffusion(*fixture, 0.5f);
        fixture->run(40);
    }
    holdDiffusion(paused, 0.0f);
    Diffuser before[kDiffuserCount];
    memcpy(before, paused.engine->diffusers, sizeof before);
    paused.run(100);
    EXPECT_EQ(memcmp(before, paused.engine->diffusers, sizeof before), 0);
    holdDiffusion(paused, 0.5f);
    paused.loop.blockPhase = straight.loop.blockPhase;
    for (LoopFixture* fixture : {&paused, &straight}) fixture->run(600);
    for (uint32_t k = 0; k < 600; ++k) ASSERT_EQ(paused.left[k], straight.left[k]) << k;
}

TEST(BlockLoop, DeactivateActivateChangesNothing) {
    const LV2_Descriptor* descriptor = lv2_descriptor(0);
    ASSERT_NE(descriptor, nullptr);
    PluginRig plain, cycled;
    std::vector<float> signal(640, 0.0f);
    signal[0] = 1.0f;
    signal[300] = -0.5f;
    for (PluginRig* rig : {&plain, &cycled}) rig->render(std::vector<float>(signal.begin(), signal.begin() + 320), 64);
    descriptor->deactivate(cycled.instance);
    descriptor->activate(cycled.instance);
    for (PluginRig* rig : {&plain, &cycled}) rig->render(std::vector<float>(signal.begin() + 320, signal.end()), 64);
    ASSERT_EQ(plain.left.size(), cycled.left.size());
    EXPECT_EQ(memcmp(plain.left.data(), cycled.left.data(), plain.left.size() * sizeof(float)), 0);
    EXPECT_EQ(memcmp(plain.right.data(), cycled.right.data(), plain.right.size() * sizeof(float)), 0);
}
