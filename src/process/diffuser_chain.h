// The damped allpass diffusers in front of the unit bank.
#pragma once

#include <stdint.h>

struct Diffuser;
struct EngineState;

// Runs one diffuser over n samples (n <= 16), reading source[k] before
// writing destination[k]; the two may be the same block.
void processDiffuser(Diffuser& diffuser, const float* source, float* destination, uint32_t n);

// Diffusers 0..3 in series: source into destination, then in place.
void runDiffuserChain(EngineState& engine, const float* source, float* destination, uint32_t n);
