#include "process/stereo_loop.h"

#include <math.h>
#include <string.h>

#include "engine/engine_state.h"
#include "process/block_loop.h"
#include "process/signal_guard.h"

namespace {

// The bypass fade and the pre-delay's crossfade.
constexpr double kFadeSeconds = 0.005;
// Time the mix takes across its whole range (-1 .. 1): slow enough that a
// change never clicks, even between a dry and a wet signal in opposite
// phase.
constexpr double kMixSweepSeconds = 0.02;

// The reverb's input: the average of the two channels, silence in place of
// a NaN or an infinity (the dry signal keeps it), faded by the bypass.
void sumInputs(StereoLoop& loop, bool enabled, const float* left, const float* right, float* mono, float* fade,
               uint32_t n) {
    const float goal = enabled ? 1.0f : 0.0f;
    float level = loop.fade;
    for (uint32_t k = 0; k < n; ++k) {
        if (level < goal) level = level + loop.fadeStep < goal ? level + loop.fadeStep : goal;
        else if (level > goal) level = level - loop.fadeStep > goal ? level - loop.fadeStep : goal;
        fade[k] = level;
        mono[k] = 0.5f * (left[k] + right[k]) * level;
    }
    loop.fade = level;
    if (!allFinite(mono, n)) copyFiniteOrZero(mono, mono, n);
}

// One engine block: the wet pair, folded to mono when the stereo switch is
// off (both channels carry the sum, as in the mono-input plug-in), then
// widened.
void runEngineBlock(StereoLoop& loop, BlockLoop& blocks, EngineState& engine, const float* block) {
    alignas(64) float left[kBlockLength];
    alignas(64) float right[kBlockLength];
    runWetBlock(blocks, engine, block, left, right);
    if (!engine.stereoOutput) {
        for (uint32_t k = 0; k < kBlockLength; ++k) left[k] = right[k] = right[k] + left[k];
    }
    applyWetWidth(loop.width, left, right);
    bridgeEndEngineBlock(loop.bridge, left, right);
}

// Each channel's dry signal with the wet one. A new mix position is reached
// over one 16-sample block, sample by sample, so that moving it never
// clicks. The dry gain goes to unity as the bypass fades the reverb's input
// out, while the tail keeps the mix's wet gain and rings on.
void mixChannels(StereoLoop& loop, const float* dryLeft, const float* dryRight, const float* wetLeft,
                 const float* wetRight, const float* fade, float* outLeft, float* outRight, uint32_t n) {
    constexpr float kAlong = 1.0f / static_cast<float>(kBlockLength);
    for (uint32_t k = 0; k < n;) {
        if (loop.hostPhase == 0) {
            loop.blockStartGains = loop.gains;
            if (tickSmoother(loop.mix)) loop.gains = equalPowerMixGains(loop.mix.current);
        }
        const MixGains from = loop.blockStartGains;
        const MixGains to = loop.gains;
        const uint32_t end = k + (kBlockLength - loop.hostPhase) < n ? k + (kBlockLength - loop.hostPhase) : n;
        for (; k < end; ++k) {
            const float along = static_cast<float>(++loop.hostPhase) * kAlong;
            const float dryMix = from.dry + along * (to.dry - from.dry);
            const float wet = from.wet + along * (to.wet - from.wet);
            const float dry = 1.0f - fade[k] * (1.0f - dryMix);  // exactly 1 when bypassed
            outLeft[k] = dry * dryLeft[k] + wet * wetLeft[k];
            outRight[k] = dry * dryRight[k] + wet * wetRight[k];
        }
        if (loop.hostPhase == kBlockLength) loop.hostPhase = 0;
    }
}

}  // namespace

bool initStereoLoop(StereoLoop& loop, double hostRate) {
    loop = StereoLoop{};
    if (!initWetRateBridge(loop.bridge, hostRate, kBridgeCommonLatencySeconds)) return false;
    const uint32_t fadeLength = static_cast<uint32_t>(kFadeSeconds * hostRate + 0.5);
    const uint32_t longest = static_cast<uint32_t>(static_cast<double>(kMaxPreDelayMs) * 0.001 * hostRate + 0.5);
    if (!initPreDelay(loop.preDelay, longest, fadeLength)) {
        freeWetRateBridge(loop.bridge);
        return false;
    }
    loop.hostRate = hostRate;
    const double blocksPerSweep = kMixSweepSeconds * hostRate / kBlockLength;
    loop.mix = ParamSmoother{1, 0, 0.0f, 0.0f, static_cast<float>(2.0 / (blocksPerSweep > 1.0 ? blocksPerSweep : 1.0))};
    loop.gains = loop.blockStartGains = equalPowerMixGains(0.0f);
    loop.fade = 1.0f;
    loop.fadeStep = fadeLength == 0 ? 1.0f : 1.0f / static_cast<float>(fadeLength);
    loop.width = WetWidth{1.0f, 1.0f};
    return true;
}

void freeStereoLoop(StereoLoop& loop) {
    freePreDelay(loop.preDelay);
    freeWetRateBridge(loop.bridge);
}

void startStereoLoop(StereoLoop& loop, const StereoTargets& targets) {
    loop.mix.target = targets.mix;
    // Only a finite target, as in startAtControlValues.
    if (isfinite(targets.mix)) loop.mix.current = targets.mix;
    loop.gains = loop.blockStartGains = equalPowerMixGains(loop.mix.current);
    jumpPreDelay(loop.preDelay, preDelaySamples(loop.preDelay, targets.preDelayMs, loop.hostRate));
    loop.width.current = loop.width.target = widthFromPercent(targets.widthPercent);
    loop.fade = targets.enabled ? 1.0f : 0.0f;
}

void runStereoLoop(StereoLoop& loop, BlockLoop& blocks, EngineState& engine, const StereoTargets& targets,
                   const float* inLeft, const float* inRight, float* outLeft, float* outRight, uint32_t n) {
    loop.mix.target = targets.mix;
    setPreDelayTarget(loop.preDelay, preDelaySamples(loop.preDelay, targets.preDelayMs, loop.hostRate));
    loop.width.target = widthFromPercent(targets.widthPercent);
    for (uint32_t done = 0; done < n;) {
        const uint32_t slice = n - done < kBridgeSliceLength ? n - done : kBridgeSliceLength;
        // The inputs are read before any output is written: a host may
        // hand one buffer for an input and an output.
        float dryLeft[kBridgeSliceLength];
        float dryRight[kBridgeSliceLength];
        float mono[kBridgeSliceLength];
        float fade[kBridgeSliceLength];
        memcpy(dryLeft, inLeft + done, slice * sizeof(float));
        memcpy(dryRight, inRight + done, slice * sizeof(float));
        sumInputs(loop, targets.enabled, dryLeft, dryRight, mono, fade, slice);
        runPreDelay(loop.preDelay, mono, slice);
        bridgeBeginSlice(loop.bridge, mono, slice);
        const float* block;
        while (bridgeNextEngineBlock(loop.bridge, &block)) runEngineBlock(loop, blocks, engine, block);
        float wetLeft[kBridgeSliceLength];
        float wetRight[kBridgeSliceLength];
        bridgeEndSlice(loop.bridge, wetLeft, wetRight, slice);
        mixChannels(loop, dryLeft, dryRight, wetLeft, wetRight, fade, outLeft + done, outRight + done, slice);
        done += slice;
    }
}
