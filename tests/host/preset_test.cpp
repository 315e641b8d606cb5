// The presets as a host finds them in the staged bundle: complete, inside
// the metadata ranges, and each sounding like what its name promises.
#include <math.h>

#include <map>
#include <set>

#include "decay_analysis.h"
#include "ir_measures.h"
#include "preset_instance.h"
#include "preset_readme_tables.h"

namespace {

constexpr double kRate = 48000.0;

// What each preset's name promises: a range of decay times (T60 in
// seconds, measured on the impulse response), whether its tail darkens as
// it decays (the highest ratio of the 8 kHz octave's T60 to the 1 kHz
// octave's; 0 when it need not), and whether its spectrum is meant to be
// even (the dark and the metallic ones are uneven by design). A new preset
// needs a line.
struct Promise {
    const char* slug;
    double shortestT60, longestT60;
    double darkening;
    bool evenSpectrum;
};
const Promise kPromises[] = {
    {"small-room", 0.2, 0.8, 0.0, true},      // well under a second
    {"vocal-plate", 1.0, 2.2, 0.0, true},     // a plate behind a voice
    {"concert-hall", 1.8, 3.5, 0.7, true},    // a large hall, its tail darkening like a real one's
    {"cathedral", 5.0, 12.0, 0.8, true},      // several seconds, dark
    {"dark-chamber", 1.0, 3.0, 0.0, false},   // a medium space, low-passed
    {"ambient-wash", 6.0, 16.0, 0.0, true},   // long enough to blur notes together
    {"metallic-tank", 0.8, 3.5, 0.0, false},  // ringing, not endless
    {"series-bloom", 1.5, 4.0, 0.0, true},    // a swelling medium tail
};

const Promise* promiseFor(const std::string& slug) {
    for (const Promise& promise : kPromises)
        if (slug == promise.slug) return &promise;
    return nullptr;
}

// Root-mean-square frequency of a signal, from the energy of its first
// difference: a rough brightness in Hz, low for dark tails.
double rmsFrequencyHz(const std::vector<float>& signal, size_t from, size_t to) {
    double energy = 0.0, differenceEnergy = 0.0;
    for (size_t k = from + 1; k < to; ++k) {
        energy += static_cast<double>(signal[k]) * signal[k];
        const double difference = static_cast<double>(signal[k]) - signal[k - 1];
        differenceEnergy += difference * difference;
    }
    // A sine of frequency f gives a difference energy of 4 sin^2(pi f / rate).
    return kRate / M_PI * asin(0.5 * sqrt(differenceEnergy / energy));
}

// How much a stretch of signal rings at separate resonances: the spectral
// flatness (geometric over arithmetic mean of the power) within bands of 40
// neighbouring frequencies, averaged over 50 Hz .. 8 kHz. Within so narrow
// a band the overall tilt of a filtered tail does not count; a noise-like
// tail gives about exp(-0.577) = 0.56, a few sharp resonances far less.
double localSpectralFlatness(const std::vector<float>& signal, size_t from, size_t length) {
    constexpr int kBins = 800;
    constexpr int kBand = 40;
    std::vector<double> power(kBins);
    for (int bin = 0; bin < kBins; ++bin) {
        const double frequency = 50.0 + (8000.0 - 50.0) * bin / (kBins - 1);
        // Goertzel recursion over a Hann-windowed stretch.
        const double coefficient = 2.0 * cos(2.0 * M_PI * frequency / kRate);
        double s1 = 0.0, s2 = 0.0;
        for (size_t k = 0; k < length; ++k) {
            const double window = 0.5 - 0.5 * cos(2.0 * M_PI * static_cast<double>(k) / static_cast<double>(length));
            const double s0 = window * signal[from + k] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        power[bin] = s1 * s1 + s2 * s2 - coefficient * s1 * s2 + 1e-30;
    }
    double logFlatness = 0.0;
    for (int band = 0; band < kBins / kBand; ++band) {
        double logSum = 0.0, sum = 0.0;
        for (int bin = band * kBand; bin < (band + 1) * kBand; ++bin) {
            logSum += log(power[bin]);
            sum += power[bin];
        }
        logFlatness += logSum / kBand - log(sum / kBand);
    }
    return exp(logFlatness / (kBins / kBand));
}

class Presets : public ::testing::Test {
protected:
    StagedPlugin staged;
    std::vector<BundlePreset> presets;
    void SetUp() override {
        ASSERT_NE(staged.plugin, nullptr) << "plug-in not found through LV2_PATH";
        presets = loadBundlePresets(staged);
    }
};

TEST_F(Presets, EveryPresetSetsEveryControlWithinItsRange) {
    EXPECT_GE(presets.size(), 8u);
    const StagedPlugin::Ranges ranges = staged.ranges();
    std::set<std::string> labels;
    std::set<std::vector<std::pair<std::string, float>>> sounds;
    for (const BundlePreset& preset : presets) {
        SCOPED_TRACE(preset.uri);
        EXPECT_NE(promiseFor(presetSlug(preset.uri)), nullptr) << "no decay promise for this preset in the test";
        EXPECT_FALSE(preset.label.empty());
        EXPECT_GE(preset.comment.size(), 20u) << "a one-line description";
        EXPECT_TRUE(labels.insert(preset.label).second) << "label used twice: " << preset.label;
        EXPECT_TRUE(preset.loaded) << "lilv cannot read its state";
        EXPECT_TRUE(preset.badValues.empty()) << preset.badValues.front();

        std::map<std::string, float> bySymbol;
        for (const auto& [symbol, value] : preset.values) {
            EXPECT_TRUE(bySymbol.emplace(symbol, value).second) << symbol << " set twice";
        }
        EXPECT_EQ(bySymbol.size(), static_cast<size_t>(kPortCount - 3)) << "every control port, once";
        for (uint32_t port = 3; port < kPortCount; ++port) {
            const std::string symbol = staged.symbol(port);
            const auto found = bySymbol.find(symbol);
            if (found == bySymbol.end()) {
                ADD_FAILURE() << symbol << " not set";
                continue;
            }
            EXPECT_GE(found->second, ranges.minimum[port]) << symbol;
            EXPECT_LE(found->second, ranges.maximum[port]) << symbol;
            if (staged.portHasProperty(port, LV2_CORE "integer") || staged.portHasProperty(port, LV2_CORE "toggled")) {
                EXPECT_EQ(found->second, floorf(found->second)) << symbol << " takes whole numbers";
            }
        }
        EXPECT_TRUE(sounds.insert(preset.values).second) << "same values as another preset";
    }
    for (const Promise& promise : kPromises) {
        const bool present = std::any_of(presets.begin(), presets.end(),
                                         [&](const BundlePreset& p) { return presetSlug(p.uri) == promise.slug; });
        EXPECT_TRUE(present) << promise.slug << " missing from the bundle";
    }
}

// The impulse response of each preset after the instance has settled.
struct PresetResponse {
    std::vector<float> left, right;
};

PresetResponse renderPresetImpulse(const StagedPlugin& staged, const std::string& uri, double seconds,
                                  const std::vector<std::pair<std::string, float>>& overrides = {}) {
    PresetResponse response;
    PresetInstance plugin(staged, kRate, 512);
    if (plugin.instance == nullptr || !plugin.restore(uri)) return response;
    for (const auto& [symbol, value] : overrides)
        if (!plugin.set(symbol, value)) return response;
    // A fresh instance glides every unit from a whole ring to its set length
    // within its first 6 s: the impulse comes 10 s after instantiation.
    const size_t settle = static_cast<size_t>(10.0 * kRate);
    plugin.render(std::vector<float>(settle, 0.0f), response.left, response.right);
    response.left.clear();
    response.right.clear();
    std::vector<float> impulse(static_cast<size_t>(seconds * kRate), 0.0f);
    impulse[0] = 1.0f;
    plugin.render(impulse, response.left, response.right);
    return response;
}

struct Character {
    double t60Seconds, brightnessHz, flatness, loudestSeconds;
};

// Sample 0 carries the dry click; the tail starts after it.
std::vector<double> tailEnergy(const PresetResponse& response) {
    return squaredResponse({&response.left, &response.right}, 1);
}
std::vector<float> leftTail(const PresetResponse& response) {
    std::vector<float> tail = response.left;
    tail[0] = 0.0f;
    return tail;
}

double loudestWindowSeconds(const std::vector<double>& energy) {
    const std::vector<double> envelope = windowedEnvelopeDb(energy, 480);
    return 0.01 * static_cast<double>(std::max_element(envelope.begin(), envelope.end()) - envelope.begin());
}

TEST_F(Presets, ImpulseResponsesSoundAsTheirNamesPromise) {
    ASSERT_FALSE(presets.empty());
    std::map<std::string, Character> measured;
    for (const BundlePreset& preset : presets) {
        const std::string slug = presetSlug(preset.uri);
        SCOPED_TRACE(slug);
        const Promise* promise = promiseFor(slug);
        if (promise == nullptr) continue;  // reported above

        // Long enough that the backward integration is not cut short.
        const double seconds = 1.5 * promise->longestT60 + 1.0;
        const PresetResponse response = renderPresetImpulse(staged, preset.uri, seconds);
        ASSERT_EQ(response.left.size(), static_cast<size_t>(seconds * kRate)) << "preset not applied";
        for (size_t k = 0; k < response.left.size(); ++k)
            ASSERT_TRUE(isfinite(response.left[k]) && isfinite(response.right[k])) << "sample " << k;

        const std::vector<double> energy = tailEnergy(response);
        const std::vector<double> envelope = windowedEnvelopeDb(energy, 480);
        ASSERT_FALSE(envelope.empty());
        EXPECT_LT(envelope.back(), -60.0) << "the tail has not died away by the end";
        const double loudest = loudestWindowSeconds(energy);
        EXPECT_LT(loudest, 0.5 * promise->shortestT60) << "loudest 10 ms window";

        const DecayFit fit = fitDecay(backwardIntegratedDb(energy), kRate);
        ASSERT_TRUE(isfinite(fit.t60Seconds)) << "no -35 dB point";
        EXPECT_GE(fit.t60Seconds, promise->shortestT60);
        EXPECT_LE(fit.t60Seconds, promise->longestT60);

        // What separates a smooth, dense tail from one that flutters, rings
        // or thins out: echoes as dense as noise within 100 ms, an envelope
        // free of beats between units, an even spectrum, and for a hall a
        // tail that darkens as it decays.
        const std::vector<float> left = leftTail(response);
        EXPECT_LE(echoDensityTime(left, kRate, 1.0, 0.1), 0.1) << "echo density reaches that of noise";
        const double swing = envelopeSwingDb(energy, kRate);
        if (!isnan(swing)) {
            EXPECT_LT(swing, 0.8) << "envelope swing in dB";
        }
        if (promise->evenSpectrum) {
            EXPECT_LT(spectralEvenness(left, kRate).spreadDb, 10.0) << "third-octave spread";
        }
        if (promise->darkening > 0.0) {
            EXPECT_LT(octaveBandT60(left, kRate, 8000.0), promise->darkening * octaveBandT60(left, kRate, 1000.0))
                << "T60 at 8 kHz over T60 at 1 kHz";
        }

        const size_t tailEnd = std::min(response.left.size(), static_cast<size_t>(fit.fitEndSeconds * kRate));
        measured[slug] = Character{fit.t60Seconds, rmsFrequencyHz(response.left, 1, tailEnd),
                                   localSpectralFlatness(response.left, static_cast<size_t>(0.1 * kRate), 12000),
                                   loudest};
    }
    ASSERT_EQ(measured.size(), std::size(kPromises));

    // The decay times the README quotes are the measured ones.
    for (const ReadmePreset& row : readReadmePresets(ZT_SOURCE_DIR "/README.md")) {
        const auto found = measured.find(row.slug);
        if (found == measured.end()) continue;  // the README test reports unknown rows
        EXPECT_NEAR(row.t60Seconds, found->second.t60Seconds, 0.02 * found->second.t60Seconds) << row.slug;
    }

    // The dark one is far darker than all others; the metallic one rings at
    // separate resonances where the others are noise-like.
    const Character& dark = measured["dark-chamber"];
    const Character& metallic = measured["metallic-tank"];
    EXPECT_LT(dark.brightnessHz, 1000.0);
    EXPECT_LT(metallic.flatness, 0.3);
    for (const auto& [slug, character] : measured) {
        if (slug != "dark-chamber") {
            EXPECT_LT(2.0 * dark.brightnessHz, character.brightnessHz) << slug;
        }
        if (slug != "metallic-tank") {
            EXPECT_LT(1.5 * metallic.flatness, character.flatness) << slug;
        }
    }
}

TEST_F(Presets, SeriesRoutingSwellsLaterThanTheSameBankInParallel) {
    const std::string uri = ZT_PLUGIN_URI "/presets#series-bloom";
    const PresetResponse series = renderPresetImpulse(staged, uri, 3.0);
    const PresetResponse parallel = renderPresetImpulse(staged, uri, 3.0, {{"routing", 0.0f}});
    ASSERT_FALSE(series.left.empty());
    ASSERT_FALSE(parallel.left.empty());
    const double seriesPeak = loudestWindowSeconds(tailEnergy(series));
    const double parallelPeak = loudestWindowSeconds(tailEnergy(parallel));
    EXPECT_GT(seriesPeak, parallelPeak + 0.05) << "series " << seriesPeak << " s, parallel " << parallelPeak << " s";
}

}  // namespace
