#include "decay_analysis.h"

#include <math.h>

#include <algorithm>

namespace {

double toDb(double ratio) { return ratio > 0.0 ? 10.0 * log10(ratio) : -300.0; }

}  // namespace

std::vector<double> squaredResponse(const std::vector<const std::vector<float>*>& channels, size_t first) {
    const size_t length = channels.empty() ? 0 : channels.front()->size();
    std::vector<double> energy(length, 0.0);
    for (const std::vector<float>* channel : channels) {
        for (size_t k = first; k < length && k < channel->size(); ++k) {
            energy[k] += static_cast<double>((*channel)[k]) * (*channel)[k];
        }
    }
    return energy;
}

std::vector<double> backwardIntegratedDb(const std::vector<double>& energy) {
    std::vector<double> remaining(energy.size(), 0.0);
    double sum = 0.0;
    for (size_t k = energy.size(); k-- > 0;) {
        sum += energy[k];
        remaining[k] = sum;
    }
    if (!(sum > 0.0) || !isfinite(sum)) return {};
    for (double& value : remaining) value = toDb(value / sum);
    return remaining;
}

DecayFit fitDecay(const std::vector<double>& integratedDb, double sampleRate) {
    DecayFit fit;
    fit.t60Seconds = NAN;
    const auto start = std::find_if(integratedDb.begin(), integratedDb.end(), [](double db) { return db <= -5.0; });
    const auto end = std::find_if(start, integratedDb.end(), [](double db) { return db <= -35.0; });
    // Every integrated curve plunges at the very end of the response; a
    // -35 dB point in its last tenth means the response was cut short.
    if (end == integratedDb.end() || static_cast<size_t>(end - integratedDb.begin()) * 10 > integratedDb.size() * 9) {
        return fit;
    }
    const size_t from = static_cast<size_t>(start - integratedDb.begin());
    const size_t to = static_cast<size_t>(end - integratedDb.begin());
    fit.fitStartSeconds = static_cast<double>(from) / sampleRate;
    fit.fitEndSeconds = static_cast<double>(to) / sampleRate;
    if (to <= from) return fit;  // a single step, nothing to fit

    // Regression of level on time, centred for accuracy over long spans.
    const double count = static_cast<double>(to - from + 1);
    double meanT = 0.0, meanDb = 0.0;
    for (size_t k = from; k <= to; ++k) {
        meanT += static_cast<double>(k) / sampleRate;
        meanDb += integratedDb[k];
    }
    meanT /= count;
    meanDb /= count;
    double covariance = 0.0, variance = 0.0;
    for (size_t k = from; k <= to; ++k) {
        const double dt = static_cast<double>(k) / sampleRate - meanT;
        covariance += dt * (integratedDb[k] - meanDb);
        variance += dt * dt;
    }
    fit.slopeDbPerSecond = covariance / variance;
    fit.interceptDb = meanDb - fit.slopeDbPerSecond * meanT;
    if (fit.slopeDbPerSecond < 0.0) fit.t60Seconds = -60.0 / fit.slopeDbPerSecond;
    return fit;
}

std::vector<double> windowedEnvelopeDb(const std::vector<double>& energy, size_t window) {
    std::vector<double> sums(window == 0 ? 0 : energy.size() / window, 0.0);
    for (size_t k = 0; k < sums.size() * window; ++k) sums[k / window] += energy[k];
    const double peak = sums.empty() ? 0.0 : *std::max_element(sums.begin(), sums.end());
    for (double& value : sums) value = peak > 0.0 ? toDb(value / peak) : -300.0;
    return sums;
}
