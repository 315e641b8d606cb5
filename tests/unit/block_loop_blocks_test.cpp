#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "process/block_loop.h"
#include "process/diffusion_amount.h"
#include "shell/plugin_instance.h"
#include "support/plugin_rig.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

// An instance driven by the block loop alone, its engine set by hand.
struct LoopFixture {
    PluginInstance* instance = createPluginInstance(48000.0);
    std::vector<float> input, left, right;

    ~LoopFixture() { destroyPluginInstance(instance); }

    void run(uint32_t count) {
        input.resize(count);
        for (uint32_t k = 0; k < count; ++k) input[k] = (k % 5 == 0 ? 0.5f : 0.0f) - 0.01f * static_cast<float>(k % 3);
        left.assign(count, 0.0f);
        right.assign(count, 0.0f);
        connectPluginPort(*instance, PortAudioIn, input.data());
        connectPluginPort(*instance, PortAudioOutLeft, left.data());
        connectPluginPort(*instance, PortAudioOutRight, right.data());
        runBlockLoop(*instance, count);
    }
};

// Ticks taken so far, read from counters that never reach their interval.
uint64_t ticksOf(const PluginInstance& instance) { return instance.mixSmoother.counter; }

void countTicksOnly(PluginInstance& instance) {
    instance.mixSmoother.interval = 1u << 30;
    instance.diffusionSmoother.interval = 1u << 30;
}

}  // namespace

TEST(BlockLoop, SmoothersTickOncePerSixteenSamplesOfAudio) {
    LoopFixture sixteen;
    countTicksOnly(*sixteen.instance);
    sixteen.run(16);
    EXPECT_EQ(ticksOf(*sixteen.instance), 1u);
    EXPECT_EQ(sixteen.instance->diffusionSmoother.counter, 1u);

    LoopFixture sixtyFour;
    countTicksOnly(*sixtyFour.instance);
    sixtyFour.run(64);
    EXPECT_EQ(ticksOf(*sixtyFour.instance), 4u);

    // A block that spans calls ticks once, when it begins.
    LoopFixture pieces;
    countTicksOnly(*pieces.instance);
    pieces.run(7);
    EXPECT_EQ(ticksOf(*pieces.instance), 1u);
    pieces.run(9);
    EXPECT_EQ(ticksOf(*pieces.instance), 1u);
    EXPECT_EQ(pieces.instance->blockPhase, 0u);
    for (int call = 0; call < 17; ++call) pieces.run(1);
    EXPECT_EQ(ticksOf(*pieces.instance), 3u);
    EXPECT_EQ(pieces.instance->blockPhase, 1u);
    pieces.run(100);  // 15 to end the block, then 85 = 5 blocks and 5 samples
    EXPECT_EQ(ticksOf(*pieces.instance), 9u);
    EXPECT_EQ(pieces.instance->blockPhase, 5u);
}

TEST(BlockLoop, FirstBlockReplacesTheInitialGains) {
    LoopFixture fixture;
    EngineState& engine = *fixture.instance->engine;
    fixture.instance->mixSmoother.target = 0.5f;
    fixture.run(16);
    EXPECT_EQ(fixture.instance->mixSmoother.current, 49.995f - 0.6666667f);
    EXPECT_NE(engine.dryGain, 1.0f);
    EXPECT_NE(engine.wetGain, 0.2f);
    EXPECT_NEAR(engine.dryGain * engine.dryGain + engine.wetGain * engine.wetGain, 1.0f, 1e-5f);
}

TEST(BlockLoop, ZeroSamplesChangeNothing) {
    PluginRig rig;
    rig.controls[PortDiffusion] = 0.7f;
    rig.controls[PortModDepthFirst] = 10.0f;
    rig.controls[PortModRateFirst] = 1.0f;
    std::vector<float> signal(810, 0.0f);
    signal[3] = 1.0f;
    rig.render(signal, 100);  // leaves the block phase inside a block
    PluginInstance& instance = *rig.instance;
    ASSERT_NE(instance.blockPhase, 0u);
    EngineState* before = static_cast<EngineState*>(malloc(sizeof(EngineState)));
    memcpy(before, instance.engine, sizeof(EngineState));
    const PluginInstance beforeInstance = instance;
    rig.run(signal.data(), 0);
    EXPECT_EQ(memcmp(before, instance.engine, sizeof(EngineState)), 0);
    EXPECT_EQ(memcmp(&beforeInstance.mixSmoother, &instance.mixSmoother, sizeof(ParamSmoother)), 0);
    EXPECT_EQ(memcmp(&beforeInstance.diffusionSmoother, &instance.diffusionSmoother, sizeof(ParamSmoother)), 0);
    EXPECT_EQ(beforeInstance.blockPhase, instance.blockPhase);
    free(before);
}

TEST(BlockLoop, EvenOddWithOneUnitGivesTheDryTermOnTheRight) {
    LoopFixture fixture;
    PluginInstance& instance = *fixture.instance;
    EngineState& engine = *instance.engine;
    engine.stereoOutput = true;
    engine.bank.routingMode = 2;
    engine.bank.unitCount = 1;
    engine.bank.unitInputGain[0] = 1.0f;
    instance.mixSmoother.current = instance.mixSmoother.target = 0.3f;
    instance.diffusionSmoother.target = 0.5f;
    fixture.run(48);
    for (uint32_t k = 0; k < 48; ++k) ASSERT_EQ(fixture.right[k], engine.dryGain * fixture.input[k]) << k;
}

TEST(BlockLoop, UnknownRoutingSendsTheInputStageToBothChannels) {
    LoopFixture fixture;
    PluginInstance& instance = *fixture.instance;
    EngineState& engine = *instance.engine;
    engine.stereoOutput = true;
    engine.bank.routingMode = 3;
    instance.mixSmoother.current = instance.mixSmoother.target;  // the gains stay put
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
    PluginInstance& instance = *fixture.instance;
    instance.engine->bank.routingMode = 3;
    instance.engine->stereoOutput = true;
    instance.mixSmoother.current = instance.mixSmoother.target;
    applyDiffusionAmount(*instance.engine, amount);
    instance.diffusionSmoother.current = instance.diffusionSmoother.target = amount;
}

TEST(BlockLoop, BlockWhoseAmountReachesZeroIsTheFirstCopied) {
    LoopFixture fixture;
    holdDiffusion(fixture, 0.5f);
    ParamSmoother& diffusion = fixture.instance->diffusionSmoother;
    const Diffuser& first = fixture.instance->engine->diffusers[0];
    diffusion.current = 2.0f * diffusion.step;
    diffusion.target = 0.0f;
    fixture.run(16);
    EXPECT_NE(fixture.instance->engine->diffusionAmount, 0.0f);
    EXPECT_EQ(first.position, 16u);
    fixture.run(16);
    EXPECT_EQ(fixture.instance->engine->diffusionAmount, 0.0f);
    EXPECT_EQ(first.position, 16u);
    const EngineState& engine = *fixture.instance->engine;
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
    memcpy(before, paused.instance->engine->diffusers, sizeof before);
    paused.run(100);
    EXPECT_EQ(memcmp(before, paused.instance->engine->diffusers, sizeof before), 0);
    holdDiffusion(paused, 0.5f);
    paused.instance->blockPhase = straight.instance->blockPhase;
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
