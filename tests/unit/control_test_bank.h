// A fresh engine for tests that call the bank recomputations directly.
#pragma once

#include <memory>

#include "engine/engine_state.h"

struct EngineDeleter {
    void operator()(EngineState* engine) const { destroyEngineState(engine); }
};
using EnginePtr = std::unique_ptr<EngineState, EngineDeleter>;

inline EnginePtr freshEngine() { return EnginePtr(createEngineState()); }

// first + (last - first) * t with a single rounding, the reference for the
// spreads' fused multiply-add: the product of two floats is exact in long
// double and the sum of these magnitudes is too.
inline float singlyRoundedSpread(float first, float last, float t) {
    return static_cast<float>(static_cast<long double>(first) +
                              static_cast<long double>(last - first) * static_cast<long double>(t));
}
