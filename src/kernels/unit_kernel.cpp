#include "kernels/unit_kernel.h"

#include "kernels/delay_line.h"
#include "kernels/ladder_filter.h"
#include "kernels/ring_taps.h"
#include "kernels/vector_kernel_avx2.h"
#include "kernels/vector_kernel_avx512.h"
#include "kernels/vector_kernel_sse2.h"
#include "kernels/vector_unit_job.h"

namespace {

// One unit's block on its own: gain, filter, delay line and both taps.
// main + tapA goes to contribLeft and main + tapB to contribRight.
void runUnitAlone(UnitBank& bank, uint64_t u, const float* input, float* contribLeft, float* contribRight,
                  uint32_t n, DelayLinePath path) {
    // A unit silenced after a non-finite value waits, frozen, for its ring
    // to be cleared.
    if (bank.units.ringLeftToClear[u] != 0) {
        for (uint32_t j = 0; j < n; ++j) contribLeft[j] = contribRight[j] = 0.0f;
        return;
    }
    float x[kMaxKernelBlock];
    float main[kMaxKernelBlock];
    float tapA[kMaxKernelBlock];
    float tapB[kMaxKernelBlock];
    const float gain = bank.unitInputGain[u];
    for (uint32_t j = 0; j < n; ++j) x[j] = input[j] * gain;
    filterUnitInput(bank, u, x, n);
    runDelayLine(bank, u, x, main, n, path);
    // W - n is where this block's writes began.
    const uint64_t blockStart = bank.units.writeIndex[u] + 2 * kUnitRingLength - n;
    const float* ring = bank.rings[u].samples;
    readTap(ring, blockStart - bank.tapOffsetA[u], n, tapA);
    readTap(ring, blockStart - bank.tapOffsetB[u], n, tapB);
    for (uint32_t j = 0; j < n; ++j) {
        contribLeft[j] = main[j] + tapA[j];
        contribRight[j] = main[j] + tapB[j];
    }
}

// Adds (+1) or subtracts (-1) one unit's contribution into the sums.
void accumulate(const float* contribLeft, const float* contribRight, float* left, float* right, uint32_t n,
                bool subtract) {
    if (subtract) {
        for (uint32_t j = 0; j < n; ++j) {
            left[j] = left[j] - contribLeft[j];
            right[j] = right[j] - contribRight[j];
        }
    } else {
        for (uint32_t j = 0; j < n; ++j) {
            left[j] = contribLeft[j] + left[j];
            right[j] = contribRight[j] + right[j];
        }
    }
}

// Louder banks are scaled down in steps of five units, by the whole bank's count.
void writeScaled(const UnitBank& bank, const float* left, const float* right, float* outLeft, float* outRight,
                 uint32_t n) {
    const float scale = 1.0f / (float)(bank.unitCount / 5 + 1);
    for (uint32_t j = 0; j < n; ++j) {
        outLeft[j] = left[j] * scale;
        outRight[j] = right[j] * scale;
    }
}

// Each unit on its own, with the delay line's own choice of loop.
void processUnitsOneByOne(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride, const float* input,
                          float* outLeft, float* outRight, uint32_t n, DelayLinePath path) {
    float left[kMaxKernelBlock] = {};
    float right[kMaxKernelBlock] = {};
    float contribLeft[kMaxKernelBlock];
    float contribRight[kMaxKernelBlock];
    bool subtract = false;
    // input is read here only, before any output store, so it may alias either output.
    for (uint64_t u = first; u < end; u += stride) {
        runUnitAlone(bank, u, input, contribLeft, contribRight, n, path);
        accumulate(contribLeft, contribRight, left, right, n, subtract);
        subtract = !subtract;
    }
    writeScaled(bank, left, right, outLeft, outRight, n);
}

// A unit the vector lanes leave to the per-sample procedure.
void runUnitAloneForLanes(UnitBank& bank, uint64_t u, const float* input, float* contribLeft, float* contribRight,
                          uint32_t n) {
    runUnitAlone(bank, u, input, contribLeft, contribRight, n, DelayLinePath::Fastest);
}

// A block of up to 16 samples through a vector kernel, which runs the units
// in lanes (those it cannot take through runUnitAloneForLanes) and sums
// every unit's contribution in visiting order as the one-by-one form does.
void processUnitsInVectors(UnitBank& bank, uint64_t first, uint32_t count, uint32_t stride, const float* input,
                           float* outLeft, float* outRight, uint32_t n, VectorKernel kernel) {
    alignas(64) float contribLeft[kMaxUnits][kBlockLength];
    alignas(64) float contribRight[kMaxUnits][kBlockLength];
    alignas(64) float left[kBlockLength];
    alignas(64) float right[kBlockLength];
    const VectorUnitJob job = {&bank, input, first, stride, count, n, runUnitAloneForLanes, contribLeft, contribRight,
                               left, right};
    kernel(job);
    writeScaled(bank, left, right, outLeft, outRight, n);
}

VectorKernel vectorKernelFor(KernelPath path) {
#if defined(__x86_64__)
    switch (path) {
        case KernelPath::Sse2: return runUnitsSse2;
        case KernelPath::Avx2: return runUnitsAvx2;
        case KernelPath::Avx512: return runUnitsAvx512;
        default: break;
    }
#else
    (void)path;
#endif
    return nullptr;
}

}  // namespace

void processUnitRange(UnitBank& bank, uint64_t first, uint64_t end, uint64_t stride,
                      const float* input, float* outLeft, float* outRight, uint32_t n,
                      KernelPath path) {
    if (n == 0) return;
    if (n > kMaxKernelBlock) n = kMaxKernelBlock;
    if (end > kMaxUnits) end = kMaxUnits;
    const VectorKernel kernel = vectorKernelFor(path);
    // The lanes take every piece of a block (the block loop passes at most
    // 16 samples) at the strides the routing uses.
    if (kernel != nullptr && n <= kBlockLength && (stride == 1 || stride == 2) && first < end) {
        const uint32_t count = (uint32_t)((end - first + stride - 1) / stride);
        processUnitsInVectors(bank, first, count, (uint32_t)stride, input, outLeft, outRight, n, kernel);
        return;
    }
    const DelayLinePath loop = path == KernelPath::Oracle ? DelayLinePath::FullProcedure : DelayLinePath::Fastest;
    processUnitsOneByOne(bank, first, end, stride, input, outLeft, outRight, n, loop);
}

void processUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input, float* outLeft,
                  float* outRight, uint32_t n) {
    processUnitRange(bank, first, end, 1, input, outLeft, outRight, n, activeKernelPath());
}

void processAlternateUnits(UnitBank& bank, uint64_t first, uint64_t end, const float* input,
                           float* outLeft, float* outRight, uint32_t n) {
    processUnitRange(bank, first, end, 2, input, outLeft, outRight, n, activeKernelPath());
}
