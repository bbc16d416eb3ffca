// The 8-lane AVX2 path (table lookups by in-register permutes). Compiled for AVX2 through function
// attributes only, so the rest of the build keeps its baseline; chosen at run time.
#include "numeric/cpu_features.hpp"

#if defined(ZENTROVA_X86_SIMD)

#include <immintrin.h>

// GCC 12's intrinsic headers start results from a self-initialised "undefined" register,
// which -Wmaybe-uninitialized reports wherever they are inlined; nothing here is read uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include <bit>
#include <cstdint>

#include "numeric/log10f_kernels.hpp"
#include "numeric/log10f_table.hpp"

#define ZENTROVA_AVX2 __attribute__((target("avx2")))

namespace zentrova::numeric::detail {
namespace {

namespace d = log10f_data;

// A 16-entry table of doubles as the low and the high 32-bit halves of each
// entry, eight halves to a register: looked up by in-register permutes, which
// measured faster than a gather.
struct SplitTable {
    alignas(32) std::uint32_t low[16];
    alignas(32) std::uint32_t high[16];
};

constexpr SplitTable split(const double (&table)[16]) noexcept {
    SplitTable halves{};
    for (int i = 0; i < 16; ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(table[i]);
        halves.low[i] = static_cast<std::uint32_t>(bits);
        halves.high[i] = static_cast<std::uint32_t>(bits >> 32);
    }
    return halves;
}

constexpr SplitTable kInvCHalves = split(d::kInvC);
constexpr SplitTable kLogCHalves = split(d::kLogC);

// The entries of eight lanes: j's low three bits pick within a half of the
// table, `upper` (j's fourth bit in the sign) which half. The doubles come out
// for lanes 0, 1, 4, 5 in `first` and 2, 3, 6, 7 in `second`, the order the
// 32-bit unpacks give.
ZENTROVA_AVX2 inline __m256 pick(const std::uint32_t* eight, __m256i j) noexcept {
    return _mm256_permutevar8x32_ps(_mm256_load_ps(reinterpret_cast<const float*>(eight)), j);
}

ZENTROVA_AVX2 inline void lookup(const SplitTable& table, __m256i j, __m256 upper, __m256d& first,
                                 __m256d& second) noexcept {
    const __m256 low = _mm256_blendv_ps(pick(table.low, j), pick(table.low + 8, j), upper);
    const __m256 high = _mm256_blendv_ps(pick(table.high, j), pick(table.high + 8, j), upper);
    first = _mm256_castps_pd(_mm256_unpacklo_ps(low, high));
    second = _mm256_castps_pd(_mm256_unpackhi_ps(low, high));
}

// log(m) for four lanes before rounding to float, as in log10f_data::log_core.
ZENTROVA_AVX2 inline __m256d log_core4(__m128 zf, __m128i kk, __m256d invc, __m256d logc) noexcept {
    const __m256d z = _mm256_cvtps_pd(zf);
    const __m256d r = _mm256_sub_pd(_mm256_mul_pd(z, invc), _mm256_set1_pd(1.0));
    const __m256d y0 = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(kk), _mm256_set1_pd(d::kLn2)), logc);
    const __m256d r2 = _mm256_mul_pd(r, r);
    __m256d p = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(d::kA1), r), _mm256_set1_pd(d::kA2));
    p = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(d::kA0), r2), p);
    return _mm256_add_pd(_mm256_mul_pd(p, r2), _mm256_add_pd(y0, r));
}

ZENTROVA_AVX2 inline void block8(const float* src, float* dst) noexcept {
    const __m256i hx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));

    const __m256i k = _mm256_sub_epi32(_mm256_srli_epi32(hx, 23), _mm256_set1_epi32(127));
    const __m256i below_one = _mm256_srli_epi32(k, 31);
    const __m256i m = _mm256_or_si256(_mm256_and_si256(hx, _mm256_set1_epi32(0x007fffff)),
                                      _mm256_slli_epi32(_mm256_sub_epi32(_mm256_set1_epi32(127), below_one), 23));
    const __m256 e = _mm256_cvtepi32_ps(_mm256_add_epi32(k, below_one));

    const __m256i tmp = _mm256_sub_epi32(m, _mm256_set1_epi32(static_cast<int>(d::kTableOffset)));
    const __m256i j = _mm256_srli_epi32(tmp, 19);                          // (tmp >> 19) % 8 picks in a half
    const __m256 upper = _mm256_castsi256_ps(_mm256_slli_epi32(tmp, 9));  // bit 22: the upper half
    const __m256i iz = _mm256_sub_epi32(m, _mm256_and_si256(tmp, _mm256_set1_epi32(static_cast<int>(0xff800000u))));
    // kk and z in the lookup's lane order: 0, 1, 4, 5 in the low half, 2, 3, 6, 7 in the high one.
    const __m256i kk = _mm256_permute4x64_epi64(_mm256_srai_epi32(tmp, 23), 0xD8);
    const __m256 zf = _mm256_castsi256_ps(_mm256_permute4x64_epi64(iz, 0xD8));

    __m256d invc_first, invc_second, logc_first, logc_second;
    lookup(kInvCHalves, j, upper, invc_first, invc_second);
    lookup(kLogCHalves, j, upper, logc_first, logc_second);
    const __m256d p_first =
        log_core4(_mm256_castps256_ps128(zf), _mm256_castsi256_si128(kk), invc_first, logc_first);
    const __m256d p_second =
        log_core4(_mm256_extractf128_ps(zf, 1), _mm256_extracti128_si256(kk, 1), invc_second, logc_second);
    // Back to lane order 0 to 7.
    const __m256 log_m = _mm256_castpd_ps(_mm256_permute4x64_pd(
        _mm256_castps_pd(_mm256_set_m128(_mm256_cvtpd_ps(p_second), _mm256_cvtpd_ps(p_first))), 0xD8));

    const __m256 result = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(d::kInvLn10), log_m), _mm256_mul_ps(e, _mm256_set1_ps(d::kLog10_2Lo))),
        _mm256_mul_ps(e, _mm256_set1_ps(d::kLog10_2Hi)));

    // needs_library as a signed comparison: flipping the top bit turns unsigned order into signed.
    const __m256i shifted = _mm256_xor_si256(_mm256_sub_epi32(hx, _mm256_set1_epi32(static_cast<int>(d::kNormalMin))),
                                             _mm256_set1_epi32(static_cast<int>(0x80000000u)));
    const __m256i special =
        _mm256_cmpgt_epi32(shifted, _mm256_set1_epi32(static_cast<int>((d::kNormalSpan ^ 0x80000000u) - 1u)));
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(special)));
    if (mask == 0) {
        _mm256_storeu_ps(dst, result);
        return;
    }
    alignas(32) float x[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(x), hx);
    _mm256_storeu_ps(dst, result);
    patch_from_library(x, dst, mask);
}

}  // namespace

ZENTROVA_AVX2 void log10f_avx2(const float* in, float* out, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) block8(in + i, out + i);
    if (i < n) run_tail<8>(in + i, out + i, n - i, block8);
}

}  // namespace zentrova::numeric::detail

#endif
