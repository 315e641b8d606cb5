// The floating-point mode the engine computes in: flush-to-zero on,
// round-to-nearest, every exception masked, denormals-are-zero off. Hosts
// load plug-ins on one thread and call run on another, so run enters this
// mode itself and gives the caller's mode back before it returns.
#pragma once

#include <stdint.h>

struct FloatModeSave {
    uint32_t saved;
};

FloatModeSave enterEngineFloatMode();
void leaveEngineFloatMode(FloatModeSave save);
// The control word of the engine's mode on this architecture (0 where the
// architecture has no such control).
uint32_t engineFloatModeWord();
