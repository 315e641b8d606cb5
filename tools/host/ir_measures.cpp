#include "ir_measures.h"

#include <math.h>

#include <algorithm>
#include <complex>

#include "decay_analysis.h"

namespace {

double toDb(double ratio) { return ratio > 0.0 ? 10.0 * log10(ratio) : -300.0; }

// Band-pass biquad with 0 dB at its centre (the usual cookbook form).
struct BandPass {
    double b0, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    BandPass(double rate, double centre, double q) {
        const double w = 2.0 * M_PI * centre / rate, alpha = sin(w) / (2.0 * q), a0 = 1.0 + alpha;
        b0 = alpha / a0;
        b2 = -alpha / a0;
        a1 = -2.0 * cos(w) / a0;
        a2 = (1.0 - alpha) / a0;
    }
    double step(double x) {
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

void fft(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> turn = std::polar(1.0, -2.0 * M_PI / static_cast<double>(length));
        for (size_t start = 0; start < n; start += length) {
            std::complex<double> w = 1.0;
            for (size_t k = 0; k < length / 2; ++k, w *= turn) {
                const std::complex<double> even = data[start + k], odd = w * data[start + k + length / 2];
                data[start + k] = even + odd;
                data[start + k + length / 2] = even - odd;
            }
        }
    }
}

// First index at which the backward-integrated curve falls to `db`.
size_t crossing(const std::vector<double>& integratedDb, double db) {
    return static_cast<size_t>(std::find_if(integratedDb.begin(), integratedDb.end(), [db](double v) { return v <= db; }) -
                               integratedDb.begin());
}

}  // namespace

double octaveBandT60(const std::vector<float>& response, double rate, double centreHz) {
    // Two one-octave sections in series (Q of one octave is sqrt 2).
    BandPass first(rate, centreHz, M_SQRT2), second(rate, centreHz, M_SQRT2);
    std::vector<double> energy(response.size());
    for (size_t k = 0; k < response.size(); ++k) {
        const double y = second.step(first.step(response[k]));
        energy[k] = y * y;
    }
    return fitDecay(backwardIntegratedDb(energy), rate).t60Seconds;
}

double echoDensityTime(const std::vector<float>& response, double rate, double level, double within) {
    const size_t window = static_cast<size_t>(0.02 * rate) | 1;
    std::vector<double> weights(window);
    double total = 0.0;
    for (size_t k = 0; k < window; ++k) {
        weights[k] = 0.5 - 0.5 * cos(2.0 * M_PI * static_cast<double>(k + 1) / static_cast<double>(window + 1));
        total += weights[k];
    }
    for (double& w : weights) w /= total;
    const double gaussianShare = erfc(1.0 / M_SQRT2);  // share of Gaussian samples beyond one deviation
    const size_t hop = static_cast<size_t>(0.001 * rate);
    const size_t last = std::min(response.size(), static_cast<size_t>(within * rate) + window / 2);
    for (size_t start = 0; start + window <= last; start += hop) {
        double variance = 0.0;
        for (size_t k = 0; k < window; ++k) variance += weights[k] * response[start + k] * response[start + k];
        if (!(variance > 0.0)) continue;
        const double deviation = sqrt(variance);
        double outside = 0.0;
        for (size_t k = 0; k < window; ++k) outside += fabs(response[start + k]) > deviation ? weights[k] : 0.0;
        if (outside / gaussianShare >= level) return static_cast<double>(start + window / 2) / rate;
    }
    return NAN;
}

double envelopeSwingDb(const std::vector<double>& energy, double rate) {
    const size_t window = static_cast<size_t>(0.01 * rate);
    const std::vector<double> integrated = backwardIntegratedDb(energy);
    const std::vector<double> envelope = windowedEnvelopeDb(energy, window);
    const size_t from = crossing(integrated, -5.0) / window;
    const size_t to = std::min(crossing(integrated, -35.0) / window, envelope.size());
    constexpr size_t kNoise = 10, kTrend = 60;  // windows: 100 ms against 600 ms
    if (to < from + kTrend + 30) return NAN;
    auto mean = [&](size_t centre, size_t length) {
        double sum = 0.0;
        for (size_t w = centre - length / 2; w < centre - length / 2 + length; ++w) sum += envelope[w];
        return sum / static_cast<double>(length);
    };
    double square = 0.0;
    size_t count = 0;
    for (size_t w = from + kTrend / 2; w + kTrend / 2 <= to; ++w, ++count) {
        const double swing = mean(w, kNoise) - mean(w, kTrend);
        square += swing * swing;
    }
    return sqrt(2.0 * square / static_cast<double>(count));
}

SpectralEvenness spectralEvenness(const std::vector<float>& response, double rate) {
    constexpr size_t kLength = size_t{1} << 17;
    std::vector<std::complex<double>> spectrum(kLength);
    for (size_t k = 0; k < std::min(kLength, response.size()); ++k) spectrum[k] = response[k];
    fft(spectrum);
    const double binHz = rate / static_cast<double>(kLength);
    // Power smoothed over 9 bins (about 3 Hz at 48 kHz).
    std::vector<double> power(kLength / 2, 0.0);
    for (size_t k = 4; k + 4 < kLength / 2; ++k) {
        for (size_t j = k - 4; j <= k + 4; ++j) power[k] += std::norm(spectrum[j]) / 9.0;
    }
    SpectralEvenness result{0.0, 0};
    std::vector<double> levels;
    for (int band = 0; band <= 20; ++band) {
        const double centre = 100.0 * pow(2.0, band / 3.0);
        const size_t low = static_cast<size_t>(centre * pow(2.0, -1.0 / 6.0) / binHz);
        const size_t high = std::min(power.size() - 5, static_cast<size_t>(centre * pow(2.0, 1.0 / 6.0) / binHz));
        std::vector<double> inBand(power.begin() + static_cast<long>(low), power.begin() + static_cast<long>(high));
        double sum = 0.0;
        for (double p : inBand) sum += p;
        levels.push_back(toDb(sum / static_cast<double>(inBand.size())));
        std::nth_element(inBand.begin(), inBand.begin() + static_cast<long>(inBand.size() / 2), inBand.end());
        const double threshold = inBand[inBand.size() / 2] * pow(10.0, 1.2);
        for (size_t k = low; k < high; ++k) {
            result.peaks += power[k] > threshold && power[k] >= power[k - 1] && power[k] > power[k + 1];
        }
    }
    double mean = 0.0, square = 0.0;
    for (double level : levels) mean += level / static_cast<double>(levels.size());
    for (double level : levels) square += (level - mean) * (level - mean) / static_cast<double>(levels.size());
    result.spreadDb = sqrt(square);
    return result;
}

double clarityC80(const std::vector<double>& energy, double rate) {
    const size_t split = std::min(energy.size(), static_cast<size_t>(0.08 * rate));
    double early = 0.0, late = 0.0;
    for (size_t k = 0; k < energy.size(); ++k) (k < split ? early : late) += energy[k];
    return toDb(early / late);
}
