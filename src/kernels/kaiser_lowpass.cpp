#include "kernels/kaiser_lowpass.h"

#include <math.h>  // sqrt only: correctly rounded by IEEE 754

namespace {

constexpr double kPi = 3.14159265358979323846;

// Taylor series of sin and cos for |x| <= pi/4: 13 terms leave an error
// below 1e-30, far under double's rounding.
double sinSeries(double x) {
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int k = 1; k < 13; ++k) {
        term = -term * x2 / (double)((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

double cosSeries(double x) {
    const double x2 = x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 13; ++k) {
        term = -term * x2 / (double)((2 * k - 1) * (2 * k));
        sum += term;
    }
    return sum;
}

// Modified Bessel function of the first kind, order 0, by its power series;
// the loop stops on a fixed criterion, so the number of terms is the same on
// every build.
double besselI0(double x) {
    const double half = 0.5 * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500; ++k) {
        const double factor = half / (double)k;
        term *= factor * factor;
        sum += term;
        if (term < sum * 1e-21) break;
    }
    return sum;
}

}  // namespace

double sinPiRatio(int64_t numerator, int64_t denominator) {
    // sin has period 2: reduce numerator into [0, 2 * denominator).
    const int64_t period = 2 * denominator;
    int64_t r = numerator % period;
    if (r < 0) r += period;
    double sign = 1.0;
    if (r >= denominator) {  // sin(pi + a) = -sin(a)
        r -= denominator;
        sign = -1.0;
    }
    if (2 * r > denominator) r = denominator - r;  // sin(pi - a) = sin(a)
    // Now the angle pi * r / denominator lies in [0, pi/2].
    if (4 * r <= denominator) return sign * sinSeries(kPi * (double)r / (double)denominator);
    // Above pi/4: sin(a) = cos(pi/2 - a), with pi/2 - a = pi * (d - 2r) / 2d.
    return sign * cosSeries(kPi * (double)(denominator - 2 * r) / (double)(2 * denominator));
}

uint32_t kaiserTapsPerPhase(const KaiserLowpassDesign& design) {
    // Kaiser's estimate of the length for a transition width of
    // (stop - pass) / highRate cycles per sample, in samples at the high
    // rate; per phase that is the length divided by `up`.
    const double width = (double)(design.stopEdge - design.passEdge) / (double)design.inputRate;
    const double perPhase = (design.attenuationDb - 7.95) / (14.36 * width);
    uint32_t taps = (uint32_t)perPhase + 1;
    const uint32_t multiple = design.tapMultiple == 0 ? 1 : design.tapMultiple;
    taps = (taps + multiple - 1) / multiple * multiple;
    return taps;
}

namespace {

// One tap of the double-precision prototype, before normalisation.
double prototypeTap(uint32_t n, uint32_t count, double beta, double windowNorm, int64_t cutNumerator,
                    int64_t highRate) {
    // Cut-off fc = (pass + stop) / 2. With c = (count - 1) / 2 the centre and
    // m = 2n - (count - 1), the sinc argument 2 * fc / highRate * (n - c) is
    // m * (pass + stop) / (2 * highRate): a ratio of integers, so the sine
    // is taken at an exact rational multiple of pi.
    const int64_t m = 2 * (int64_t)n - (int64_t)(count - 1);
    const int64_t num = m * cutNumerator;
    const int64_t den = 2 * highRate;
    const double sinc = m == 0 ? 1.0 : sinPiRatio(num, den) / (kPi * (double)num / (double)den);
    const double x = (double)m / (double)(count - 1);
    const double window = besselI0(beta * sqrt(1.0 - x * x)) / windowNorm;
    return (double)cutNumerator / (double)highRate * sinc * window;
}

}  // namespace

void designKaiserLowpass(const KaiserLowpassDesign& design, uint32_t tapsPerPhase, float* taps) {
    const uint32_t count = design.up * tapsPerPhase;
    // Kaiser's beta for attenuations above 50 dB (the only ones a converter
    // for audio wants; the formula below 50 dB would need pow).
    const double beta = 0.1102 * (design.attenuationDb - 8.7);
    const double windowNorm = besselI0(beta);
    const int64_t cutNumerator = (int64_t)design.passEdge + (int64_t)design.stopEdge;
    const int64_t highRate = (int64_t)design.inputRate * (int64_t)design.up;
    // The taps are symmetric to the bit (the sine's reduction is exact for
    // either sign), so only the first half is computed and mirrored.
    const uint32_t half = (count + 1) / 2;
    double sum = 0.0;
    for (uint32_t n = 0; n < half; ++n) {
        const double h = prototypeTap(n, count, beta, windowNorm, cutNumerator, highRate);
        sum += 2 * n + 1 == count ? h : 2.0 * h;  // the centre tap of an odd length counts once
    }
    // DC gain `up`; each tap is the double design rounded to float once.
    const double scale = (double)design.up / sum;
    for (uint32_t n = 0; n < half; ++n) {
        const float h = (float)(prototypeTap(n, count, beta, windowNorm, cutNumerator, highRate) * scale);
        taps[n] = h;
        taps[count - 1 - n] = h;
    }
}
