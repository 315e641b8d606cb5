// The stereo companion's cost through its LV2 entry points at the default
// settings, in calls of 256 samples of noise, at 44.1, 48 and 96 kHz (and
// 192 kHz): per host sample and per second of audio, beside the mono-input
// plug-in's at 48 kHz in the same run.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <string>

#include "bench_host.h"
#include "control/stereo_ports.h"
#include "shell/stereo_descriptor.h"

namespace {

struct StereoBenchHost {
    const LV2_Descriptor* descriptor = stereoDescriptor();
    LV2_Handle handle;
    float controls[StereoPortCount] = {};
    float left[kCallSize] = {}, right[kCallSize] = {}, outLeft[kCallSize] = {}, outRight[kCallSize] = {};

    explicit StereoBenchHost(double rate) : handle(descriptor->instantiate(descriptor, rate, "", nullptr)) {
        float engineControls[PortCount] = {};
        setDefaultControls(engineControls);
        for (uint32_t port = PortMix; port < PortCount; ++port)
            controls[port - PortMix + StereoFirstEngineControl] = engineControls[port];
        controls[StereoPreDelay] = 0.0f;
        controls[StereoWidth] = 150.0f;
        controls[StereoEnabled] = 1.0f;
        float* audio[] = {left, right, outLeft, outRight};
        for (uint32_t port = 0; port < StereoFirstEngineControl; ++port) descriptor->connect_port(handle, port, audio[port]);
        for (uint32_t port = StereoFirstEngineControl; port < StereoPortCount; ++port)
            descriptor->connect_port(handle, port, &controls[port]);
        descriptor->activate(handle);
    }
    ~StereoBenchHost() {
        descriptor->deactivate(handle);
        descriptor->cleanup(handle);
    }
    void run() {
        fillNoise(left, kCallSize);
        fillNoise(right, kCallSize);
        descriptor->run(handle, kCallSize);
    }
};

void stereoRun(benchmark::State& state, double rate) {
    StereoBenchHost host(rate);
    // One second to fill the tail; the bank starts at its lengths.
    for (uint64_t call = 0; call < static_cast<uint64_t>(rate) / kCallSize; ++call) host.run();
    for (auto _ : state) {
        host.run();
        benchmark::DoNotOptimize(host.outLeft[0]);
    }
    state.counters["ns_per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kCallSize,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

void registerStereoBenchmarks() {
    for (const double rate : {44100.0, 48000.0, 96000.0, 192000.0})
        benchmark::RegisterBenchmark(("stereo/default/" + std::to_string(static_cast<int>(rate))).c_str(), stereoRun,
                                     rate);
}
