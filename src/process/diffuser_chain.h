// The damped allpass diffusers in front of the unit bank, and the amount
// that sets their coefficients.
#pragma once

#include <stdint.h>

struct Diffuser;
struct EngineState;

// Runs one diffuser over n samples (n <= 16), reading source[k] before
// writing destination[k]; the two may be the same block.
void processDiffuser(Diffuser& diffuser, const float* source, float* destination, uint32_t n);

// Diffusers 0..3 in series: source into destination, then in place.
void runDiffuserChain(EngineState& engine, const float* source, float* destination, uint32_t n);

// The smoothed diffusion value into the diffusers' coefficients: clamps to
// +-0.9 and rewrites diffusionAmount and the four coefficients, only when
// the clamped amount differs from the applied one.
void applyDiffusionAmount(EngineState& engine, float amount);
