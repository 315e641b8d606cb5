// Which implementation of the unit bank runs. Every path gives the same
// output bits; they differ only in speed and in the instructions they need.
#pragma once

#include <stdint.h>

enum class KernelPath : uint8_t {
    // Every unit and sample through the full per-sample procedure: the
    // reference the other paths are checked against.
    Oracle,
    // One unit at a time; blocks without events skip the per-sample tests.
    // The portable path.
    Scalar,
    // Units in quiet blocks run 4 (SSE2) or 8 (AVX2, AVX-512 with its VL
    // extension) to a vector; the rest as Scalar.
    Sse2,
    Avx2,
    Avx512,
};

// True when this build has the path and this CPU can run it.
bool kernelPathSupported(KernelPath path);

// The environment variable that names a path (oracle, scalar, sse2, avx2 or
// avx512), read once when the library loads, so that any path can be timed
// and checked through a real host.
constexpr const char* kKernelPathVariable = "ZT_KERNEL_PATH";

// The load-time choice: the path, the variable's value (null when unset or
// empty) and whether it was taken (false for an unknown name or a path this
// CPU lacks, which falls back to the fastest supported one).
struct KernelPathChoice {
    KernelPath path;
    const char* requested;
    bool honoured;
};
KernelPathChoice kernelPathChoice();

// The choice for a value of the variable (null when unset): the path it
// names when this CPU has it, else the fastest supported one.
KernelPathChoice chooseKernelPath(const char* requested);

// The path processUnits and processAlternateUnits take: the load-time
// choice, unless overridden.
KernelPath activeKernelPath();

// For tests and benchmarks only: makes every instance in the process take
// `path` (an unsupported one falls back to Scalar). Must not race with run.
void overrideKernelPath(KernelPath path);
// Back to the load-time choice.
void clearKernelPathOverride();

const char* kernelPathName(KernelPath path);
