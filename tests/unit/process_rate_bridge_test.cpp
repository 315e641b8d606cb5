// The wet path's rate bridge on its own, around a stand-in engine: flat to
// 20 kHz with images and aliases 90 dB down, the same delay at every rate,
// and the same bits however the host cuts its calls and whichever loops run.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "process/wet_rate_bridge.h"
#include "support/spectrum.h"

namespace {

const double kConvertedRates[] = {44100.0, 88200.0, 96000.0, 176400.0, 192000.0};
// The converted rates, 48 kHz, and two that run unconverted.
const double kAllRates[] = {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 32000.0, 384000.0};

// Stateful on purpose (a one-pole on the left, a 7-sample delay with
// feedback on the right), so that a block run twice or out of order shows.
struct StandIn {
    float left = 0, right = 0;
    float delay[8] = {};
    uint32_t at = 0;
    bool identity = false;

    void run(const float* in, float* l, float* r) {
        for (uint32_t i = 0; i < kBlockLength; ++i) {
            if (identity) {
                l[i] = r[i] = in[i];
                continue;
            }
            left += 0.25f * (in[i] - left);
            l[i] = left;
            delay[at] = in[i] - 0.5f * right;
            at = (at + 1) & 7;
            right = r[i] = delay[at];
        }
    }
};

struct Rendered {
    std::vector<float> left, right;
    uint32_t faults = 0;
};

// The whole input through a fresh bridge, in calls of the given sizes
// (cycled), each cut into slices as the bridge's header shows.
Rendered render(double rate, const std::vector<float>& in, const std::vector<uint32_t>& sizes, bool identity,
                bool wide = true, double latency = 0.0) {
    WetRateBridge bridge;
    Rendered out;
    if (!initWetRateBridge(bridge, rate, latency)) return out;
    useBridgeWideLanes(bridge, wide);
    StandIn engine;
    engine.identity = identity;
    out.left.resize(in.size());
    out.right.resize(in.size());
    float l[kBlockLength], r[kBlockLength];
    size_t done = 0;
    for (size_t call = 0; done < in.size(); ++call) {
        const size_t end = std::min(in.size(), done + sizes[call % sizes.size()]);
        while (done < end) {
            const uint32_t slice = static_cast<uint32_t>(std::min<size_t>(end - done, kBridgeSliceLength));
            bridgeBeginSlice(bridge, in.data() + done, slice);
            const float* block;
            while (bridgeNextEngineBlock(bridge, &block)) {
                engine.run(block, l, r);
                bridgeEndEngineBlock(bridge, l, r);
            }
            bridgeEndSlice(bridge, out.left.data() + done, out.right.data() + done, slice);
            done += slice;
        }
    }
    out.faults = bridge.faults;
    freeWetRateBridge(bridge);
    return out;
}

std::vector<float> noise(size_t n, uint32_t seed) {
    std::vector<float> v(n);
    for (float& x : v) x = static_cast<float>(static_cast<int32_t>(seed = seed * 1664525u + 1013904223u)) * 2e-10f;
    return v;
}

TEST(RateBridge, TakesEveryRateFromOneHertzTo768kHzAndConvertsFive) {
    const struct {
        double rate;
        bool taken, converted;
    } cases[] = {{44100, true, true},   {48000, true, false},  {88200, true, true},    {96000, true, true},
                 {176400, true, true},  {192000, true, true},  {32000, true, false},   {8000, true, false},
                 {768000, true, false}, {1e6, false, false},   {0, false, false},      {-48000, false, false},
                 {NAN, false, false},   {INFINITY, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        WetRateBridge bridge;
        EXPECT_EQ(initWetRateBridge(bridge, c.rate, kBridgeCommonLatencySeconds), c.taken);
        EXPECT_EQ(bridge.converting, c.converted);
        EXPECT_EQ(bridgeConvertsRate(c.rate), c.converted);
        freeWetRateBridge(bridge);
    }
}

// The delay a 100 Hz tone shows through the whole path (engine passing its
// input) is the one reported, and that is 3.6 ms at every rate, to half a
// host sample; without padding each rate needs less.
TEST(RateBridge, TheWetDelayIsTheSameAtEveryRate) {
    for (const double rate : kAllRates) {
        SCOPED_TRACE(rate);
        WetRateBridge least, padded;
        ASSERT_TRUE(initWetRateBridge(least, rate, 0.0));
        ASSERT_TRUE(initWetRateBridge(padded, rate, kBridgeCommonLatencySeconds));
        const double reported = bridgeLatencySeconds(padded);
        EXPECT_LE(bridgeLatencySeconds(least), kBridgeCommonLatencySeconds);
        EXPECT_LE(fabs(reported - kBridgeCommonLatencySeconds) * rate, 0.5);
        freeWetRateBridge(least);
        freeWetRateBridge(padded);

        const double f = 100.0;
        std::vector<float> tone(static_cast<size_t>(rate / 2));
        for (size_t n = 0; n < tone.size(); ++n) tone[n] = static_cast<float>(sin(2 * M_PI * f * n / rate));
        const Rendered out = render(rate, tone, {256}, true, true, kBridgeCommonLatencySeconds);
        // Least squares over the last 8192 samples: out = sin(w (t - tau)).
        double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
        for (size_t m = tone.size() - 8192; m < tone.size(); ++m) {
            const double t = 2 * M_PI * f * m / rate, c = cos(t), s = sin(t);
            cc += c * c, ss += s * s, cs += c * s, yc += out.left[m] * c, ys += out.left[m] * s;
        }
        const double det = cc * ss - cs * cs, a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
        double tau = atan2(-a, b) / (2 * M_PI * f);
        if (tau < 0) tau += 1.0 / f;
        EXPECT_LT(fabs(tau - reported) * rate, 0.01) << "measured " << tau * 1e3 << " ms";
    }
}

// The same bits for any cut of the host's calls, at the least delay where
// the output FIFO is tightest, with no FIFO fault; and the same bits from
// the baseline loops as from the AVX2 ones.
TEST(RateBridge, TheSameBitsForAnyCallSizesAndEitherLoops) {
    const std::vector<std::vector<uint32_t>> patterns = {
        {1}, {16}, {7, 1, 300, 2}, {8192}, {4096, 1, 8191, 3, 64}, {255, 257, 1000, 1}};
    for (const double rate : kAllRates) {
        SCOPED_TRACE(rate);
        const std::vector<float> in = noise(static_cast<size_t>(rate / 4), static_cast<uint32_t>(rate));
        const Rendered reference = render(rate, in, {256}, false);
        ASSERT_EQ(reference.left.size(), in.size());
        for (const auto& sizes : patterns) {
            const Rendered out = render(rate, in, sizes, false);
            EXPECT_EQ(memcmp(out.left.data(), reference.left.data(), in.size() * sizeof(float)), 0) << sizes[0];
            EXPECT_EQ(memcmp(out.right.data(), reference.right.data(), in.size() * sizeof(float)), 0) << sizes[0];
            EXPECT_EQ(out.faults, 0u);
        }
        const Rendered baseline = render(rate, in, {256}, false, false);
        EXPECT_EQ(memcmp(baseline.left.data(), reference.left.data(), in.size() * sizeof(float)), 0);
        EXPECT_EQ(memcmp(baseline.right.data(), reference.right.data(), in.size() * sizeof(float)), 0);
    }
}

// A tone's gain in dB (when it lies below the output's Nyquist frequency)
// and the largest other line of the output, in dB under the tone: an image
// or an alias. The tone is fitted and removed, the rest seen through a
// Kaiser window whose side lobes lie far under -140 dB.
struct ToneResult {
    double gainDb = -400, otherDb = -400;
};

double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 500 && term > sum * 1e-20; ++k) {
        term *= (x / 2 / k) * (x / 2 / k);
        sum += term;
    }
    return sum;
}

ToneResult analyseTone(const float* y, size_t n, double f, double rate, double level) {
    std::vector<double> window(n);
    double windowSum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = 2.0 * i / (n - 1) - 1.0;
        windowSum += window[i] = besselI0(20.0 * sqrt(1 - x * x)) / besselI0(20.0);
    }
    ToneResult r;
    double a = 0, b = 0;
    if (f < rate / 2) {
        double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
        for (size_t m = 0; m < n; ++m) {
            const double t = 2 * M_PI * f * m / rate, c = cos(t), s = sin(t), w = window[m];
            cc += w * c * c, ss += w * s * s, cs += w * c * s, yc += w * y[m] * c, ys += w * y[m] * s;
        }
        const double det = cc * ss - cs * cs;
        a = (yc * ss - ys * cs) / det;
        b = (ys * cc - yc * cs) / det;
        r.gainDb = 20 * log10(sqrt(a * a + b * b) / level);
    }
    std::vector<std::complex<double>> spectrum(n);
    for (size_t m = 0; m < n; ++m) {
        const double t = 2 * M_PI * f * m / rate;
        spectrum[m] = window[m] * (y[m] - a * cos(t) - b * sin(t));
    }
    fft(spectrum);
    for (size_t k = 0; k <= n / 2; ++k)
        r.otherDb = std::max(r.otherDb, 20 * log10(std::abs(spectrum[k]) * 2 / windowSum / level + 1e-30));
    return r;
}

// Each direction on its own, with tones across its input band (dense where
// images and aliases are worst).
TEST(RateBridge, FlatTo20kHzWithImagesAndAliases90dBDown) {
    const size_t length = 16384;
    const double level = 0.5;
    for (const double rate : kConvertedRates) {
        WetRateBridge bridge;
        ASSERT_TRUE(initWetRateBridge(bridge, rate, 0.0));
        for (const bool down : {true, false}) {
            const double from = down ? rate : kEngineRate, to = down ? kEngineRate : rate;
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            PolyphaseStage* stages = down ? bridge.down : bridge.up;
            std::vector<double> tones = {40, 440, 3000, 9000, 15000, 19000, 19800, 20000};
            for (int i = 1; i <= 12; ++i) tones.push_back(20000 + (from / 2 - 20000) * i / 12.5);
            for (const double f : tones) {
                for (uint32_t s = 0; s < bridge.stageCount; ++s) resetPolyphaseStage(stages[s]);
                const size_t skip = static_cast<size_t>(to / 20);
                std::vector<float> signal(static_cast<size_t>((skip + length) * from / to) + 64);
                for (size_t n = 0; n < signal.size(); ++n) signal[n] = static_cast<float>(level * sin(2 * M_PI * f * n / from));
                for (uint32_t s = 0; s < bridge.stageCount; ++s) {
                    std::vector<float> out(polyphaseMaxOutputs(stages[s], static_cast<uint32_t>(signal.size()))), spare(out.size());
                    const float* in[2] = {signal.data(), signal.data()};
                    float* outs[2] = {out.data(), spare.data()};
                    out.resize(runPolyphaseStage(stages[s], in, static_cast<uint32_t>(signal.size()), outs));
                    signal.swap(out);
                }
                ASSERT_GE(signal.size(), skip + length);
                const ToneResult r = analyseTone(signal.data() + skip, length, f, to, level);
                if (f <= 20000) {
                    EXPECT_NEAR(r.gainDb, 0.0, 0.1) << f << " Hz";
                }
                EXPECT_LE(r.otherDb, -90.0) << f << " Hz";
            }
        }
        freeWetRateBridge(bridge);
    }
}

}  // namespace
