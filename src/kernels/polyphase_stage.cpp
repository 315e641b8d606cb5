#include "kernels/polyphase_stage.h"

#include <stdlib.h>
#include <string.h>

// The 32-byte vector helpers below are always inlined, so no call passes a
// vector across the ABI that GCC warns about when AVX is off.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// Eight float lanes. GCC's vector extension keeps each lane's arithmetic
// apart, so SSE2 (as two 4-lane halves), AVX2 or scalar code all give the
// same bits.
typedef float Lanes __attribute__((vector_size(32)));
typedef float Quad __attribute__((vector_size(16)));
constexpr uint32_t kLanes = 8;
constexpr uint32_t kDoubleGroup = 8;   // inputs a Double stage works on at once
constexpr uint32_t kHalveGroup = 16;   // inputs a Halve stage works on at once

__attribute__((always_inline)) inline Lanes load(const float* p) {
    Lanes v;
    memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store(float* p, const Lanes& v) { memcpy(p, &v, sizeof v); }

// ---- Rational: one dot product per output ----------------------------------

// Lane sums in the order ((s0 + s4) + (s2 + s6)) + ((s1 + s5) + (s3 + s7)),
// which is also the cheapest order of shuffles.
__attribute__((always_inline)) inline Quad foldHalves(const Lanes& a, const Lanes& b) {
    const Lanes s = a + b;
    return __builtin_shufflevector(s, s, 0, 1, 2, 3) + __builtin_shufflevector(s, s, 4, 5, 6, 7);
}

__attribute__((always_inline)) inline float combineLanes(const Lanes& a, const Lanes& b) {
    const Quad t = foldHalves(a, b);
    const Quad u = t + __builtin_shufflevector(t, t, 2, 3, 2, 3);
    return u[0] + u[1];
}

// Two channels' sums at once, each in the order of combineLanes.
__attribute__((always_inline)) inline void combineLanePairs(const Lanes& a0, const Lanes& b0, const Lanes& a1, const Lanes& b1, float& y0, float& y1) {
    const Quad t0 = foldHalves(a0, b0), t1 = foldHalves(a1, b1);
    const Quad v = __builtin_shufflevector(t0, t1, 0, 1, 4, 5) + __builtin_shufflevector(t0, t1, 2, 3, 6, 7);
    const Quad w = v + __builtin_shufflevector(v, v, 1, 0, 3, 2);
    y0 = w[0];
    y1 = w[2];
}

// Sixteen partial sums: a takes the even groups of eight taps, b the odd
// ones (a multiple of eight taps, not always of sixteen).
__attribute__((always_inline)) inline float dotMono(const float* c, const float* x, uint32_t taps) {
    Lanes a = {0, 0, 0, 0, 0, 0, 0, 0}, b = a;
    uint32_t i = 0;
    for (; i + 2 * kLanes <= taps; i += 2 * kLanes) {
        a += load(c + i) * load(x + i);
        b += load(c + i + kLanes) * load(x + i + kLanes);
    }
    if (i < taps) a += load(c + i) * load(x + i);
    return combineLanes(a, b);
}

__attribute__((always_inline)) inline void dotStereo(const float* c, const float* x0, const float* x1, uint32_t taps,
                                                     float& y0, float& y1) {
    Lanes a0 = {0, 0, 0, 0, 0, 0, 0, 0}, b0 = a0, a1 = a0, b1 = a0;
    uint32_t i = 0;
    for (; i + 2 * kLanes <= taps; i += 2 * kLanes) {
        const Lanes ca = load(c + i), cb = load(c + i + kLanes);
        a0 += ca * load(x0 + i);
        b0 += cb * load(x0 + i + kLanes);
        a1 += ca * load(x1 + i);
        b1 += cb * load(x1 + i + kLanes);
    }
    if (i < taps) {
        const Lanes ca = load(c + i);
        a0 += ca * load(x0 + i);
        a1 += ca * load(x1 + i);
    }
    combineLanePairs(a0, b0, a1, b1, y0, y1);
}

template <uint32_t Channels>
__attribute__((always_inline)) inline uint32_t runRational(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                           float* const* out) {
    const uint32_t taps = stage.taps;
    const int32_t up = (int32_t)stage.up;
    const int32_t down = (int32_t)stage.down;
    const float* const coefficients = stage.coefficients;
    float* const history0 = stage.history[0];
    float* const history1 = Channels == 2 ? stage.history[1] : nullptr;
    const float* const in0 = in[0];
    const float* const in1 = Channels == 2 ? in[1] : nullptr;
    float* const out0 = out[0];
    float* const out1 = Channels == 2 ? out[1] : nullptr;
    uint32_t written = 0;
    int32_t offset = stage.clock.offset;
    uint32_t head = stage.head;
    for (uint32_t n = 0; n < count; ++n) {
        // The last `taps` inputs, oldest first: history[head .. head + taps - 1].
        history0[head] = history0[head + taps] = in0[n];
        if (Channels == 2) history1[head] = history1[head + taps] = in1[n];
        head = head + 1 == taps ? 0 : head + 1;
        offset -= up;
        // Every output whose time is before the next input's is due now;
        // its phase is its distance from the newest input.
        for (; offset < up; offset += down) {
            const float* c = coefficients + (size_t)offset * taps;
            if (Channels == 1) {
                out0[written] = dotMono(c, history0 + head, taps);
            } else {
                dotStereo(c, history0 + head, history1 + head, taps, out0[written], out1[written]);
            }
            ++written;
        }
    }
    stage.clock.offset = offset;
    stage.head = head;
    return written;
}

// ---- Double and Halve: eight outputs at a time -------------------------------
//
// A window ends with the group just gathered: lane j of window position
// `last - i` is the input i samples before the group's j-th. Each lane sums
// its taps one by one into two partial sums (even and odd i), added last.

__attribute__((always_inline)) inline Lanes coefficient(const float* c, uint32_t k) { return load(c + (size_t)k * kLanes); }

// y[2n + p] = sum over i of h[2i + p] * x[n - i], for the group's 8 inputs n.
template <uint32_t Channels>
__attribute__((always_inline)) inline void doubleGroup(const PolyphaseStage& stage, float* const* out, uint32_t at) {
    const float* c = stage.coefficients;
    const uint32_t taps = stage.taps;
    const float* last0 = stage.history[0] + stage.head + stage.ring - kLanes;
    const float* last1 = Channels == 2 ? stage.history[1] + stage.head + stage.ring - kLanes : nullptr;
    const Lanes zero = {0, 0, 0, 0, 0, 0, 0, 0};
    Lanes even0 = zero, odd0 = zero, even0b = zero, odd0b = zero;  // channel 0: phase 0 and 1, two partial sums
    Lanes even1 = zero, odd1 = zero, even1b = zero, odd1b = zero;  // channel 1
    uint32_t i = 0;
    for (; i + 2 <= taps; i += 2) {
        const Lanes c0 = coefficient(c, 2 * i), c1 = coefficient(c, 2 * i + 1);
        const Lanes c2 = coefficient(c, 2 * i + 2), c3 = coefficient(c, 2 * i + 3);
        const Lanes x0 = load(last0 - i), x0b = load(last0 - i - 1);
        even0 += c0 * x0;
        odd0 += c1 * x0;
        even0b += c2 * x0b;
        odd0b += c3 * x0b;
        if (Channels == 2) {
            const Lanes x1 = load(last1 - i), x1b = load(last1 - i - 1);
            even1 += c0 * x1;
            odd1 += c1 * x1;
            even1b += c2 * x1b;
            odd1b += c3 * x1b;
        }
    }
    if (i < taps) {
        const Lanes c0 = coefficient(c, 2 * i), c1 = coefficient(c, 2 * i + 1);
        even0 += c0 * load(last0 - i);
        odd0 += c1 * load(last0 - i);
        if (Channels == 2) {
            even1 += c0 * load(last1 - i);
            odd1 += c1 * load(last1 - i);
        }
    }
    // Outputs in time order: phase 0 and 1 of input 0, then of input 1...
    const Lanes p0 = even0 + even0b, p1 = odd0 + odd0b;
    store(out[0] + at, __builtin_shufflevector(p0, p1, 0, 8, 1, 9, 2, 10, 3, 11));
    store(out[0] + at + kLanes, __builtin_shufflevector(p0, p1, 4, 12, 5, 13, 6, 14, 7, 15));
    if (Channels == 2) {
        const Lanes q0 = even1 + even1b, q1 = odd1 + odd1b;
        store(out[1] + at, __builtin_shufflevector(q0, q1, 0, 8, 1, 9, 2, 10, 3, 11));
        store(out[1] + at + kLanes, __builtin_shufflevector(q0, q1, 4, 12, 5, 13, 6, 14, 7, 15));
    }
}

// y[n] = sum over k of h[k] * x[2n - k], with the even inputs e[n] = x[2n]
// and odd ones o[n] = x[2n - 1] kept apart: sum over i of h[2i] * e[n - i]
// + h[2i + 1] * o[n - i].
__attribute__((always_inline)) inline Lanes halveGroup(const PolyphaseStage& stage, uint32_t ch) {
    const float* c = stage.coefficients;
    const uint32_t taps = stage.taps;
    const float* lastOdd = stage.history[ch] + stage.head + stage.ring - kLanes;
    const float* lastEven = lastOdd + 2 * stage.ring;
    const Lanes zero = {0, 0, 0, 0, 0, 0, 0, 0};
    Lanes even = zero, odd = zero, evenB = zero, oddB = zero;
    uint32_t i = 0;
    for (; i + 2 <= taps; i += 2) {
        even += coefficient(c, 2 * i) * load(lastEven - i);
        odd += coefficient(c, 2 * i + 1) * load(lastOdd - i);
        evenB += coefficient(c, 2 * i + 2) * load(lastEven - i - 1);
        oddB += coefficient(c, 2 * i + 3) * load(lastOdd - i - 1);
    }
    if (i < taps) {
        even += coefficient(c, 2 * i) * load(lastEven - i);
        odd += coefficient(c, 2 * i + 1) * load(lastOdd - i);
    }
    return (even + odd) + (evenB + oddB);
}

// A group is gathered in `staging`, then written to the ring at once: the
// ring length is a multiple of 8, so a group never wraps around it.
inline void writeGroupTwice(float* history, uint32_t ring, uint32_t at, const float* group) {
    memcpy(history + at, group, kLanes * sizeof(float));
    memcpy(history + at + ring, group, kLanes * sizeof(float));
}

// Copies inputs from n on into the group being gathered, advancing n; true
// when that completes the group (whose count then starts over).
template <uint32_t Channels>
__attribute__((always_inline)) inline bool gatherGroup(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                       uint32_t& n, uint32_t group) {
    const uint32_t wanted = group - stage.clock.staged;
    const uint32_t take = count - n < wanted ? count - n : wanted;
    for (uint32_t ch = 0; ch < Channels; ++ch)
        memcpy(stage.staging[ch] + stage.clock.staged, in[ch] + n, take * sizeof(float));
    n += take;
    stage.clock.staged += take;
    if (stage.clock.staged < group) return false;
    stage.clock.staged = 0;
    return true;
}

template <uint32_t Channels>
__attribute__((always_inline)) inline uint32_t runDouble(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                         float* const* out) {
    uint32_t written = 0;
    for (uint32_t n = 0; n < count;) {
        if (!gatherGroup<Channels>(stage, in, count, n, kDoubleGroup)) break;
        for (uint32_t ch = 0; ch < Channels; ++ch) writeGroupTwice(stage.history[ch], stage.ring, stage.head, stage.staging[ch]);
        stage.head += kDoubleGroup;
        if (stage.head == stage.ring) stage.head = 0;
        doubleGroup<Channels>(stage, out, written);
        written += 2 * kDoubleGroup;
    }
    return written;
}

// The group holds x[16g - 1] .. x[16g + 14]: odd inputs at even places.
template <uint32_t Channels>
__attribute__((always_inline)) inline uint32_t runHalve(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                        float* const* out) {
    uint32_t written = 0;
    for (uint32_t n = 0; n < count;) {
        if (!gatherGroup<Channels>(stage, in, count, n, kHalveGroup)) break;
        for (uint32_t ch = 0; ch < Channels; ++ch) {
            const Lanes a = load(stage.staging[ch]), b = load(stage.staging[ch] + kLanes);
            float odd[kLanes], even[kLanes];
            store(odd, __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14));
            store(even, __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15));
            writeGroupTwice(stage.history[ch], stage.ring, stage.head, odd);
            writeGroupTwice(stage.history[ch] + 2 * stage.ring, stage.ring, stage.head, even);
        }
        stage.head += kHalveGroup / 2;
        if (stage.head == stage.ring) stage.head = 0;
        for (uint32_t ch = 0; ch < Channels; ++ch) store(out[ch] + written, halveGroup(stage, ch));
        written += kHalveGroup / 2;
    }
    return written;
}

template <uint32_t Channels>
__attribute__((always_inline)) inline uint32_t runShape(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                        float* const* out) {
    switch (stage.shape) {
        case StageShape::Double: return runDouble<Channels>(stage, in, count, out);
        case StageShape::Halve: return runHalve<Channels>(stage, in, count, out);
        default: return runRational<Channels>(stage, in, count, out);
    }
}

uint32_t runBaseline(PolyphaseStage& stage, const float* const* in, uint32_t count, float* const* out) {
    return stage.channels == 1 ? runShape<1>(stage, in, count, out) : runShape<2>(stage, in, count, out);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) uint32_t runAvx2(PolyphaseStage& stage, const float* const* in, uint32_t count,
                                                 float* const* out) {
    return stage.channels == 1 ? runShape<1>(stage, in, count, out) : runShape<2>(stage, in, count, out);
}

bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

uint32_t greatestCommonDivisor(uint32_t a, uint32_t b) {
    while (b != 0) {
        const uint32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

}  // namespace

bool initPolyphaseStage(PolyphaseStage& stage, const KaiserLowpassDesign& design, uint32_t down, uint32_t channels) {
    stage = PolyphaseStage();
    if (design.up == 0 || down == 0 || greatestCommonDivisor(design.up, down) != 1) return false;
    if (channels == 0 || channels > kMaxStageChannels) return false;
    if (design.stopEdge <= design.passEdge || design.attenuationDb <= 50.0) return false;
    const StageShape shape = design.up == 2 && down == 1   ? StageShape::Double
                             : design.up == 1 && down == 2 ? StageShape::Halve
                                                         : StageShape::Rational;
    // Rational: whole lanes per phase; Halve: an even length, split between
    // the input parities; Double: any number per phase.
    KaiserLowpassDesign rounded = design;
    rounded.tapMultiple = shape == StageShape::Rational ? kLanes : shape == StageShape::Halve ? 2 : 1;
    const uint32_t perPhase = kaiserTapsPerPhase(rounded);
    const uint32_t length = design.up * perPhase;
    const uint32_t taps = shape == StageShape::Halve ? length / 2 : perPhase;
    const uint32_t ring = (taps + 2 * kLanes - 1) / kLanes * kLanes;  // at least taps + 8, whole groups

    size_t coefficientFloats = 0, historyFloats = 0;
    if (shape == StageShape::Rational) {
        coefficientFloats = length;
        historyFloats = 2 * (size_t)taps;
    } else {
        coefficientFloats = (size_t)length * kLanes;
        historyFloats = (shape == StageShape::Halve ? 4 : 2) * (size_t)ring;
    }
    float* block = (float*)calloc(coefficientFloats + channels * historyFloats, sizeof(float));
    float* prototype = (float*)malloc(length * sizeof(float));
    if (block == nullptr || prototype == nullptr) {
        free(block);
        free(prototype);
        return false;
    }
    designKaiserLowpass(rounded, perPhase, prototype);
    if (shape == StageShape::Rational) {
        // Row p, tap i (oldest input first) is h[p + (taps - 1 - i) * up].
        for (uint32_t p = 0; p < design.up; ++p)
            for (uint32_t i = 0; i < taps; ++i)
                block[(size_t)p * taps + i] = prototype[p + (size_t)(taps - 1 - i) * design.up];
    } else {
        for (uint32_t k = 0; k < length; ++k)
            for (uint32_t lane = 0; lane < kLanes; ++lane) block[(size_t)k * kLanes + lane] = prototype[k];
    }
    free(prototype);
    stage.shape = shape;
    stage.up = design.up;
    stage.down = down;
    stage.length = length;
    stage.taps = taps;
    stage.channels = channels;
    stage.ring = shape == StageShape::Rational ? 0 : ring;
    stage.coefficients = block;
    for (uint32_t ch = 0; ch < channels; ++ch) stage.history[ch] = block + coefficientFloats + ch * historyFloats;
    stage.memory = block;
    usePolyphaseWideLanes(stage, true);
    resetPolyphaseStage(stage);
    return true;
}

bool initRateConverterStage(PolyphaseStage& stage, uint32_t fromRate, uint32_t toRate, uint32_t passEdge,
                            uint32_t stopEdge, double attenuationDb, uint32_t channels) {
    const uint32_t g = greatestCommonDivisor(fromRate, toRate);
    if (g == 0) return false;
    KaiserLowpassDesign design;
    design.inputRate = fromRate;
    design.up = toRate / g;
    design.passEdge = passEdge;
    design.stopEdge = stopEdge;
    design.attenuationDb = attenuationDb;
    design.tapMultiple = 1;  // initPolyphaseStage rounds to what the shape needs
    return initPolyphaseStage(stage, design, fromRate / g, channels);
}

void freePolyphaseStage(PolyphaseStage& stage) {
    free(stage.memory);
    stage = PolyphaseStage();
}

void resetPolyphaseStage(PolyphaseStage& stage) {
    const size_t historyFloats = stage.shape == StageShape::Rational ? 2 * (size_t)stage.taps
                                 : stage.shape == StageShape::Halve  ? 4 * (size_t)stage.ring
                                                                     : 2 * (size_t)stage.ring;
    for (uint32_t ch = 0; ch < stage.channels; ++ch) memset(stage.history[ch], 0, historyFloats * sizeof(float));
    memset(stage.staging, 0, sizeof stage.staging);
    stage.head = 0;
    stage.clock = startPolyphaseClock(stage);
}

void usePolyphaseWideLanes(PolyphaseStage& stage, bool wide) {
#if defined(__x86_64__)
    stage.wideLanes = wide && cpuHasAvx2();
#else
    (void)wide;
    stage.wideLanes = false;
#endif
}

uint32_t runPolyphaseStage(PolyphaseStage& stage, const float* const* in, uint32_t count, float* const* out) {
#if defined(__x86_64__)
    if (stage.wideLanes) return runAvx2(stage, in, count, out);
#endif
    return runBaseline(stage, in, count, out);
}

uint32_t polyphaseMaxOutputs(const PolyphaseStage& stage, uint32_t inputCount) {
    switch (stage.shape) {
        case StageShape::Double: return 2 * (inputCount + kDoubleGroup);
        case StageShape::Halve: return (inputCount / kHalveGroup + 1) * (kHalveGroup / 2);
        default: return (uint32_t)(((uint64_t)inputCount * stage.up + stage.down - 1) / stage.down) + 1;
    }
}

PolyphaseClock startPolyphaseClock(const PolyphaseStage& stage) {
    PolyphaseClock clock;
    // Rational: output 0 is due at time 0, the newest input is "number -1".
    clock.offset = (int32_t)stage.up;
    // Halve: the first group's first place holds x[-1], silence.
    clock.staged = stage.shape == StageShape::Halve ? 1 : 0;
    return clock;
}

uint32_t tickPolyphaseClock(const PolyphaseStage& stage, PolyphaseClock& clock) {
    switch (stage.shape) {
        case StageShape::Double:
            if (++clock.staged < kDoubleGroup) return 0;
            clock.staged = 0;
            return 2 * kDoubleGroup;
        case StageShape::Halve:
            if (++clock.staged < kHalveGroup) return 0;
            clock.staged = 0;
            return kHalveGroup / 2;
        default: {
            uint32_t due = 0;
            clock.offset -= (int32_t)stage.up;
            for (; clock.offset < (int32_t)stage.up; clock.offset += (int32_t)stage.down) ++due;
            return due;
        }
    }
}

double polyphaseDelaySeconds(const PolyphaseStage& stage, uint32_t inputRate) {
    // Centre of a symmetric filter of `length` taps at rate up * inputRate.
    return (double)(stage.length - 1) / (2.0 * (double)stage.up * (double)inputRate);
}
