// Single-precision constants of the control stage. A constant that is the
// float nearest a number is written as that number; one defined by its bits
// as a hexadecimal literal. control_constants_test ties each to what it is
// derived from.
#pragma once

// Port scalings.
constexpr float kPercent = 0.01f;                  // percent to fraction
constexpr float kResonanceScale = 0x1.999998p-6f;  // one step below 0.025f
constexpr float kCurveMin = 0.3f;                  // flattest size-curve exponent
constexpr float kCurveGain = 3.0f;

// Unit lengths and taps.
constexpr float kSizeUnitPerSample = 0.0030303029f;  // 1/330: one size unit is rate/330 samples
constexpr float kJitterDrawScale = 0x1p-32f;         // a draw onto [0, 0.5]
constexpr float kTapDrawScale = 0x1p-31f;            // a draw onto [0, 1]
constexpr float kTapBase = 0.9f;                     // taps start at 0.45 of the length

// Ladder poles: exp(-2 pi f / 48000), the constant one ulp above 2 pi / 48000 in magnitude.
constexpr float kPoleScale = -0x1.12843ep-13f;
constexpr float kOctavesPerNepers = 1.442695f;  // 1 / ln 2

// Modulation.
constexpr float kMaxModDepthSamples = 300.0f;
constexpr float kLfoIncrementPerHz = 0.0000416666662f;  // 1/24000: a sawtooth of span 2 at 48000
// The sawtooth wraps once per sample by 2, so a larger step would carry the
// kernels' read position out of the ring.
constexpr float kMaxLfoIncrement = 2.0f;
