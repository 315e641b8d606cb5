#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "kernel_test_bank.h"
#include "kernels/block_bounds.h"
#include "kernels/kernel_path.h"
#include "kernels/unit_range.h"

namespace {

const KernelPath kVectorPaths[] = {KernelPath::Sse2, KernelPath::Avx2, KernelPath::Avx512};

// Modulation from none to the extremes the control stage allows; the small
// steps keep most blocks inside the vector kernels' lookup windows, the
// large ones force the per-sample form.
const float kDepths[] = {0.0f, 0.5f, 12.0f, 150.0f, 300.0f};
const float kSteps[] = {0.0f, 1.0e-7f, 0.0000166f, 0.0004166f, 0.01f, 0.3f};

void seedBank(UnitBank& bank, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    bank.unitCount = kMaxUnits;
    for (uint64_t k = 0; k < kMaxUnits; ++k) {
        ChainUnit& u = bank.units[k];
        setSteadyUnit(u, rng() % kUnitRingLength, 301 + rng() % 31000);
        for (uint64_t i = 0; i < kUnitRingLength; ++i) u.ring[i] = 2.0f * unit(rng) - 1.0f;
        for (uint64_t i = 0; i < kUnitGuardEntries; ++i) u.ring[kUnitRingLength + i] = u.ring[i];
        // A fractional read pointer, as glides leave it.
        u.readPhase = u.readPhase + (float)(rng() % 1024) / 1024.0f;
        if (u.readPhase >= 32000.0f) u.readPhase -= 32000.0f;
        u.feedback = 0.5f + 0.45f * unit(rng);
        u.decayMs = 200.0f + 2000.0f * unit(rng);
        u.modDepth = kDepths[k % 5];
        u.lfoIncrement = kSteps[k % 6];
        u.lfoPhase = 2.0f * unit(rng) - 1.0f;
        u.dcState = 0.1f * unit(rng);
        bank.unitInputGain[k] = 0.5f + unit(rng);
        // Mostly inside the loop, some within a block of a whole turn or beyond it.
        bank.tapOffsetA[k] = rng() % 4 == 0 ? 31980 + rng() % 40 : rng() % 30000;
        bank.tapOffsetB[k] = rng() % 8 == 0 ? rng() % 20 : rng() % 40000;
        for (auto& set : bank.ladderSets) {
            LadderRecord& r = set[k];
            r.resonance = 3.0f * unit(rng);
            r.pole1 = r.pole2 = r.pole3 = r.pole4 = 0.1f + 0.85f * unit(rng);
            r.state1 = 0.1f * unit(rng);
            r.lastOutput = 0.1f * unit(rng);  // differs from state4 until the first block
        }
    }
}

// Control-like changes between blocks: length requests (also during a
// glide, and equal to the length), new modulation, another filter type.
void disturb(UnitBank& bank, std::mt19937& rng, int block) {
    if (rng() % 6 == 0) {
        ChainUnit& u = bank.units[rng() % kMaxUnits];
        int64_t target = (int64_t)u.length + (int64_t)(rng() % 3000) - 1500;
        if (rng() % 5 == 0) target = (int64_t)u.length;
        // Glides so short that they end in the block that starts them.
        if (rng() % 4 == 0) target = (int64_t)u.length + (int64_t)(rng() % 5) - 2;
        if (target < 301) target = 301;
        if (target > 31999) target = 31999;
        u.pendingLength = (uint64_t)target;
    }
    if (rng() % 100 == 0) {
        ChainUnit& u = bank.units[rng() % kMaxUnits];
        u.modDepth = kDepths[rng() % 5];
        u.lfoIncrement = kSteps[rng() % 6];
    }
    if (block % 250 == 0) bank.filterType = (int32_t)(rng() % 9) - 1;
}

class VectorPath : public ::testing::TestWithParam<KernelPath> {
protected:
    void SetUp() override {
        if (!kernelPathSupported(GetParam())) GTEST_SKIP() << kernelPathName(GetParam()) << " not on this CPU";
    }
};

std::string pathName(const ::testing::TestParamInfo<KernelPath>& info) { return kernelPathName(info.param); }

}  // namespace

// Long runs over a full bank in the three arrangements the block loop uses,
// with glides, length requests, modulation up to the limits, every filter
// type, taps that read the block's own writes, and now and then a block
// length other than 16: outputs, unit records and filter states bit for bit.
TEST_P(VectorPath, UnitBankMatchesTheOracleBitForBit) {
    EngineFloatModeScope mode;
    EnginePtr fast = makeEngine();
    std::mt19937 rng(77);
    seedBank(fast->bank, rng);
    EnginePtr oracle = cloneEngine(*fast);

    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    float in[kMaxKernelBlock], fl[kMaxKernelBlock], fr[kMaxKernelBlock], ol[kMaxKernelBlock],
        orr[kMaxKernelBlock];
    uint64_t vectorBlocks = 0, otherBlocks = 0, glidingVectorBlocks = 0;
    for (int block = 0; block < 12000; ++block) {
        std::mt19937 events(rng());
        std::mt19937 eventsTwin = events;
        disturb(fast->bank, events, block);
        disturb(oracle->bank, eventsTwin, block);

        const uint32_t n = block % 37 == 0 ? 1 + rng() % kMaxKernelBlock : kBlockLength;
        for (uint32_t j = 0; j < n; ++j) in[j] = (block % 900 < 800) ? noise(rng) : 0.0f;
        const uint64_t stride = 1 + block % 2;
        const uint64_t first = (block % 3 == 0) ? kMaxUnits / 2 : block % 2;
        for (uint64_t k = first; k < kMaxUnits && n == kBlockLength; k += stride) {
            const ChainUnit& u = fast->bank.units[k];
            if (blockFitsVectors(u, n, 16, 0)) {
                ++vectorBlocks;
                if (u.gliding) ++glidingVectorBlocks;
            } else {
                ++otherBlocks;
            }
        }
        // The input buffer doubles as the left output, as in the block loop.
        float fastIn[kMaxKernelBlock];
        memcpy(fastIn, in, sizeof in);
        processUnitRange(fast->bank, first, kMaxUnits, stride, fastIn, fastIn, fr, n, GetParam());
        memcpy(fl, fastIn, sizeof fl);
        processUnitRange(oracle->bank, first, kMaxUnits, stride, in, ol, orr, n, KernelPath::Oracle);
        for (uint32_t j = 0; j < n; ++j) {
            ASSERT_EQ(bitsOf(fl[j]), bitsOf(ol[j])) << "block " << block << " sample " << j;
            ASSERT_EQ(bitsOf(fr[j]), bitsOf(orr[j])) << "block " << block << " sample " << j;
        }
    }
    for (uint64_t k = 0; k < kMaxUnits; ++k) expectSameUnit(fast->bank.units[k], oracle->bank.units[k], "after the run");
    EXPECT_EQ(memcmp(fast->bank.ladderSets, oracle->bank.ladderSets, sizeof fast->bank.ladderSets), 0);

    // Both forms really ran, glides included.
    EXPECT_GT(vectorBlocks, 100000u);
    EXPECT_GT(otherBlocks, 10000u);
    EXPECT_GT(glidingVectorBlocks, 1000u);
}

INSTANTIATE_TEST_SUITE_P(KernelSimd, VectorPath, ::testing::ValuesIn(kVectorPaths), pathName);
