// Turns the smoothed diffusion value into the diffusers' coefficients.
#pragma once

struct EngineState;

// Clamps to +-0.9 and rewrites diffusionAmount and the four coefficients,
// only when the clamped amount differs from the applied one.
void applyDiffusionAmount(EngineState& engine, float amount);
