// An impulse through the plug-in as a host loads it, with the defaults of
// its metadata: the tail must be dense, finite and die away at the rate the
// decay controls set.
#include <math.h>

#include <algorithm>
#include <vector>

#include "preset_instance.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kCallSize = 256;
constexpr size_t kWindow = 480;  // 10 ms energy windows

// Energy of both channels in consecutive windows.
std::vector<double> windowEnergies(const std::vector<float>& left, const std::vector<float>& right) {
    std::vector<double> energies(left.size() / kWindow, 0.0);
    for (size_t k = 0; k < energies.size() * kWindow; ++k) {
        energies[k / kWindow] += static_cast<double>(left[k]) * left[k] + static_cast<double>(right[k]) * right[k];
    }
    return energies;
}

// Normalised echo density of one window: the share of samples farther than
// one standard deviation from the mean, over the share a Gaussian has there.
// A diffuse tail gives about 1, a train of separate echoes far less.
double echoDensity(const float* samples, size_t count) {
    double mean = 0.0;
    for (size_t k = 0; k < count; ++k) mean += samples[k];
    mean /= static_cast<double>(count);
    double variance = 0.0;
    for (size_t k = 0; k < count; ++k) variance += (samples[k] - mean) * (samples[k] - mean);
    const double deviation = sqrt(variance / static_cast<double>(count));
    size_t outside = 0;
    for (size_t k = 0; k < count; ++k) outside += fabs(samples[k] - mean) > deviation ? 1 : 0;
    return static_cast<double>(outside) / static_cast<double>(count) / erfc(1.0 / sqrt(2.0));
}

// T60 in seconds from the Schroeder curve of both channels (sample 0, the
// dry click, left out), extrapolated from its fall from -5 to -35 dB.
double decayTimeFromEnergyDecay(const std::vector<float>& left, const std::vector<float>& right) {
    std::vector<double> remaining(left.size() + 1, 0.0);
    for (size_t k = left.size(); k-- > 1;) {
        remaining[k] = remaining[k + 1] + static_cast<double>(left[k]) * left[k] + static_cast<double>(right[k]) * right[k];
    }
    size_t at5 = 0;
    size_t at35 = 0;
    for (size_t k = 1; k < left.size() && at35 == 0; ++k) {
        if (at5 == 0 && remaining[k] <= remaining[1] * pow(10.0, -0.5)) at5 = k;
        if (remaining[k] <= remaining[1] * pow(10.0, -3.5)) at35 = k;
    }
    return 2.0 * static_cast<double>(at35 - at5) / kRate;
}

}  // namespace

TEST(ReverbTail, ImpulseGivesADenseFiniteTailThatDecaysAsSet) {
    StagedPlugin staged;
    ASSERT_NE(staged.plugin, nullptr) << "bundle not found through LV2_PATH";
    PresetInstance plugin(staged, kRate, kCallSize);
    ASSERT_NE(plugin.instance, nullptr);

    // After instantiate every loop glides from its initial length to the
    // one its size gives, at 0.11 sample per sample at worst over a whole
    // ring: let that settle in silence before listening.
    const size_t settle = static_cast<size_t>(32000.0 / 0.11) + 24000;
    std::vector<float> left, right;
    plugin.render(std::vector<float>(settle, 0.0f), left, right);
    for (size_t k = 0; k < left.size(); ++k) ASSERT_TRUE(left[k] == 0.0f && right[k] == 0.0f) << k;

    // The time to -60 dB, plus the time the longest loop needs for its first
    // echo (size in units of 1/330 s, enlarged by up to half the jitter).
    const float* controls = plugin.controls;
    const double decaySeconds = std::max(controls[4], controls[5]) * 0.001;
    const double longestLoop = std::max(controls[7], controls[8]) * (1.0 + 0.005 * controls[9]) / 330.0;
    const double bound = decaySeconds + longestLoop + 0.05;
    const size_t length = static_cast<size_t>((bound + 1.0) * kRate);

    std::vector<float> impulse(length, 0.0f);
    impulse[0] = 1.0f;
    left.clear();
    right.clear();
    plugin.render(impulse, left, right);
    for (size_t k = 0; k < length; ++k) ASSERT_TRUE(isfinite(left[k]) && isfinite(right[k])) << k;

    // Decay: the energy falls 60 dB below its peak within the bound and
    // stays there, but not already at half the decay time.
    std::vector<double> energies = windowEnergies(left, right);
    energies[0] -= static_cast<double>(left[0]) * left[0] + static_cast<double>(right[0]) * right[0];  // the dry click
    const double peak = *std::max_element(energies.begin(), energies.end());
    ASSERT_GT(peak, 0.0);
    const size_t boundWindow = static_cast<size_t>(bound * kRate) / kWindow;
    for (size_t w = boundWindow; w < energies.size(); ++w) EXPECT_LT(energies[w], peak * 1e-6) << "window " << w;
    const size_t halfDecayWindow = static_cast<size_t>(0.5 * decaySeconds * kRate) / kWindow;
    EXPECT_GT(energies[halfDecayWindow], peak * 1e-6);

    // Density: once the first echoes have come back, the tail has no gaps.
    const size_t from = static_cast<size_t>((longestLoop + 0.05) * kRate);
    const size_t to = static_cast<size_t>(0.5 * decaySeconds * kRate);
    ASSERT_LT(from + kWindow, to);
    size_t silent = 0;
    size_t windows = 0;
    double leastDensity = 10.0;
    double densitySum = 0.0;
    for (size_t at = from; at + kWindow <= to; at += kWindow, ++windows) {
        for (const std::vector<float>* channel : {&left, &right}) {
            const double density = echoDensity(channel->data() + at, kWindow);
            leastDensity = std::min(leastDensity, density);
            densitySum += density;
        }
        for (size_t k = at; k < at + kWindow; ++k) silent += (left[k] == 0.0f) + (right[k] == 0.0f);
    }
    EXPECT_EQ(silent, 0u);
    EXPECT_GT(densitySum / static_cast<double>(2 * windows), 0.85);  // about 1 when fully diffuse
    EXPECT_GT(leastDensity, 0.5);

    // The decay time measured from the backward-integrated energy, between
    // -5 and -35 dB, tracks the decay control.
    const double measured = decayTimeFromEnergyDecay(left, right);
    EXPECT_GT(measured, 0.75 * decaySeconds);
    EXPECT_LT(measured, 1.25 * decaySeconds);
}
