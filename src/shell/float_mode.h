// The floating-point mode the engine computes in: flush-to-zero on,
// round-to-nearest, every exception masked, denormals-are-zero off. The
// mode belongs to the host's thread, so the entry points that compute
// (instantiate, run) enter this mode themselves and give the caller's back
// before they return; loading the library changes nothing.
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
