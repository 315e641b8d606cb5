// Runs the mono-input plug-in or the stereo companion at their defaults on
// noise, in calls of 256: as many seconds to settle (the mono-input plug-in
// glides in from its start), then as many again through measuredRun, which
// callgrind is told to count:
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect='measuredRun*'
//     bench/cost/zt-cost stereo 44100 8
// Instructions per second of audio are the total over SECONDS; the inclusive
// costs of runWetBlock and runPolyphaseStage split off the engine and the
// rate conversion. valgrind runs the AVX2 path (it has no AVX-512).
#include <lv2/core/lv2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/stereo_descriptor.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

constexpr uint32_t kCall = 256;

// The 21 shared controls' defaults, in port order.
constexpr float kDefaults[21] = {30,   2000, 2000, 40, 2, 60,    20,   0, 0.6f, 1,    0,
                                 0.5f, 1,    12000, 4000, 4, 0, 2, 4, 0.4f, 0.7f};

}  // namespace

// Outside the anonymous namespace so that callgrind's pattern finds it.
__attribute__((noinline)) void measuredRun(const LV2_Descriptor* d, LV2_Handle h) { d->run(h, kCall); }

int main(int argc, char** argv) {
    const bool stereo = argc == 4 && strcmp(argv[1], "stereo") == 0;
    const double rate = argc == 4 ? atof(argv[2]) : 0.0;
    const double seconds = argc == 4 ? atof(argv[3]) : 0.0;
    if (argc != 4 || (!stereo && strcmp(argv[1], "mono") != 0) || !(rate > 0.0) || !(seconds > 0.0)) {
        fprintf(stderr, "usage: zt-cost mono|stereo RATE SECONDS (run it under callgrind; see the source)\n");
        return 2;
    }
    const LV2_Descriptor* d = stereo ? stereoDescriptor() : lv2_descriptor(0);
    LV2_Handle h = d->instantiate(d, rate, "", nullptr);
    if (h == nullptr) {
        fprintf(stderr, "zt-cost: no instance at %g Hz\n", rate);
        return 1;
    }
    const uint32_t audioIns = stereo ? 2 : 1, audioPorts = stereo ? 4 : 3, ports = stereo ? 28 : 24;
    static float control[28], audio[4][kCall];
    for (int k = 0; k < 21; ++k) control[audioPorts + k] = kDefaults[k];
    if (stereo) {
        control[25] = 0.0f;    // pre_delay
        control[26] = 150.0f;  // width
        control[27] = 1.0f;    // enabled
    }
    for (uint32_t p = 0; p < audioPorts; ++p) d->connect_port(h, p, audio[p]);
    for (uint32_t p = audioPorts; p < ports; ++p) d->connect_port(h, p, &control[p]);
    d->activate(h);
    uint32_t noise = 1;
    const long calls = (long)(seconds * rate / kCall);
    for (long call = 0; call < 2 * calls; ++call) {
        for (uint32_t p = 0; p < audioIns; ++p)
            for (uint32_t j = 0; j < kCall; ++j)
                audio[p][j] = (float)((noise = noise * 1664525u + 1013904223u) >> 8) * 0x1p-24f - 0.5f;
        if (call < calls) {
            d->run(h, kCall);
        } else {
            measuredRun(d, h);
        }
    }
    d->deactivate(h);
    d->cleanup(h);
    return 0;
}
