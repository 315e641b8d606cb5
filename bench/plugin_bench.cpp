// Nanoseconds per sample of the plug-in's run, through the LV2 entry points
// at 48000 in calls of 256 samples, for named settings, on the oracle path
// and on each vector path; then the control stage alone and the stages of
// the block loop on their own; then the stereo companion at four host rates
// (stereo_bench.cpp). At the end a summary table gives the medians
// and the ratios, all from this one run on this one machine. With other
// work on the machine, interleave the repetitions:
//
//   zt_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//            --benchmark_report_aggregates_only=true [--benchmark_filter=plugin/]
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_host.h"
#include "kernels/kernel_path.h"
#include "kernels/unit_kernel.h"
#include "process/diffuser_chain.h"
#include "process/output_mix.h"

namespace {

const KernelPath kAllPaths[] = {KernelPath::Oracle, KernelPath::Scalar, KernelPath::Sse2, KernelPath::Avx2,
                                KernelPath::Avx512};

const BenchConfig kSteadyConfigs[] = {
    {"light", setLightControls},
    {"default", setDefaultControls},
    {"heavy", setHeavyControls},
    {"largest", setLargestControls},
    {"large", setLargeControls},
};

void countSamples(benchmark::State& state, uint64_t samplesPerIteration) {
    state.counters["ns_per_sample"] = benchmark::Counter(
        (double)state.iterations() * (double)samplesPerIteration,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One warmed-up instance per setting, kept across repetitions and paths:
// every path gives the same bits, so the state carries on whichever ran.
BenchHost& warmHost(const BenchConfig& config) {
    static std::map<std::string, std::unique_ptr<BenchHost>> hosts;
    std::unique_ptr<BenchHost>& host = hosts[config.name];
    if (!host) {
        float controls[PortCount] = {};
        config.set(controls);
        clearKernelPathOverride();
        host.reset(new BenchHost(controls));
        // Units glide from 16000 samples to their lengths for seconds.
        host->settle(true);
    }
    return *host;
}

struct PathScope {
    explicit PathScope(KernelPath path) { overrideKernelPath(path); }
    ~PathScope() { clearKernelPathOverride(); }
};

void steadyRun(benchmark::State& state, const BenchConfig* config, KernelPath path) {
    BenchHost& host = warmHost(*config);
    PathScope scope(path);
    for (auto _ : state) {
        fillNoise(host.input, kCallSize);
        host.run();
        benchmark::DoNotOptimize(host.left[0]);
    }
    countSamples(state, kCallSize);
}

// Every control port changes on every call: the default settings and their
// alternative, in turn.
void automationRun(benchmark::State& state, KernelPath path) {
    static const BenchConfig config = {"automation", setDefaultControls};
    BenchHost& host = warmHost(config);
    float settings[2][PortCount] = {};
    setDefaultControls(settings[0]);
    setAutomationAlternative(settings[1]);
    PathScope scope(path);
    uint32_t call = 0;
    for (auto _ : state) {
        memcpy(host.controls + PortMix, settings[++call % 2] + PortMix, (PortCount - PortMix) * sizeof(float));
        fillNoise(host.input, kCallSize);
        host.run();
        benchmark::DoNotOptimize(host.left[0]);
    }
    countSamples(state, kCallSize);
}

// Ports 6 to 10 change on every call between two large banks: every call
// posts new lengths, so the units glide all the time. Against plugin/large.
void resizeRun(benchmark::State& state, KernelPath path) {
    static const BenchConfig config = {"resize", setLargeControls};
    BenchHost& host = warmHost(config);
    float settings[2][PortCount] = {};
    setLargeControls(settings[0]);
    setLargeAlternative(settings[1]);
    PathScope scope(path);
    uint32_t call = 0;
    for (auto _ : state) {
        memcpy(host.controls + PortUnitCount, settings[++call % 2] + PortUnitCount,
               (PortSizeCurve - PortUnitCount + 1) * sizeof(float));
        fillNoise(host.input, kCallSize);
        host.run();
        benchmark::DoNotOptimize(host.left[0]);
    }
    countSamples(state, kCallSize);
}

// The default setting on the fast path in calls of the given size, after
// one call of `offset` samples that leaves every later call off the block
// grid (an automation split, a loop point).
void callSizeRun(benchmark::State& state, uint32_t callSize, uint32_t offset) {
    float controls[PortCount] = {};
    setDefaultControls(controls);
    BenchHost host(controls);
    host.settle(true);
    if (offset > 0) host.run(offset);
    uint64_t samples = 0;
    for (auto _ : state) {
        fillNoise(host.input, callSize);
        host.run(callSize);
        samples += callSize;
        benchmark::DoNotOptimize(host.left[0]);
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter((double)samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Calls of 16 samples through a whole bank that overflows: input at the
// float limit for 40 calls, then noise while the silenced units' rings are
// cleared. The 99th percentile and the slowest of those calls against the
// same of as many steady calls (on a busy machine single calls of either
// kind are interrupted now and then; the percentiles show the work).
void recoveryRun(benchmark::State& state) {
    float controls[PortCount] = {};
    setDefaultControls(controls);
    controls[PortUnitCount] = 70.0f;
    controls[PortInputGainFirst] = controls[PortInputGainLast] = 2.0f;
    BenchHost host(controls);
    host.settle(true);
    // This thread's CPU time: a call that other work interrupts costs no
    // more for it.
    const auto timeCall = [&]() {
        timespec start, end;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        host.run(kBlockLength);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        return (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) * 1e-9;
    };
    const auto percentile = [](std::vector<double> v, double p) {
        std::sort(v.begin(), v.end());
        return v[(size_t)(p * (double)(v.size() - 1))];
    };
    constexpr int kCalls = 600;
    std::vector<double> steady, recovery;
    for (auto _ : state) {
        for (int call = 0; call < kCalls; ++call) {
            fillNoise(host.input, kBlockLength);
            steady.push_back(timeCall());
        }
        for (int call = 0; call < kCalls; ++call) {
            if (call < 40) {
                for (uint32_t k = 0; k < kBlockLength; ++k) host.input[k] = 3.4e38f;
            } else {
                fillNoise(host.input, kBlockLength);
            }
            recovery.push_back(timeCall());
        }
    }
    state.counters["p99_over_steady_p99"] = percentile(recovery, 0.99) / percentile(steady, 0.99);
    state.counters["max_over_steady_max"] = percentile(recovery, 1.0) / percentile(steady, 1.0);
}

// An impulse into a settled, silent instance, then silence: three seconds
// of the attack, or, from the fourth second on, three seconds in which the
// tail decays through the smallest magnitudes float can hold (it is exactly
// zero by the seventh, with the decay times of setTailControls).
constexpr uint64_t kWindowCalls = (uint64_t)(3.0 * kHostRate / kCallSize);
constexpr uint64_t kTailStartCalls = (uint64_t)(4.0 * kHostRate / kCallSize);

void impulseRun(benchmark::State& state, bool tail, KernelPath path) {
    float controls[PortCount] = {};
    setTailControls(controls);
    clearKernelPathOverride();
    BenchHost host(controls);
    host.settle(false);
    memset(host.input, 0, sizeof host.input);
    host.input[0] = 1.0f;
    host.run();
    host.input[0] = 0.0f;
    if (tail) {
        for (uint64_t call = 1; call < kTailStartCalls; ++call) host.run();
    }
    PathScope scope(path);
    for (auto _ : state) {
        host.run();
        benchmark::DoNotOptimize(host.left[0]);
    }
    countSamples(state, kCallSize);
}

// The control stage alone (run with no samples) when the given ports change
// on every call, between their default and a nearby value.
void controlStageRun(benchmark::State& state, uint32_t firstPort, uint32_t lastPort) {
    static const BenchConfig config = {"controls", setDefaultControls};
    BenchHost& host = warmHost(config);
    float settings[2][PortCount] = {};
    setDefaultControls(settings[0]);
    setAutomationAlternative(settings[1]);
    uint32_t call = 0;
    for (auto _ : state) {
        const float* values = settings[++call % 2];
        for (uint32_t port = firstPort; port <= lastPort; ++port) host.controls[port] = values[port];
        host.run(0);
    }
    // Back to the settings the other benchmarks expect.
    memcpy(host.controls, settings[0], sizeof host.controls);
    host.run(0);
}

// The stages of the block loop on their own, 16 samples at a time, on the
// state of a settled instance: the unit bank with the given filter type,
// the diffusers and the output mix.
void unitBankRun(benchmark::State& state, FilterType filterType, KernelPath path) {
    BenchHost& host = warmHost(kSteadyConfigs[1]);
    UnitBank& bank = host.instance().engine->bank;
    const FilterType savedType = bank.filterType;
    bank.filterType = filterType;
    float in[kBlockLength], left[kBlockLength], right[kBlockLength];
    for (auto _ : state) {
        fillNoise(in, kBlockLength);
        processUnitRange(bank, 0, bank.unitCount, 1, in, left, right, kBlockLength, path);
        benchmark::DoNotOptimize(left[0]);
    }
    bank.filterType = savedType;
    countSamples(state, kBlockLength);
}

void diffuserRun(benchmark::State& state) {
    BenchHost& host = warmHost(kSteadyConfigs[1]);
    float in[kBlockLength], out[kBlockLength];
    for (auto _ : state) {
        fillNoise(in, kBlockLength);
        runDiffuserChain(*host.instance().engine, in, out, kBlockLength);
        benchmark::DoNotOptimize(out[0]);
    }
    countSamples(state, kBlockLength);
}

void mixRun(benchmark::State& state) {
    BenchHost& host = warmHost(kSteadyConfigs[1]);
    float dry[kBlockLength], left[kBlockLength], right[kBlockLength];
    fillNoise(dry, kBlockLength);
    for (auto _ : state) {
        fillNoise(left, kBlockLength);
        fillNoise(right, kBlockLength);
        mixOutputs(*host.instance().engine, dry, left, right, kBlockLength);
        benchmark::DoNotOptimize(left[0]);
    }
    countSamples(state, kBlockLength);
}

std::vector<KernelPath> benchPaths() {
    std::vector<KernelPath> paths;
    for (KernelPath path : kAllPaths)
        if (kernelPathSupported(path)) paths.push_back(path);
    return paths;
}

void registerBenchmarks() {
    const std::vector<KernelPath> paths = benchPaths();
    for (const BenchConfig& config : kSteadyConfigs)
        for (KernelPath path : paths)
            benchmark::RegisterBenchmark((std::string("plugin/") + config.name + "/" + kernelPathName(path)).c_str(),
                                         steadyRun, &config, path);
    for (KernelPath path : paths)
        benchmark::RegisterBenchmark((std::string("plugin/automation/") + kernelPathName(path)).c_str(),
                                     automationRun, path);
    for (KernelPath path : paths)
        benchmark::RegisterBenchmark((std::string("plugin/resize/") + kernelPathName(path)).c_str(), resizeRun,
                                     path);
    benchmark::RegisterBenchmark("calls/256", callSizeRun, 256u, 0u);
    benchmark::RegisterBenchmark("calls/256-offgrid", callSizeRun, 256u, 7u);
    benchmark::RegisterBenchmark("calls/100", callSizeRun, 100u, 0u);
    benchmark::RegisterBenchmark("calls/1", callSizeRun, 1u, 0u);
    benchmark::RegisterBenchmark("recovery/calls16", recoveryRun)->Iterations(1)->Unit(benchmark::kMillisecond);
    for (KernelPath path : paths) {
        benchmark::RegisterBenchmark((std::string("plugin/attack/") + kernelPathName(path)).c_str(), impulseRun,
                                     false, path)
            ->Iterations(kWindowCalls);
        benchmark::RegisterBenchmark((std::string("plugin/tail/") + kernelPathName(path)).c_str(), impulseRun,
                                     true, path)
            ->Iterations(kWindowCalls);
    }
    for (uint32_t port = PortUnitCount; port <= PortSizeCurve; ++port)
        benchmark::RegisterBenchmark(("controls/port" + std::to_string(port)).c_str(), controlStageRun, port, port)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("controls/ports6-10", controlStageRun, (uint32_t)PortUnitCount,
                                 (uint32_t)PortSizeCurve)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("controls/all", controlStageRun, (uint32_t)PortMix, (uint32_t)PortModRateLast)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("controls/none", controlStageRun, 1u, 0u);
    for (FilterType type : {FilterQuarterLevel, FilterLowPass4, FilterBandPassCascade})
        for (KernelPath path : paths)
            benchmark::RegisterBenchmark(
                ("stage/units_type" + std::to_string(type) + "/" + kernelPathName(path)).c_str(), unitBankRun, type,
                path);
    benchmark::RegisterBenchmark("stage/diffusers", diffuserRun);
    benchmark::RegisterBenchmark("stage/mix", mixRun);
    registerStereoBenchmarks();
}

// The console output, then a table of the medians (or the single runs)
// with the oracle-to-fast ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            const std::string name = run.run_name.function_name;
            if (!median && medianSeen_.count(name)) continue;
            if (median) medianSeen_[name] = true;
            for (const char* key : {"p99_over_steady_p99", "max_over_steady_max"}) {
                const auto found = run.counters.find(key);
                if (found != run.counters.end()) recovery_[key] = found->second.value;
            }
            const auto counter = run.counters.find("ns_per_sample");
            if (counter != run.counters.end()) nsPerSample_[name] = counter->second.value * 1e9;
            timeUs_[name] = run.GetAdjustedCPUTime() * (run.time_unit == benchmark::kMicrosecond ? 1.0 : 1e-3);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const KernelPath fast = activeKernelPath();
        const std::string fastName = kernelPathName(fast);
        printf("\nns per sample (CPU time, medians); fast path here: %s\n", fastName.c_str());
        printf("%-12s %9s", "setting", "oracle");
        for (KernelPath path : benchPaths())
            if (path != KernelPath::Oracle) printf(" %9s", kernelPathName(path));
        printf(" %13s\n", "oracle/fast");
        for (const char* setting : {"light", "default", "heavy", "largest", "large", "resize", "automation", "attack", "tail"}) {
            const std::string base = std::string("plugin/") + setting + "/";
            if (!nsPerSample_.count(base + "oracle")) continue;
            printf("%-12s %9.1f", setting, nsPerSample_[base + "oracle"]);
            for (KernelPath path : benchPaths())
                if (path != KernelPath::Oracle) printf(" %9.1f", nsPerSample_[base + kernelPathName(path)]);
            printf(" %12.2fx\n", nsPerSample_[base + "oracle"] / nsPerSample_[base + fastName]);
        }
        const auto ratio = [&](const char* a, const char* b, const char* label) {
            const std::string x = std::string("plugin/") + a + "/" + fastName;
            const std::string y = std::string("plugin/") + b + "/" + fastName;
            if (nsPerSample_.count(x) && nsPerSample_.count(y))
                printf("%s: %.2f\n", label, nsPerSample_[x] / nsPerSample_[y]);
        };
        ratio("automation", "default", "automation / default steady, fast path");
        ratio("tail", "attack", "tail / attack, fast path");
        ratio("largest", "default", "largest / default, fast path");
        ratio("resize", "large", "ports 6-10 every call / steady, large banks, fast path");
        for (const char* calls : {"calls/256-offgrid", "calls/100", "calls/1"})
            if (nsPerSample_.count(calls) && nsPerSample_.count("calls/256"))
                printf("%s / calls/256: %.2f\n", calls, nsPerSample_[calls] / nsPerSample_["calls/256"]);
        for (const auto& entry : recovery_) printf("recovery, 16-sample calls, %s: %.2f\n", entry.first.c_str(), entry.second);
        for (const auto& entry : timeUs_)
            if (entry.first.rfind("controls/", 0) == 0)
                printf("%-22s %9.2f us per call\n", entry.first.c_str(), entry.second);
        for (const auto& entry : nsPerSample_)
            if (entry.first.rfind("stage/", 0) == 0)
                printf("%-22s %9.2f ns per sample\n", entry.first.c_str(), entry.second);
        // The companion per second of audio (its name ends in the host
        // rate), against the mono-input plug-in at 48 kHz.
        const std::string mono = std::string("plugin/default/") + fastName;
        for (const auto& entry : nsPerSample_) {
            if (entry.first.rfind("stereo/", 0) != 0) continue;
            const double rate = atof(entry.first.substr(entry.first.rfind('/') + 1).c_str());
            printf("%-22s %9.2f ns per sample, %6.2f ms per second of audio", entry.first.c_str(), entry.second,
                   entry.second * rate * 1e-6);
            if (nsPerSample_.count(mono))
                printf(", %.2fx the mono-input plug-in's second at 48 kHz", entry.second * rate / (nsPerSample_[mono] * 48000.0));
            printf("\n");
        }
    }

private:
    std::map<std::string, bool> medianSeen_;
    std::map<std::string, double> nsPerSample_;
    std::map<std::string, double> timeUs_;
    std::map<std::string, double> recovery_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerBenchmarks();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
