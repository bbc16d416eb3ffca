// Constants of the C library's single-precision log10 as it computes it on x86-64 glibc:
// a float wrapper (split exponent, log of the mantissa, two-part log10(2)) around a
// table-driven natural logarithm evaluated in double precision.
//
// The 16-entry table and the polynomial below are the public logf data published in Arm's
// optimized-routines project (MIT OR Apache-2.0 WITH LLVM-exception), which glibc also ships;
// see NOTICE. Every vector path reproduces the steps in log10f_reference() in the same order,
// so a change here must change all of them.
#pragma once

#include <bit>
#include <cstdint>

namespace zentrova::numeric::log10f_data {

// A bit pattern needs the library (x <= 0, subnormal, infinite or NaN) when
// hx - 0x00800000 >= 0x7f000000 as unsigned 32-bit numbers.
inline constexpr std::uint32_t kNormalMin = 0x00800000u;
inline constexpr std::uint32_t kNormalSpan = 0x7f000000u;

// The wrapper, in float.
inline constexpr float kInvLn10 = 4.3429449201e-01f;
inline constexpr float kLog10_2Hi = 3.0102920532e-01f;
inline constexpr float kLog10_2Lo = 7.9034151668e-07f;

// The natural-log core, in double.
inline constexpr std::uint32_t kTableOffset = 0x3f330000u;
inline constexpr double kLn2 = 0x1.62e42fefa39efp-1;
inline constexpr double kA0 = -0x1.00ea348b88334p-2;
inline constexpr double kA1 = 0x1.5575b0be00b6ap-2;
inline constexpr double kA2 = -0x1.ffffef20a4123p-2;

// 1/c and log(c) for the 16 subintervals (table from Arm optimized-routines, see NOTICE).
alignas(64) inline constexpr double kInvC[16] = {
    0x1.661ec79f8f3bep+0, 0x1.571ed4aaf883dp+0, 0x1.49539f0f010bp+0,  0x1.3c995b0b80385p+0,
    0x1.30d190c8864a5p+0, 0x1.25e227b0b8eap+0,  0x1.1bb4a4a1a343fp+0, 0x1.12358f08ae5bap+0,
    0x1.0953f419900a7p+0, 0x1p+0,               0x1.e608cfd9a47acp-1, 0x1.ca4b31f026aap-1,
    0x1.b2036576afce6p-1, 0x1.9c2d163a1aa2dp-1, 0x1.886e6037841edp-1, 0x1.767dcf5534862p-1,
};
alignas(64) inline constexpr double kLogC[16] = {
    -0x1.57bf7808caadep-2, -0x1.2bef0a7c06ddbp-2, -0x1.01eae7f513a67p-2, -0x1.b31d8a68224e9p-3,
    -0x1.6574f0ac07758p-3, -0x1.1aa2bc79c81p-3,   -0x1.a4e76ce8c0e5ep-4, -0x1.1973c5a611cccp-4,
    -0x1.252f438e10c1ep-5, 0x0p+0,                0x1.aa5aa5df25984p-5,  0x1.c5e53aa362eb4p-4,
    0x1.526e57720db08p-3,  0x1.bc2860d22477p-3,   0x1.1058bc8a07ee1p-2,  0x1.4043057b6ee09p-2,
};

inline constexpr bool needs_library(std::uint32_t hx) noexcept { return hx - kNormalMin >= kNormalSpan; }

// The natural log of m (a float in [0.5, 2)) before its final rounding to float. Exposed so
// that tools can see how close each result lies to a rounding boundary.
inline double log_core(std::uint32_t ix) noexcept {
    const std::uint32_t tmp = ix - kTableOffset;
    const std::uint32_t j = (tmp >> 19) % 16;
    const std::int32_t kk = static_cast<std::int32_t>(tmp) >> 23;
    const std::uint32_t iz = ix - (tmp & 0xff800000u);
    const double z = static_cast<double>(std::bit_cast<float>(iz));
    const double r = z * kInvC[j] - 1.0;
    const double y0 = static_cast<double>(kk) * kLn2 + kLogC[j];
    const double r2 = r * r;
    double p = kA1 * r + kA2;
    p = kA0 * r2 + p;
    p = p * r2 + (y0 + r);
    return p;
}

// x's exponent split so that the mantissa part m lies in [1, 2) for x >= 1 and in [0.5, 1)
// below: returns m's bits and sets e to the float exponent that goes with it.
inline std::uint32_t split_exponent(std::uint32_t hx, float& e) noexcept {
    const std::int32_t k = static_cast<std::int32_t>(hx >> 23) - 127;
    const std::int32_t below_one = k < 0 ? 1 : 0;
    e = static_cast<float>(k + below_one);
    return (hx & 0x007fffffu) | (static_cast<std::uint32_t>(127 - below_one) << 23);
}

// The whole computation for one positive normal finite float, one rounding per operation.
// Compiled with -ffp-contract=off like the rest of the build.
inline float log10f_reference(float x) noexcept {
    float e = 0.0f;
    const std::uint32_t m = split_exponent(std::bit_cast<std::uint32_t>(x), e);
    const float log_m = static_cast<float>(log_core(m));
    return ((kInvLn10 * log_m) + (e * kLog10_2Lo)) + (e * kLog10_2Hi);
}

}  // namespace zentrova::numeric::log10f_data
