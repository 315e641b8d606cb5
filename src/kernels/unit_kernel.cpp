#include "kernels/unit_kernel.h"

#include "kernels/ladder_filter.h"
#include "kernels/unit_range.h"

namespace {

// The n ring entries at (base + j) mod 2^64 mod 32000. Sample j of a tap is
// the value written its offset before sample j; offsets of any size keep the
// index inside the ring.
void readTap(const float* ring, uint64_t base, uint32_t n, float* tap) {
    if (base > UINT64_MAX - n) {  // the 64-bit sum itself wraps within the block
        for (uint32_t j = 0; j < n; ++j) tap[j] = ring[(base + j) % kUnitRingLength];
        return;
    }
    uint64_t i = base % kUnitRingLength;
    for (uint32_t j = 0; j < n; ++j) {
        tap[j] = ring[i];
        if (++i == kUnitRingLength) i = 0;
    }
}

// Adds (+1) or subtracts (-1) one unit's main output plus its taps into the sums.
void accumulateUnit(const float* main, const float* tapA, const float* tapB, float* left,
                    float* right, uint32_t n, bool subtract) {
    if (subtract) {
        for (uint32_t j = 0; j < n; ++j) {
            left[j] = left[j] - (main[j] + tapA[j]);
            right[j] = right[j] - (main[j] + tapB[j]);
        }
    } else {
        for (uint32_t j = 0; j < n; ++j) {
            left[j] = (main[j] + tapA[j]) + left[j];
            right[j] = (main[j] + tapB[j]) + right[j];
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
    float tapA[kMaxKernelBlock];
    float tapB[kMaxKernelBlock];
    bool subtract = false;
    // input is read here only, before any output store, so it may alias either output.
    for (uint64_t u = first; u < end; u += stride) {
        const float gain = bank.unitInputGain[u];
        for (uint32_t j = 0; j < n; ++j) x[j] = input[j] * gain;
        filterUnitInput(bank, u, x, n);
        ChainUnit& unit = bank.units[u];
        runDelayLine(unit, x, main, n, path);
        // W - n is where this block's writes began.
        const uint64_t blockStart = unit.writeIndex + 2 * kUnitRingLength - n;
        readTap(unit.ring, blockStart - bank.tapOffsetA[u], n, tapA);
        readTap(unit.ring, blockStart - bank.tapOffsetB[u], n, tapB);
        accumulateUnit(main, tapA, tapB, left, right, n, subtract);
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
    processUnitRange(bank, first, end, 1, input, outLeft, outRight, n, DelayLinePath::Fastest);
}

void processAlternateUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input,
                           float* outLeft, float* outRight, uint32_t n) {
    processUnitRange(bank, first, end, 2, input, outLeft, outRight, n, DelayLinePath::Fastest);
}
