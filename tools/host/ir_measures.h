// What a listener hears in an impulse response, in numbers: how the decay
// time falls with frequency, how soon the echoes merge into noise, how
// even the tail's envelope is, how even its spectrum, and how much energy
// arrives early. Responses start at the impulse; rate in Hz.
#pragma once

#include <stddef.h>

#include <vector>

// Decay time (T60 from a fit between -5 and -35 dB of the backward
// integration) of the response filtered to the octave band around `centreHz`;
// NaN when it cannot be measured.
double octaveBandT60(const std::vector<float>& response, double rate, double centreHz);

// Normalised echo density (1 for Gaussian noise, less while separate echoes
// stand out) in a 20 ms Hann window; the time in seconds at which it first
// reaches `level`, or NaN when it never does within the first `within`
// seconds.
double echoDensityTime(const std::vector<float>& response, double rate, double level, double within);

// How much the tail's envelope swings around its own course, as the
// amplitude in dB of a sine of the same power: its 10 ms energy envelope
// averaged over 100 ms, less its 600 ms average, between the -5 and -35 dB
// points of the backward integration. Units of near-equal loop length beat
// at their loop rate and show up here; the slow bend of a decay does not.
// NaN for tails too short to tell the two apart.
double envelopeSwingDb(const std::vector<double>& energy, double rate);

struct SpectralEvenness {
    double spreadDb;  // standard deviation of the third-octave band levels, 100 Hz .. 10 kHz
    int peaks;        // narrow peaks more than 12 dB above their third-octave neighbourhood
};
SpectralEvenness spectralEvenness(const std::vector<float>& response, double rate);

// Clarity C80: energy of the first 80 ms over the rest, in dB.
double clarityC80(const std::vector<double>& energy, double rate);
