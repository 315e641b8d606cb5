#include "process/diffuser_chain.h"

#include "engine/engine_state.h"

namespace {

// Cells position .. position + n - 1 must all lie inside the ring: no wrap
// test per sample.
void diffuseWithoutWrap(Diffuser& diffuser, const float* source, float* destination, uint32_t n) {
    const float g = diffuser.coefficient;
    const float a = diffuser.damping;
    float z = diffuser.dampState;
    float* cell = diffuser.ring + diffuser.position;
    for (uint32_t k = 0; k < n; ++k) {
        const float x = source[k];
        const float d = cell[k];  // what went in `length` samples ago
        const float w = x - g * d;
        destination[k] = d + g * w;
        // One-pole low-pass on what recirculates, so each pass loses highs.
        z = w + a * (z - w);
        cell[k] = z;
    }
    diffuser.dampState = z;
}

}  // namespace

void processDiffuser(Diffuser& diffuser, const float* source, float* destination, uint32_t n) {
    uint32_t done = 0;
    while (done < n) {
        // Split the block where it crosses the end of the ring.
        const uint64_t room = diffuser.length - diffuser.position;
        const uint32_t span = room < n - done ? static_cast<uint32_t>(room) : n - done;
        diffuseWithoutWrap(diffuser, source + done, destination + done, span);
        diffuser.position += span;
        if (diffuser.position == diffuser.length) diffuser.position = 0;
        done += span;
    }
}

void runDiffuserChain(EngineState& engine, const float* source, float* destination, uint32_t n) {
    processDiffuser(engine.diffusers[0], source, destination, n);
    for (size_t index = 1; index < kDiffuserCount; ++index) {
        processDiffuser(engine.diffusers[index], destination, destination, n);
    }
}

void applyDiffusionAmount(EngineState& engine, float amount) {
    float a = amount;
    float b;  // the two longer diffusers run at 0.8333334 (about 5/6) of the short ones' coefficient
    if (a < -0.9f) {
        a = -0.9f;
        b = -0.75f;
    } else if (a > 0.9f) {
        a = 0.9f;
        b = 0.75f;
    } else {
        b = a * 0.8333334f;
    }
    if (a == engine.diffusionAmount) return;
    engine.diffusionAmount = a;
    engine.diffusers[0].coefficient = a;
    engine.diffusers[1].coefficient = a;
    engine.diffusers[2].coefficient = b;
    engine.diffusers[3].coefficient = b;
}
