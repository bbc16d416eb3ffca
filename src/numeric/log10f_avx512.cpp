// The 16-lane AVX-512 path: the two halves of the 16-entry tables sit in two registers and a
// two-source permute does the lookup. Needs AVX-512F only; compiled through function
// attributes and chosen at run time.
#include "numeric/cpu_features.hpp"

#if defined(ZENTROVA_X86_SIMD)

#include <immintrin.h>

// GCC 12's intrinsic headers start results from a self-initialised "undefined" register,
// which -Wmaybe-uninitialized reports wherever they are inlined; nothing here is read uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include <cstdint>
#include <cstring>

#include "numeric/log10f_kernels.hpp"
#include "numeric/log10f_table.hpp"

#define ZENTROVA_AVX512 __attribute__((target("avx512f")))

namespace zentrova::numeric::detail {
namespace {

namespace d = log10f_data;

struct Tables {
    __m512d invc_lo, invc_hi, logc_lo, logc_hi;
};

// log(m) for eight lanes before rounding to float, as in log10f_data::log_core.
ZENTROVA_AVX512 inline __m512d log_core8(const Tables& t, __m256 zf, __m256i kk, __m256i j) noexcept {
    const __m512i index = _mm512_cvtepu32_epi64(j);
    const __m512d z = _mm512_cvtps_pd(zf);
    const __m512d invc = _mm512_permutex2var_pd(t.invc_lo, index, t.invc_hi);
    const __m512d logc = _mm512_permutex2var_pd(t.logc_lo, index, t.logc_hi);
    const __m512d r = _mm512_sub_pd(_mm512_mul_pd(z, invc), _mm512_set1_pd(1.0));
    const __m512d y0 = _mm512_add_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(kk), _mm512_set1_pd(d::kLn2)), logc);
    const __m512d r2 = _mm512_mul_pd(r, r);
    __m512d p = _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(d::kA1), r), _mm512_set1_pd(d::kA2));
    p = _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(d::kA0), r2), p);
    return _mm512_add_pd(_mm512_mul_pd(p, r2), _mm512_add_pd(y0, r));
}

ZENTROVA_AVX512 inline __m256 upper_half(__m512 v) noexcept {
    return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}

ZENTROVA_AVX512 inline void block16(const Tables& t, const float* src, float* dst) noexcept {
    const __m512i hx = _mm512_loadu_si512(src);

    const __m512i k = _mm512_sub_epi32(_mm512_srli_epi32(hx, 23), _mm512_set1_epi32(127));
    const __m512i below_one = _mm512_srli_epi32(k, 31);
    const __m512i m = _mm512_or_si512(_mm512_and_si512(hx, _mm512_set1_epi32(0x007fffff)),
                                      _mm512_slli_epi32(_mm512_sub_epi32(_mm512_set1_epi32(127), below_one), 23));
    const __m512 e = _mm512_cvtepi32_ps(_mm512_add_epi32(k, below_one));

    const __m512i tmp = _mm512_sub_epi32(m, _mm512_set1_epi32(static_cast<int>(d::kTableOffset)));
    const __m512i j = _mm512_and_si512(_mm512_srli_epi32(tmp, 19), _mm512_set1_epi32(15));
    const __m512i kk = _mm512_srai_epi32(tmp, 23);
    const __m512i iz = _mm512_sub_epi32(m, _mm512_and_si512(tmp, _mm512_set1_epi32(static_cast<int>(0xff800000u))));
    const __m512 zf = _mm512_castsi512_ps(iz);

    const __m512d p_lo =
        log_core8(t, _mm512_castps512_ps256(zf), _mm512_castsi512_si256(kk), _mm512_castsi512_si256(j));
    const __m512d p_hi =
        log_core8(t, upper_half(zf), _mm512_extracti64x4_epi64(kk, 1), _mm512_extracti64x4_epi64(j, 1));
    const __m512 log_m = _mm512_castpd_ps(_mm512_insertf64x4(
        _mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(p_lo))), _mm256_castps_pd(_mm512_cvtpd_ps(p_hi)), 1));

    const __m512 result = _mm512_add_ps(
        _mm512_add_ps(_mm512_mul_ps(_mm512_set1_ps(d::kInvLn10), log_m), _mm512_mul_ps(e, _mm512_set1_ps(d::kLog10_2Lo))),
        _mm512_mul_ps(e, _mm512_set1_ps(d::kLog10_2Hi)));

    const __mmask16 special =
        _mm512_cmpge_epu32_mask(_mm512_sub_epi32(hx, _mm512_set1_epi32(static_cast<int>(d::kNormalMin))),
                                _mm512_set1_epi32(static_cast<int>(d::kNormalSpan)));
    if (special == 0) {
        _mm512_storeu_ps(dst, result);
        return;
    }
    alignas(64) float x[16];
    _mm512_store_si512(x, hx);
    _mm512_storeu_ps(dst, result);
    patch_from_library(x, dst, static_cast<unsigned>(special));
}

}  // namespace

ZENTROVA_AVX512 void log10f_avx512(const float* in, float* out, std::size_t n) noexcept {
    const Tables t{_mm512_load_pd(d::kInvC), _mm512_load_pd(d::kInvC + 8), _mm512_load_pd(d::kLogC),
                   _mm512_load_pd(d::kLogC + 8)};
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) block16(t, in + i, out + i);
    if (i < n) {
        // The last, partial block on a copy padded with 1.0f (an ordinary input).
        alignas(64) float buffer[16];
        _mm512_store_ps(buffer, _mm512_set1_ps(1.0f));
        std::memcpy(buffer, in + i, (n - i) * sizeof(float));
        block16(t, buffer, buffer);
        std::memcpy(out + i, buffer, (n - i) * sizeof(float));
    }
}

}  // namespace zentrova::numeric::detail

#endif
