// The measuring tools the preset and host checks rely on: decay time by
// backward integration, and audio files as hosts and tools write them.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <random>

#include "audio_file.h"
#include "decay_analysis.h"
#include "ir_measures.h"

namespace {

constexpr double kRate = 48000.0;

// Noise under an exponential envelope that falls 60 dB in `t60` seconds.
std::vector<float> decayingNoise(double t60, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> signal(static_cast<size_t>(seconds * kRate));
    for (size_t k = 0; k < signal.size(); ++k) {
        signal[k] = noise(random) * static_cast<float>(pow(10.0, -3.0 * static_cast<double>(k) / kRate / t60));
    }
    return signal;
}

TEST(DecayMeasurement, FindsTheDecayTimeOfAnExponentialTail) {
    for (const double t60 : {0.3, 1.5, 6.0}) {
        SCOPED_TRACE(t60);
        const std::vector<float> left = decayingNoise(t60, 1.2 * t60 + 0.5, 1);
        const std::vector<float> right = decayingNoise(t60, 1.2 * t60 + 0.5, 2);
        const DecayFit fit = fitDecay(backwardIntegratedDb(squaredResponse({&left, &right}, 0)), kRate);
        EXPECT_NEAR(fit.t60Seconds, t60, 0.03 * t60);
        // -5 dB comes after 1/12 of the decay time, -35 dB after 7/12 of it.
        EXPECT_NEAR(fit.fitStartSeconds, t60 / 12.0, 0.02 * t60);
        EXPECT_NEAR(fit.fitEndSeconds, 7.0 * t60 / 12.0, 0.03 * t60);
        EXPECT_NEAR(fit.interceptDb, 0.0, 1.0);
    }
}

TEST(DecayMeasurement, ReportsWhatItCannotMeasure) {
    // Cut off at -15 dB: only the cut itself takes the curve below -35 dB.
    const std::vector<float> cut = decayingNoise(2.0, 0.5, 3);
    EXPECT_TRUE(isnan(fitDecay(backwardIntegratedDb(squaredResponse({&cut}, 0)), kRate).t60Seconds));
    const std::vector<float> silent(1000, 0.0f);
    EXPECT_TRUE(backwardIntegratedDb(squaredResponse({&silent}, 0)).empty());
    // Samples before `first` do not count: a lone click there leaves silence.
    std::vector<float> click(1000, 0.0f);
    click[0] = 1.0f;
    EXPECT_TRUE(backwardIntegratedDb(squaredResponse({&click}, 1)).empty());
}

TEST(DecayMeasurement, EnvelopeIsRelativeToTheLoudestWindow) {
    std::vector<float> signal(4800, 0.0f);
    for (size_t k = 480; k < 960; ++k) signal[k] = 1.0f;
    for (size_t k = 960; k < 1440; ++k) signal[k] = 0.1f;
    const std::vector<double> envelope = windowedEnvelopeDb(squaredResponse({&signal}, 0), 480);
    ASSERT_EQ(envelope.size(), 10u);
    EXPECT_EQ(envelope[0], -300.0);
    EXPECT_NEAR(envelope[1], 0.0, 1e-9);
    EXPECT_NEAR(envelope[2], -20.0, 1e-4);
}

// Each impulse-response measure on signals whose answer is known: decaying
// white noise (T60 2 s, flat, noise-like at once), the same with a 1.9 Hz
// beat of +-1 dB, low-passed, and a train of separate clicks.
TEST(ImpulseResponseMeasures, EachReadsWhatItIsMeantTo) {
    const double t60 = 2.0;
    const std::vector<float> noise = decayingNoise(t60, 3.0, 4);
    std::vector<float> beating = noise, dark = noise, clicks(static_cast<size_t>(0.5 * kRate), 0.0f);
    float state = 0.0f;
    for (size_t k = 0; k < noise.size(); ++k) {
        beating[k] *= static_cast<float>(pow(10.0, sin(2.0 * M_PI * 1.9 * static_cast<double>(k) / kRate) / 20.0));
        state += 0.06f * (noise[k] - state);  // one pole near 460 Hz
        dark[k] = state;
    }
    for (size_t k = 0; k < clicks.size(); k += 480) clicks[k] = 1.0f;
    const std::vector<double> energy = squaredResponse({&noise}, 0);

    for (const double centre : {125.0, 1000.0, 8000.0}) {
        EXPECT_NEAR(octaveBandT60(noise, kRate, centre), t60, 0.1 * t60) << centre;
    }
    EXPECT_LT(echoDensityTime(noise, kRate, 0.9, 0.5), 0.03);
    EXPECT_TRUE(isnan(echoDensityTime(clicks, kRate, 0.5, 0.4))) << "separate clicks never look like noise";
    EXPECT_LT(envelopeSwingDb(energy, kRate), 0.25);
    EXPECT_NEAR(envelopeSwingDb(squaredResponse({&beating}, 0), kRate), 1.0, 0.3);
    EXPECT_LT(spectralEvenness(noise, kRate).spreadDb, 1.5);
    EXPECT_GT(spectralEvenness(dark, kRate).spreadDb, 6.0);
    // An exponential decay keeps 1 - exp(-13.8 x 0.08 / T60) of its energy in the first 80 ms.
    const double early = 1.0 - exp(-6.0 * log(10.0) * 0.08 / t60);
    EXPECT_NEAR(clarityC80(energy, kRate), 10.0 * log10(early / (1.0 - early)), 0.3);
}

// Writes `frames` frames of a quiet sine in `format`, then keeps only the
// first `keepBytes` bytes of the file (all of it when 0).
bool writeTestFile(const std::string& path, int format, size_t frames, long keepBytes) {
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 48000;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    std::vector<float> signal(frames);
    for (size_t k = 0; k < frames; ++k) signal[k] = 0.5f * static_cast<float>(sin(0.05 * static_cast<double>(k)));
    const bool written = sf_writef_float(file, signal.data(), static_cast<sf_count_t>(frames)) ==
                         static_cast<sf_count_t>(frames);
    sf_close(file);
    return written && (keepBytes == 0 || truncate(path.c_str(), keepBytes) == 0);
}

TEST(AudioFiles, FloatWavRoundTripsEveryBitAboveFullScaleToo) {
    char path[] = "/tmp/zt-wav-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    AudioFile written;
    written.channels = 2;
    written.sampleRate = 44100;
    written.samples = {0.0f, -0.0f, 1.0f, -1.0f, 1e-40f, 3.4e38f, 2.41f, -7.5f};
    std::string error;
    ASSERT_TRUE(writeFloatWav(path, written, error)) << error;
    AudioFile read;
    ASSERT_TRUE(readAudioFile(path, read, error)) << error;
    EXPECT_EQ(read.channels, 2u);
    EXPECT_EQ(read.sampleRate, 44100u);
    ASSERT_EQ(read.frames(), 4u);
    EXPECT_EQ(memcmp(read.samples.data(), written.samples.data(), written.samples.size() * 4), 0);
    unlink(path);
}

// Input that is cut short, empty or not audio is an error, never silence.
TEST(AudioFiles, IncompleteOrUnreadableInputIsRefused) {
    char dir[] = "/tmp/zt-audio-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const struct {
        const char* name;
        int format;
        size_t frames;
        long keepBytes;
        const char* reason;  // part of the error; nullptr: the file reads
    } cases[] = {
        {"whole.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 0, nullptr},
        {"whole.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 0, nullptr},
        {"cut.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 100000, "cut short"},
        {"cut.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 50000, "cut short"},
        {"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 20000, "cut short"},
        {"empty.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0, "no audio"},
        {"header.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 30, "cannot read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string(dir) + "/" + c.name;
        ASSERT_TRUE(writeTestFile(path, c.format, c.frames, c.keepBytes));
        AudioFile audio;
        std::string error;
        const bool read = readAudioFile(path, audio, error);
        if (c.reason == nullptr) {
            EXPECT_TRUE(read) << error;
            EXPECT_EQ(audio.frames(), c.frames);
        } else {
            EXPECT_FALSE(read);
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
        unlink(path.c_str());
    }
    AudioFile audio;
    std::string error;
    EXPECT_FALSE(readAudioFile(std::string(dir) + "/missing.wav", audio, error));
    rmdir(dir);
}

}  // namespace
