#include "kernels/kernel_path.h"

#include <stdlib.h>
#include <string.h>

namespace {

KernelPath fastestSupportedPath() {
    if (kernelPathSupported(KernelPath::Avx512)) return KernelPath::Avx512;
    if (kernelPathSupported(KernelPath::Avx2)) return KernelPath::Avx2;
    if (kernelPathSupported(KernelPath::Sse2)) return KernelPath::Sse2;
    return KernelPath::Scalar;
}

const KernelPath kAllPaths[] = {KernelPath::Oracle, KernelPath::Scalar, KernelPath::Sse2, KernelPath::Avx2,
                                KernelPath::Avx512};

KernelPathChoice loadTimeChoice = {KernelPath::Scalar, nullptr, true};
KernelPath activePath = KernelPath::Scalar;

// Chosen when the library loads, so that run never asks the CPU.
__attribute__((constructor)) void chooseKernelPathAtLoad() {
    loadTimeChoice = chooseKernelPath(getenv(kKernelPathVariable));
    activePath = loadTimeChoice.path;
}

}  // namespace

KernelPathChoice chooseKernelPath(const char* requested) {
    KernelPathChoice choice = {fastestSupportedPath(), nullptr, true};
    if (requested == nullptr || requested[0] == '\0') return choice;
    choice.requested = requested;
    choice.honoured = false;
    for (KernelPath path : kAllPaths) {
        if (strcmp(requested, kernelPathName(path)) == 0 && kernelPathSupported(path)) {
            choice.path = path;
            choice.honoured = true;
        }
    }
    return choice;
}

bool kernelPathSupported(KernelPath path) {
    switch (path) {
        case KernelPath::Oracle:
        case KernelPath::Scalar:
            return true;
#if defined(__x86_64__)
        case KernelPath::Sse2:
            return true;  // part of the x86-64 baseline
        case KernelPath::Avx2:
            // Also checks that the OS saves the wider registers.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case KernelPath::Avx512:
            // The kernel also uses the VL, DQ and BW extensions (every AVX-512
            // CPU but Xeon Phi has them).
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
#endif
        default:
            return false;
    }
}

KernelPath activeKernelPath() { return activePath; }

void overrideKernelPath(KernelPath path) { activePath = kernelPathSupported(path) ? path : KernelPath::Scalar; }

void clearKernelPathOverride() { activePath = loadTimeChoice.path; }

KernelPathChoice kernelPathChoice() { return loadTimeChoice; }

const char* kernelPathName(KernelPath path) {
    switch (path) {
        case KernelPath::Oracle: return "oracle";
        case KernelPath::Scalar: return "scalar";
        case KernelPath::Sse2: return "sse2";
        case KernelPath::Avx2: return "avx2";
        case KernelPath::Avx512: return "avx512";
    }
    return "?";
}
