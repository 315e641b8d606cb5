#include "process/block_loop.h"

#include <string.h>

#include "engine/engine_state.h"
#include "process/diffuser_chain.h"
#include "process/output_mix.h"
#include "process/routing.h"
#include "process/signal_guard.h"

// Audio is cut into 16-sample blocks counted from the first sample the
// instance ever processed, not from the start of each run call: blockPhase
// carries the position inside the current block from one call to the next.
// The smoothers tick when a block begins, and a call that starts or ends
// inside a block runs the diffusers, the kernels and the mix on the part of
// the block it holds. Every stage is causal sample by sample, so without a
// control change the output does not depend on how the host cuts its
// periods; with periods that are multiples of 16 the blocks are exactly the
// 16-sample blocks of each call.
//
// The unit kernels' tap reads are the one place that looks at a block as a
// whole: a tap offset within 16 samples below a whole ring turn reads a cell
// the same block has just overwritten, so a shorter piece of the block reads
// the older value instead. Taps lie within 0.95 of the unit's float length,
// which keeps them clear of that for loops up to about 230 m after jitter.
// The size controls stop at 220 m before jitter, so this is reachable within
// their ranges from about 155 m with a jitter of 100 (e.g. 8 units, sizes
// 200/100, jitter 50, curve -1): about 0.5 % of settings, none of the presets.

namespace {

void tickSmoothers(BlockLoop& loop, EngineState& engine) {
    if (tickSmoother(loop.mixSmoother)) updateMixGains(engine, loop.mixSmoother.current);
    if (tickSmoother(loop.diffusionSmoother)) applyDiffusionAmount(engine, loop.diffusionSmoother.current);
}

// One block, or the part of one that this call holds (n <= 16).
void processBlockSpan(EngineState& engine, const float* input, float* left, float* right, uint32_t n) {
    // The input is read once into a copy: a host may hand the same buffer
    // for the input and an output, and the outputs are written before the
    // mix needs the dry signal.
    float dry[kBlockLength];
    memcpy(dry, input, n * sizeof(float));
    // A NaN or infinity from the host reaches the dry term only: the
    // diffusers and the bank, which would keep it circulating, hear silence
    // in its place.
    float finite[kBlockLength];
    const float* wetInput = dry;
    if (!allFinite(dry, n)) {
        copyFiniteOrZero(dry, finite, n);
        wetInput = finite;
    }
    if (engine.diffusionAmount != 0.0f) {
        runDiffuserChain(engine, wetInput, left, n);
    } else {
        memcpy(left, wetInput, n * sizeof(float));
    }
    routeUnitBank(engine.bank, left, right, n);
    if (!allFinite(left, n) || !allFinite(right, n)) recoverFromNonFiniteState(engine, left, right, n);
    mixOutputs(engine, dry, left, right, n);
}

}  // namespace

void runBlockLoop(BlockLoop& loop, EngineState& engine, const float* input, float* left, float* right,
                  uint32_t sampleCount) {
    uint32_t done = 0;
    while (done < sampleCount) {
        if (loop.blockPhase == 0) {
            tickSmoothers(loop, engine);
            continueClearingRings(engine.bank);
        }
        const uint32_t rest = kBlockLength - loop.blockPhase;
        const uint32_t span = sampleCount - done < rest ? sampleCount - done : rest;
        processBlockSpan(engine, input + done, left + done, right + done, span);
        loop.blockPhase = (loop.blockPhase + span) % kBlockLength;
        done += span;
    }
}
