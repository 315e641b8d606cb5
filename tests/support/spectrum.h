// A radix-2 FFT in double precision for the tests' spectral measures.
#pragma once

#include <math.h>
#include <stddef.h>

#include <complex>
#include <utility>
#include <vector>

// In place; the length must be a power of two.
inline void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        for (size_t k = 0; k < len / 2; ++k) {
            const std::complex<double> w = std::polar(1.0, -2 * M_PI * static_cast<double>(k) / static_cast<double>(len));
            for (size_t i = 0; i < n; i += len) {
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}
