// The log10f kernels of each path and the scalar pieces they share. Internal to
// src/numeric: callers go through log10f.hpp, which checks a path before using it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>

#include "numeric/cpu_features.hpp"

namespace zentrova::numeric::detail {

void log10f_library(const float* in, float* out, std::size_t n) noexcept;
#if defined(ZENTROVA_X86_SIMD)
void log10f_sse2(const float* in, float* out, std::size_t n) noexcept;
void log10f_avx2(const float* in, float* out, std::size_t n) noexcept;
void log10f_avx512(const float* in, float* out, std::size_t n) noexcept;
#endif

// Lanes whose inputs the vector formula does not cover (bit b of mask set) get the library's
// value. x holds the block's inputs as read, since dst may be the input array itself.
inline void patch_from_library(const float* x, float* dst, unsigned mask) noexcept {
    while (mask != 0) {
        const int lane = __builtin_ctz(mask);
        dst[lane] = ::log10f(x[lane]);
        mask &= mask - 1;
    }
}

// The last, partial block is run on a copy padded with 1.0f (an ordinary input).
template <std::size_t Width, typename Block>
inline void run_tail(const float* in, float* out, std::size_t count, Block block) noexcept {
    float buffer[Width];
    for (std::size_t i = 0; i < Width; ++i) buffer[i] = 1.0f;
    std::memcpy(buffer, in, count * sizeof(float));
    block(buffer, buffer);
    std::memcpy(out, buffer, count * sizeof(float));
}

}  // namespace zentrova::numeric::detail
