#include "process/diffusion_amount.h"

#include "engine/engine_state.h"

void applyDiffusionAmount(EngineState& engine, float amount) {
    float a = amount;
    float b;  // the two longer diffusers run at 5/6 of the short ones' coefficient
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
