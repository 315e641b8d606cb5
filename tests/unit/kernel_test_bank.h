// Helpers for the kernel tests: an engine to hold a bank, the engine's float
// mode for the duration of a test, and bit-level comparison of unit state.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <random>

#include "engine/engine_state.h"
#include "kernels/unit_kernel.h"
#include "shell/float_mode.h"
#include "support/unit_refs.h"

using EnginePtr = std::unique_ptr<EngineState, void (*)(EngineState*)>;

inline EnginePtr makeEngine() { return EnginePtr(createEngineState(), destroyEngineState); }

// A second engine whose bytes equal the first's.
inline EnginePtr cloneEngine(const EngineState& e) {
    EnginePtr copy = makeEngine();
    memcpy(copy.get(), &e, sizeof e);
    return copy;
}

// Kernels run in the mode run() gives them: flush-to-zero, round-to-nearest.
struct EngineFloatModeScope {
    FloatModeSave save = enterEngineFloatMode();
    ~EngineFloatModeScope() { leaveEngineFloatMode(save); }
};

inline uint32_t bitsOf(float v) {
    uint32_t b;
    memcpy(&b, &v, sizeof b);
    return b;
}

// A unit in steady state whose loop measures `length` samples (the next
// write position minus the read position), without modulation or feedback.
inline void setSteadyUnit(UnitRef u, uint64_t writeIndex, uint64_t length) {
    u.writeIndex = writeIndex;
    u.length = length;
    u.readPhase = (float)((writeIndex + 1 + kUnitRingLength - length) % kUnitRingLength);
    u.readSpeed = 1.0f;
    u.gliding = false;
    u.pendingLength = 0;
    u.modDepth = 0.0f;
    u.lfoIncrement = 0.0f;
    u.lfoPhase = 0.0f;
    u.feedback = 0.0f;
    u.ringGain = 1.0f;
    u.dcState = 0.0f;
}

// Every field of unit `from` in one bank, its ring, gain, taps and filters,
// copied to unit `to` of another (or the same) bank.
inline void copyUnit(const UnitBank& source, uint64_t from, UnitBank& bank, uint64_t to) {
    const UnitRef a = unitRef(source, from), b = unitRef(bank, to);
    b.sampleRate = a.sampleRate, b.feedback = a.feedback, b.readPhase = a.readPhase, b.writeIndex = a.writeIndex;
    b.decayMs = a.decayMs, b.length = a.length, b.targetLength = a.targetLength, b.pendingLength = a.pendingLength;
    b.gliding = a.gliding, b.readSpeed = a.readSpeed, b.ringGain = a.ringGain, b.modDepth = a.modDepth;
    b.lfoIncrement = a.lfoIncrement, b.lfoPhase = a.lfoPhase, b.dcState = a.dcState;
    bank.units.ringLeftToClear[to] = source.units.ringLeftToClear[from];
    bank.rings[to] = source.rings[from];
    bank.unitInputGain[to] = source.unitInputGain[from];
    bank.tapOffsetA[to] = source.tapOffsetA[from];
    bank.tapOffsetB[to] = source.tapOffsetB[from];
    for (size_t s = 0; s < kLadderSetCount; ++s) storeLadderValues(bank.ladderSets[s], to, ladderValues(source.ladderSets[s], from));
}

// Every field and every ring entry, bit for bit.
inline void expectSameUnit(const UnitRef a, const UnitRef b, const char* where) {
    EXPECT_EQ(bitsOf(a.sampleRate), bitsOf(b.sampleRate)) << where;
    EXPECT_EQ(bitsOf(a.feedback), bitsOf(b.feedback)) << where;
    EXPECT_EQ(bitsOf(a.readPhase), bitsOf(b.readPhase)) << where;
    EXPECT_EQ(a.writeIndex, b.writeIndex) << where;
    EXPECT_EQ(bitsOf(a.decayMs), bitsOf(b.decayMs)) << where;
    EXPECT_EQ(a.length, b.length) << where;
    EXPECT_EQ(a.targetLength, b.targetLength) << where;
    EXPECT_EQ(a.pendingLength, b.pendingLength) << where;
    EXPECT_EQ(a.gliding, b.gliding) << where;
    EXPECT_EQ(bitsOf(a.readSpeed), bitsOf(b.readSpeed)) << where;
    EXPECT_EQ(bitsOf(a.ringGain), bitsOf(b.ringGain)) << where;
    EXPECT_EQ(bitsOf(a.modDepth), bitsOf(b.modDepth)) << where;
    EXPECT_EQ(bitsOf(a.lfoIncrement), bitsOf(b.lfoIncrement)) << where;
    EXPECT_EQ(bitsOf(a.lfoPhase), bitsOf(b.lfoPhase)) << where;
    EXPECT_EQ(bitsOf(a.dcState), bitsOf(b.dcState)) << where;
    EXPECT_EQ(memcmp(a.ring, b.ring, kUnitRingStorage * sizeof(float)), 0) << where;
}

// One block's shape: n samples through the units first, first + stride, ...
// below end.
struct BlockShape {
    uint32_t n;
    uint64_t first;
    uint64_t end;
    uint64_t stride;
};

// Runs `fast` on `path` and `oracle` on the oracle block after block, each
// block with the same disturbance (disturb(bank, events, block)) and the
// same input (noise, with stretches of silence), and compares the outputs
// bit for bit; the input buffer doubles as the left output, as in the block
// loop. shapeOf(block, rng) picks each block's shape; inspect(bank, shape)
// sees the fast bank just before each block. Stops at the first difference.
template <class Disturb, class ShapeOf, class Inspect>
void runAgainstOracle(EngineState& fast, EngineState& oracle, KernelPath path, int blocks, std::mt19937& rng,
                      Disturb disturb, ShapeOf shapeOf, Inspect inspect) {
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    float in[kMaxKernelBlock], fastLeft[kMaxKernelBlock], fastRight[kMaxKernelBlock], left[kMaxKernelBlock],
        right[kMaxKernelBlock];
    for (int block = 0; block < blocks; ++block) {
        std::mt19937 events(rng());
        std::mt19937 eventsTwin = events;
        disturb(fast.bank, events, block);
        disturb(oracle.bank, eventsTwin, block);
        const BlockShape shape = shapeOf(block, rng);
        for (uint32_t j = 0; j < shape.n; ++j) in[j] = (block % 700 < 600) ? noise(rng) : 0.0f;
        inspect(fast.bank, shape);
        memcpy(fastLeft, in, sizeof in);
        processUnitRange(fast.bank, shape.first, shape.end, shape.stride, fastLeft, fastLeft, fastRight, shape.n,
                         path);
        processUnitRange(oracle.bank, shape.first, shape.end, shape.stride, in, left, right, shape.n,
                         KernelPath::Oracle);
        for (uint32_t j = 0; j < shape.n; ++j) {
            ASSERT_EQ(bitsOf(fastLeft[j]), bitsOf(left[j])) << "block " << block << " sample " << j;
            ASSERT_EQ(bitsOf(fastRight[j]), bitsOf(right[j])) << "block " << block << " sample " << j;
        }
    }
    for (uint64_t k = 0; k < kMaxUnits; ++k) expectSameUnit(unitRef(fast.bank, k), unitRef(oracle.bank, k), "after the run");
    EXPECT_EQ(memcmp(fast.bank.ladderSets, oracle.bank.ladderSets, sizeof fast.bank.ladderSets), 0);
}
