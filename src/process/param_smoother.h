// A rate-limited value, ticked once per 16-sample block, so that the mix and
// the diffusion amount never jump.
#pragma once

#include <stdint.h>

struct ParamSmoother {
    uint64_t interval;  // blocks from one update to the next
    uint64_t counter;   // blocks since the last update
    float target;
    float current;
    float step;         // largest change of current per update
};

// Advances one block; true when current moved and its consumers must follow.
bool tickSmoother(ParamSmoother& smoother);
