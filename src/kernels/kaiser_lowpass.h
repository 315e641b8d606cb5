// A linear-phase low-pass for a polyphase rate converter: a Kaiser-windowed
// sinc, designed in double precision with nothing but +, -, *, /, sqrt and
// integer arithmetic, so that the taps are the same bits whatever libm or
// compiler builds them (sin comes from a fixed series, not from libm).
#pragma once

#include <stdint.h>

// Taps for the prototype filter of a converter that runs at
// highRate = inputRate * up. The cut-off lies halfway between passEdge and
// stopEdge (Hz); the Kaiser shape gives about `attenuationDb` both as
// stop-band rejection and as pass-band ripple (1e-5 at 100 dB).
// The filter has count taps, count a multiple of `up`, and a DC gain of `up`
// (zero-stuffing by `up` loses that factor).
struct KaiserLowpassDesign {
    uint32_t inputRate;   // Hz
    uint32_t up;          // interpolation factor of the converter
    uint32_t passEdge;    // Hz, flat up to here
    uint32_t stopEdge;    // Hz, rejected from here
    double attenuationDb; // stop-band target, above 50 dB
    uint32_t tapMultiple; // taps per phase rounded up to a multiple of this
};

// Taps per phase that the design needs (the filter has up * this many taps).
uint32_t kaiserTapsPerPhase(const KaiserLowpassDesign& design);

// Writes up * tapsPerPhase taps (tapsPerPhase from kaiserTapsPerPhase) to
// `taps`, in time order, as float.
void designKaiserLowpass(const KaiserLowpassDesign& design, uint32_t tapsPerPhase, float* taps);

// sin(pi * numerator / denominator), denominator > 0: the reduction is exact
// in integers and the series is fixed, so the result depends on no library.
double sinPiRatio(int64_t numerator, int64_t denominator);
