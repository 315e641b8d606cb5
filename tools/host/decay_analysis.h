// Decay time of an impulse response, measured the way room acoustics does:
// backward (Schroeder) integration of the squared response, a straight line
// fitted to the part of that curve between -5 and -35 dB, extrapolated to
// -60 dB.
#pragma once

#include <stddef.h>

#include <vector>

struct DecayFit {
    double t60Seconds = 0.0;        // NaN when the curve reaches -35 dB only in its last tenth
    double slopeDbPerSecond = 0.0;  // of the fitted line
    double interceptDb = 0.0;       // the fitted line at time 0
    double fitStartSeconds = 0.0;   // where the curve crosses -5 dB
    double fitEndSeconds = 0.0;     // where it crosses -35 dB
};

// Energy of the channels (each a sequence of equal length), summed per
// sample, from sample `first` on; earlier samples count as silence.
std::vector<double> squaredResponse(const std::vector<const std::vector<float>*>& channels, size_t first);

// Remaining energy from each sample to the end, in dB relative to the total.
// Silent responses give an empty curve.
std::vector<double> backwardIntegratedDb(const std::vector<double>& energy);

// Least-squares line through the -5..-35 dB part of the integrated curve.
// The response must be long enough to reach -35 dB before its last tenth.
DecayFit fitDecay(const std::vector<double>& integratedDb, double sampleRate);

// Energy in consecutive windows of `window` samples, in dB relative to the
// loudest window (-300 for silent windows).
std::vector<double> windowedEnvelopeDb(const std::vector<double>& energy, size_t window);
