// The final dry/wet mix of one block into the two output ports.
#pragma once

#include <stdint.h>

struct EngineState;

// `dry` is the block's unprocessed input; `left`/`right` hold the processed
// pair and receive the outputs. n <= 16.
void mixOutputs(const EngineState& engine, const float* dry, float* left, float* right, uint32_t n);
