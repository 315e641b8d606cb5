// Stereo width of the wet pair by mid and side: 0 folds it to mono, 1 keeps
// the engine's own image, 2 doubles the side. Changes ramp sample by sample
// over a few blocks, so that moving it never clicks or zips.
#pragma once

#include <stdint.h>

struct WetWidth {
    float current;  // side gain at the end of the last block
    float target;
};

constexpr float kWidthMax = 2.0f;

// The side gain for a control value in percent: 0 .. 200 %, NaN gives 100 %.
float widthFromPercent(float percent);

// One 16-sample block of the wet pair, in place.
void applyWetWidth(WetWidth& width, float* left, float* right);
