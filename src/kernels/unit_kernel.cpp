#include "kernels/unit_kernel.h"

#include "kernels/ladder_filter.h"
#include "kernels/unit_range.h"

namespace {

// Adds (+1) or subtracts (-1) one unit's main output plus its two taps into
// the sums. Tap j is the value written tapOffset samples before sample j;
// the index arithmetic wraps in 64 bits exactly as written, so any offset
// stays inside the ring.
void accumulateUnit(const ChainUnit& unit, uint64_t tapOffsetA, uint64_t tapOffsetB,
                    const float* main, float* left, float* right, uint32_t n, bool subtract) {
    const uint64_t baseA = unit.writeIndex + 2 * kUnitRingLength - n - tapOffsetA;
    const uint64_t baseB = unit.writeIndex + 2 * kUnitRingLength - n - tapOffsetB;
    const float* const ring = unit.ring;
    for (uint32_t j = 0; j < n; ++j) {
        const float tapA = ring[(baseA + j) % kUnitRingLength];
        const float tapB = ring[(baseB + j) % kUnitRingLength];
        if (subtract) {
            left[j] = left[j] - (main[j] + tapA);
            right[j] = right[j] - (main[j] + tapB);
        } else {
            left[j] = (main[j] + tapA) + left[j];
            right[j] = (main[j] + tapB) + right[j];
        }
    }
}

}  // namespace

void processUnitRange(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride,
                      const float* input, float* outLeft, float* outRight, uint32_t n,
                      DelayLinePath path) {
    if (n == 0) return;
    if (n > kMaxKernelBlock) n = kMaxKernelBlock;
    if (end > kMaxUnits) end = kMaxUnits;
    float left[kMaxKernelBlock] = {};
    float right[kMaxKernelBlock] = {};
    float x[kMaxKernelBlock];
    float main[kMaxKernelBlock];
    bool subtract = false;
    // input is read here only, before any output store, so it may alias either output.
    for (uint64_t u = first; u < end; u += stride) {
        const float gain = bank.unitInputGain[u];
        for (uint32_t j = 0; j < n; ++j) x[j] = input[j] * gain;
        filterUnitInput(bank, u, x, n);
        ChainUnit& unit = bank.units[u];
        runDelayLine(unit, x, main, n, path);
        accumulateUnit(unit, bank.tapOffsetA[u], bank.tapOffsetB[u], main, left, right, n, subtract);
        subtract = !subtract;
    }
    // Louder banks are scaled down in steps of five units, by the whole bank's count.
    const float scale = 1.0f / (float)(bank.unitCount / 5 + 1);
    for (uint32_t j = 0; j < n; ++j) {
        outLeft[j] = left[j] * scale;
        outRight[j] = right[j] * scale;
    }
}

void processUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input, float* outLeft,
                  float* outRight, uint32_t n) {
    processUnitRange(bank, first, end, 1, input, outLeft, outRight, n, DelayLinePath::FullProcedure);
}

void processAlternateUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input,
                           float* outLeft, float* outRight, uint32_t n) {
    processUnitRange(bank, first, end, 2, input, outLeft, outRight, n, DelayLinePath::FullProcedure);
}
