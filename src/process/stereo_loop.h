// The stereo companion's audio path per run: the two inputs averaged into
// the reverb, the bypass fade, the pre-delay and the rate bridge at the
// host's rate; the engine, its stereo switch and the width at 48 kHz; and
// the dry/wet mix of each channel at the host's rate.
#pragma once

#include <stdint.h>

#include "process/output_mix.h"
#include "process/param_smoother.h"
#include "process/pre_delay.h"
#include "process/wet_rate_bridge.h"
#include "process/wet_width.h"

struct BlockLoop;
struct EngineState;

// Longest pre-delay, in milliseconds.
constexpr float kMaxPreDelayMs = 500.0f;

// What the companion's own controls ask for, read once per run.
struct StereoTargets {
    float mix;             // -1 dry .. 1 wet, as the block loop's mix smoother takes it
    float preDelayMs;
    float widthPercent;
    bool enabled;          // false: the host's bypass
};

struct StereoLoop {
    double hostRate;
    WetRateBridge bridge;
    PreDelay preDelay;
    // The dry/wet mix moves once per 16 host samples counted from the
    // stream's start, across its range in 20 ms, and its gains glide from
    // blockStartGains to gains across each block.
    ParamSmoother mix;
    MixGains gains;
    MixGains blockStartGains;
    uint32_t hostPhase;
    // 1: the reverb is fed and the dry signal has the mix's gain; 0: the
    // reverb hears silence and the dry signal passes at unity. Moves by
    // fadeStep per host sample.
    float fade;
    float fadeStep;
    WetWidth width;
};

// Memory for the bridge and the pre-delay at hostRate (1 Hz .. 768 kHz);
// false, holding nothing, for another rate or when memory is short.
bool initStereoLoop(StereoLoop& loop, double hostRate);
void freeStereoLoop(StereoLoop& loop);

// Before the first sample: the mix, pre-delay, width and bypass at their
// targets at once.
void startStereoLoop(StereoLoop& loop, const StereoTargets& targets);

// n samples of the two inputs into the two outputs; any buffers may be the
// same. The engine runs through runWetBlock on whole 48 kHz blocks.
void runStereoLoop(StereoLoop& loop, BlockLoop& blocks, EngineState& engine, const StereoTargets& targets,
                   const float* inLeft, const float* inRight, float* outLeft, float* outRight, uint32_t n);
