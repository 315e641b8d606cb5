// One fixed-ratio rate converter stage: up by `up`, low-pass, down by
// `down`, computed as a polyphase FIR that evaluates only the outputs it
// keeps. Causal (no look-ahead), and the stream of outputs does not depend
// on how the input is cut into calls.
//
// Three shapes share one record:
// - Rational (any up/down, e.g. 160/147): each output is a dot product
//   across the taps, summed in sixteen fixed partial sums that are added in
//   a fixed order. An output is written as soon as its last input arrives.
// - Double (up 2) and Halve (down 2): eight outputs at a time, one per
//   vector lane, each summed tap by tap in a fixed order. This has no
//   per-output overhead, which is what short filters at high rates need,
//   but works on whole groups of inputs (8 for Double, 16 for Halve), so an
//   output can wait for up to 7 (15) later inputs.
// Every lane computes alone, so the SSE2 baseline and the AVX2 build of the
// loops (taken where the CPU has it) give the same bits: single precision,
// the same result on every build.
//
// Memory is taken once by initPolyphaseStage; resetPolyphaseStage and
// runPolyphaseStage take none, lock nothing and make no system call.
#pragma once

#include <stdint.h>

#include "kernels/kaiser_lowpass.h"

constexpr uint32_t kMaxStageChannels = 2;

enum class StageShape : uint8_t { Rational, Double, Halve };

// When outputs become due; the stage's own clock, and what the FIFO sizing
// simulates without filtering anything.
struct PolyphaseClock {
    int32_t offset = 0;   // Rational: next output's time minus newest input's, in 1 / (up * inputRate) s
    uint32_t staged = 0;  // Double, Halve: inputs of the group being gathered
};

struct PolyphaseStage {
    StageShape shape = StageShape::Rational;
    uint32_t up = 1;        // interpolation factor
    uint32_t down = 1;      // decimation factor
    uint32_t length = 0;    // taps of the prototype filter
    uint32_t taps = 0;      // Rational: per phase, a multiple of 8; Double: per phase; Halve: per input parity
    uint32_t channels = 0;  // 1 or 2, sharing the coefficients
    // Rational: `up` rows of `taps`, row p = phase p, oldest input first.
    // Double, Halve: prototype tap k repeated in 8 lanes at k * 8.
    float* coefficients = nullptr;
    // Rational: 2 * taps per channel; Double: 2 * ring per channel; Halve: 2 * ring per input
    // parity per channel (odd inputs first). Each sample is stored twice, a
    // ring length apart, so that any window of the ring lies in one run.
    float* history[kMaxStageChannels] = {nullptr, nullptr};
    uint32_t ring = 0;      // Double, Halve: samples one window covers (taps + 8 or more, a multiple of 8)
    uint32_t head = 0;      // history slot the next input (group) starts at
    PolyphaseClock clock;
    float staging[kMaxStageChannels][16] = {};  // Double, Halve: the group being gathered
    bool wideLanes = false;  // run the AVX2 build of the loops
    void* memory = nullptr;  // the one block behind coefficients and history
};

// Designs the filter and takes the stage's memory. The shape follows from
// the ratio: up 2 / down 1 is Double, up 1 / down 2 is Halve, anything else
// Rational (`down` and design.up coprime). Returns false (and leaves nothing
// allocated) if memory is short or the arguments make no sense.
bool initPolyphaseStage(PolyphaseStage& stage, const KaiserLowpassDesign& design, uint32_t down, uint32_t channels);
// A converter from `fromRate` to `toRate` (Hz) that is flat to passEdge and
// rejects from stopEdge on by attenuationDb: the ratio reduced to lowest
// terms, then initPolyphaseStage.
bool initRateConverterStage(PolyphaseStage& stage, uint32_t fromRate, uint32_t toRate, uint32_t passEdge,
                            uint32_t stopEdge, double attenuationDb, uint32_t channels);
void freePolyphaseStage(PolyphaseStage& stage);

// Silence in the history and the clock back to its start: the next input is
// the first of a new stream.
void resetPolyphaseStage(PolyphaseStage& stage);

// Pushes `count` input samples per channel and writes every output that
// becomes due: at most polyphaseMaxOutputs(stage, count) per channel.
// Returns how many were written. in/out hold one pointer per channel.
uint32_t runPolyphaseStage(PolyphaseStage& stage, const float* const* in, uint32_t count, float* const* out);

// The AVX2 loops where the CPU has them (the default after init), or the
// baseline ones: the same bits either way, which tests check.
void usePolyphaseWideLanes(PolyphaseStage& stage, bool wide);

uint32_t polyphaseMaxOutputs(const PolyphaseStage& stage, uint32_t inputCount);

// The clock of a freshly reset stage, and how many outputs one more input
// makes due, as runPolyphaseStage counts them.
PolyphaseClock startPolyphaseClock(const PolyphaseStage& stage);
uint32_t tickPolyphaseClock(const PolyphaseStage& stage, PolyphaseClock& clock);

// The filter's delay (linear phase: the same at every frequency), in seconds
// of the stream, for an input at inputRate.
double polyphaseDelaySeconds(const PolyphaseStage& stage, uint32_t inputRate);
