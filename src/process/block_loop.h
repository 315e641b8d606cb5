// Second stage of run: the audio in 16-sample blocks, with the two smoothers
// that move the mix and the diffusion amount once per block.
#pragma once

#include <stdint.h>

#include "process/param_smoother.h"

struct EngineState;

// What the block loop carries from one run call to the next.
struct BlockLoop {
    // Targets set by the control stage: the mix (-1 dry .. 1 wet) and the
    // diffusion amount.
    ParamSmoother mixSmoother;
    ParamSmoother diffusionSmoother;
    // Samples of the current 16-sample block already processed by earlier
    // run calls, so that a call may start or end inside a block.
    uint32_t blockPhase;
};

// A new instance's block loop. The mix starts far outside what its port can
// give, so the first block always computes the gains.
constexpr BlockLoop kFreshBlockLoop = {
    {1, 0, 50.0f, 49.995f, 0.6666667f},  // interval, counter, target, current, step
    {1, 0, 0.0f, 0.0f, 0.006666667f},
    0,
};

// Runs sampleCount samples of `input` through the engine into `left` and
// `right`; any sample count, the blocks go on across calls.
void runBlockLoop(BlockLoop& loop, EngineState& engine, const float* input, float* left, float* right,
                  uint32_t sampleCount);

// One whole 16-sample block of `input` through the engine into the wet
// pair, without the dry mix, after what runBlockLoop does as a block begins
// (the smoothers tick, silenced rings clear). For a caller that only ever
// hands whole blocks (blockPhase is not used); `input` must not overlap
// `left` or `right`.
void runWetBlock(BlockLoop& loop, EngineState& engine, const float* input, float* left, float* right);

// A start at the controls' values, for an instance whose control stage has
// run once and whose audio has not begun: every active unit at the length
// it was asked for (posted requests taken at once, with the gain a glide's
// end would set), and the mix and the diffusion amount at their targets.
// Later changes glide and move block by block as usual.
void startAtControlValues(BlockLoop& loop, EngineState& engine);
