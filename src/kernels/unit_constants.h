// Constants of the unit delay loop, each the float nearest the number written.
#pragma once

#include <stdint.h>

#include "engine/engine_state.h"

// DC blocker inside the loop: pole, and input gain (1 + pole) / 2 for unity
// gain at the Nyquist frequency.
constexpr float kDcBlockerPole = 0.99687076f;
constexpr float kDcBlockerInputGain = 0.99843538f;
static_assert(kDcBlockerInputGain == (1.0f + kDcBlockerPole) * 0.5f, "unity gain at the Nyquist frequency");
// Read-pointer speeds while a glide lengthens or shortens the loop.
constexpr float kLengtheningSpeed = 0.9f;  // loop grows by 0.1 sample per sample
constexpr float kShorteningSpeed = 1.11f;  // loop shrinks by 0.11 sample per sample
constexpr float kRingLengthFloat = 32000.0f;
static_assert(kUnitRingLength == 32000, "kRingLengthFloat must match the ring");
