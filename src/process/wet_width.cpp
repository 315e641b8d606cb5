#include "process/wet_width.h"

#include "engine/engine_state.h"

namespace {

// Largest change of the side gain per 16-sample block: the whole range in
// 40 blocks, 13 ms at 48 kHz.
constexpr float kWidthStepPerBlock = 0.05f;

}  // namespace

float widthFromPercent(float percent) {
    const float width = percent * 0.01f;
    if (width != width) return 1.0f;
    return width < 0.0f ? 0.0f : width > kWidthMax ? kWidthMax : width;
}

void applyWetWidth(WetWidth& width, float* left, float* right) {
    const float from = width.current;
    const float change = width.target - from;
    const float to = change > kWidthStepPerBlock ? from + kWidthStepPerBlock
                     : change < -kWidthStepPerBlock ? from - kWidthStepPerBlock
                                                    : width.target;
    const float slope = (to - from) * (1.0f / static_cast<float>(kBlockLength));
    for (uint32_t k = 0; k < kBlockLength; ++k) {
        const float side = from + slope * static_cast<float>(k + 1);
        const float mid = 0.5f * (left[k] + right[k]);
        const float spread = side * (0.5f * (left[k] - right[k]));
        left[k] = mid + spread;
        right[k] = mid - spread;
    }
    width.current = to;
}
