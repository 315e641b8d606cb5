#include "process/block_loop.h"

#include <math.h>
#include <string.h>

#include "engine/engine_state.h"
#include "engine/loop_gain.h"
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

// What happens as each block begins, whichever entry runs it.
void beginBlock(BlockLoop& loop, EngineState& engine) {
    if (tickSmoother(loop.mixSmoother)) updateMixGains(engine, loop.mixSmoother.current);
    if (tickSmoother(loop.diffusionSmoother)) applyDiffusionAmount(engine, loop.diffusionSmoother.current);
    continueClearingRings(engine.bank);
}

// The wet pair of one block, or of the part of one that this call holds
// (n <= 16). A NaN or an infinity in `input` never reaches the diffusers or
// the bank, which would keep it circulating: they hear silence in its place.
void processWetSpan(EngineState& engine, const float* input, float* left, float* right, uint32_t n) {
    float finite[kBlockLength];
    const float* wetInput = input;
    if (!allFinite(input, n)) {
        copyFiniteOrZero(input, finite, n);
        wetInput = finite;
    }
    if (engine.diffusionAmount != 0.0f) {
        runDiffuserChain(engine, wetInput, left, n);
    } else {
        memcpy(left, wetInput, n * sizeof(float));
    }
    routeUnitBank(engine.bank, left, right, n);
    if (!allFinite(left, n) || !allFinite(right, n)) recoverFromNonFiniteState(engine, left, right, n);
}

// One block, or the part of one that this call holds (n <= 16).
void processBlockSpan(EngineState& engine, const float* input, float* left, float* right, uint32_t n) {
    // The input is read once into a copy: a host may hand the same buffer
    // for the input and an output, and the outputs are written before the
    // mix needs the dry signal, which keeps any NaN or infinity.
    float dry[kBlockLength];
    memcpy(dry, input, n * sizeof(float));
    processWetSpan(engine, dry, left, right, n);
    mixOutputs(engine, dry, left, right, n);
}

}  // namespace

void runBlockLoop(BlockLoop& loop, EngineState& engine, const float* input, float* left, float* right,
                  uint32_t sampleCount) {
    uint32_t done = 0;
    while (done < sampleCount) {
        if (loop.blockPhase == 0) beginBlock(loop, engine);
        const uint32_t rest = kBlockLength - loop.blockPhase;
        const uint32_t span = sampleCount - done < rest ? sampleCount - done : rest;
        processBlockSpan(engine, input + done, left + done, right + done, span);
        loop.blockPhase = (loop.blockPhase + span) % kBlockLength;
        done += span;
    }
}

void runWetBlock(BlockLoop& loop, EngineState& engine, const float* input, float* left, float* right) {
    beginBlock(loop, engine);
    processWetSpan(engine, input, left, right, kBlockLength);
}

void startAtControlValues(BlockLoop& loop, EngineState& engine) {
    ChainUnits& units = engine.bank.units;
    for (uint64_t k = 0; k < engine.bank.unitCount; ++k) {
        const uint64_t length = units.pendingLength[k] != 0 ? units.pendingLength[k] : units.length[k];
        units.pendingLength[k] = 0;
        units.gliding[k] = false;
        units.readSpeed[k] = 1.0f;
        units.length[k] = units.targetLength[k] = length;
        // Where a glide to `length` would have left the read pointer: the
        // next sample measures the loop as exactly `length`.
        units.readPhase[k] = static_cast<float>(
            (units.writeIndex[k] % kUnitRingLength + kUnitRingLength + 1 - length) % kUnitRingLength);
        units.feedback[k] = glideEndLoopGain(length, units.sampleRate[k], units.decayMs[k]);
    }
    ParamSmoother* const smoothers[] = {&loop.mixSmoother, &loop.diffusionSmoother};
    for (ParamSmoother* smoother : smoothers) {
        // Only a finite target: a smoother never leaves an infinity, and
        // from elsewhere it moves toward a NaN or an infinity its own way.
        if (isfinite(smoother->target)) smoother->current = smoother->target;
    }
    updateMixGains(engine, loop.mixSmoother.current);
    applyDiffusionAmount(engine, loop.diffusionSmoother.current);
}
