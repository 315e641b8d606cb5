// Measures the decay of an impulse response and writes the curves that the
// demo plots.
//
//   zt-ir-decay IMPULSE_RESPONSE.wav CURVES.dat
//
// The response is an audio file of any format libsndfile reads and any
// channel count, starting at the impulse. CURVES.dat gets one line per 5 ms: time in seconds, the
// energy of that window and the backward-integrated energy, both in dB.
// Standard output gets key=value lines: t60, slope, intercept (of the line
// fitted between -5 and -35 dB), fit_start, fit_end, length (seconds); then,
// measured on the first channel, t60_125 .. t60_8000 (octave bands),
// echo_density_time (seconds until the echoes are as dense as noise), and
// on all channels swing_db (envelope swing), spread_db and peaks (third-
// octave spectral spread, narrow peaks) and c80 (clarity, dB).
#include <math.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "decay_analysis.h"
#include "ir_measures.h"
#include "audio_file.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "Usage: zt-ir-decay IMPULSE_RESPONSE.wav CURVES.dat\n");
        return 2;
    }
    AudioFile wav;
    std::string error;
    if (!readAudioFile(argv[1], wav, error)) {
        fprintf(stderr, "zt-ir-decay: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::vector<float>> channels(wav.channels, std::vector<float>(wav.frames()));
    for (size_t k = 0; k < wav.frames(); ++k)
        for (uint32_t c = 0; c < wav.channels; ++c) channels[c][k] = wav.samples[k * wav.channels + c];
    std::vector<const std::vector<float>*> views;
    for (const std::vector<float>& channel : channels) views.push_back(&channel);

    const double rate = wav.sampleRate;
    const std::vector<double> energy = squaredResponse(views, 0);
    const std::vector<double> integrated = backwardIntegratedDb(energy);
    if (integrated.empty()) {
        fprintf(stderr, "zt-ir-decay: the response is silent or not finite\n");
        return 1;
    }
    const size_t window = static_cast<size_t>(rate * 0.005);
    const std::vector<double> envelope = windowedEnvelopeDb(energy, window);

    FILE* curves = fopen(argv[2], "w");
    if (curves == nullptr) {
        fprintf(stderr, "zt-ir-decay: cannot write %s\n", argv[2]);
        return 1;
    }
    fprintf(curves, "# time_s window_energy_db integrated_db\n");
    for (size_t w = 0; w < envelope.size(); ++w) {
        fprintf(curves, "%.4f %.2f %.2f\n", (static_cast<double>(w) + 0.5) * static_cast<double>(window) / rate,
                envelope[w], integrated[w * window]);
    }
    const bool written = fclose(curves) == 0;

    const DecayFit fit = fitDecay(integrated, rate);
    printf("t60=%.3f\nslope=%.4f\nintercept=%.4f\nfit_start=%.4f\nfit_end=%.4f\nlength=%.3f\n",
           isfinite(fit.t60Seconds) ? fit.t60Seconds : -1.0, fit.slopeDbPerSecond, fit.interceptDb,
           fit.fitStartSeconds, fit.fitEndSeconds, static_cast<double>(wav.frames()) / rate);
    for (const double centre : {125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0}) {
        printf("t60_%.0f=%.3f\n", centre, octaveBandT60(channels[0], rate, centre));
    }
    const SpectralEvenness spectrum = spectralEvenness(channels[0], rate);
    printf("echo_density_time=%.4f\nswing_db=%.3f\nspread_db=%.2f\npeaks=%d\nc80=%.2f\n",
           echoDensityTime(channels[0], rate, 1.0, 1.0), envelopeSwingDb(energy, rate), spectrum.spreadDb,
           spectrum.peaks, clarityC80(energy, rate));
    return written ? 0 : 1;
}
