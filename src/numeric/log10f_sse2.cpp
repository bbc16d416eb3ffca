// The 4-lane path: SSE2 only, so every x86-64 CPU runs it. The double-precision core works
// on two lanes at a time.
#include "numeric/cpu_features.hpp"

#if defined(ZENTROVA_X86_SIMD)

#include <emmintrin.h>

#include <cstdint>

#include "numeric/log10f_kernels.hpp"
#include "numeric/log10f_table.hpp"

namespace zentrova::numeric::detail {
namespace {

namespace d = log10f_data;

// log(m) for two lanes, before rounding to float: z, kk and the table index as in
// log10f_data::log_core.
inline __m128d log_core2(__m128d z, __m128d kk, std::uint32_t j0, std::uint32_t j1) noexcept {
    const __m128d invc = _mm_set_pd(d::kInvC[j1], d::kInvC[j0]);
    const __m128d logc = _mm_set_pd(d::kLogC[j1], d::kLogC[j0]);
    const __m128d r = _mm_sub_pd(_mm_mul_pd(z, invc), _mm_set1_pd(1.0));
    const __m128d y0 = _mm_add_pd(_mm_mul_pd(kk, _mm_set1_pd(d::kLn2)), logc);
    const __m128d r2 = _mm_mul_pd(r, r);
    __m128d p = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(d::kA1), r), _mm_set1_pd(d::kA2));
    p = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(d::kA0), r2), p);
    return _mm_add_pd(_mm_mul_pd(p, r2), _mm_add_pd(y0, r));
}

inline void block4(const float* src, float* dst) noexcept {
    const __m128i hx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));

    // Exponent split: m in [1, 2) for x >= 1, in [0.5, 1) below.
    const __m128i k = _mm_sub_epi32(_mm_srli_epi32(hx, 23), _mm_set1_epi32(127));
    const __m128i below_one = _mm_srli_epi32(k, 31);
    const __m128i m = _mm_or_si128(_mm_and_si128(hx, _mm_set1_epi32(0x007fffff)),
                                   _mm_slli_epi32(_mm_sub_epi32(_mm_set1_epi32(127), below_one), 23));
    const __m128 e = _mm_cvtepi32_ps(_mm_add_epi32(k, below_one));

    const __m128i tmp = _mm_sub_epi32(m, _mm_set1_epi32(static_cast<int>(d::kTableOffset)));
    const __m128i j = _mm_and_si128(_mm_srli_epi32(tmp, 19), _mm_set1_epi32(15));
    const __m128i kk = _mm_srai_epi32(tmp, 23);
    const __m128i iz = _mm_sub_epi32(m, _mm_and_si128(tmp, _mm_set1_epi32(static_cast<int>(0xff800000u))));
    const __m128 zf = _mm_castsi128_ps(iz);

    alignas(16) std::uint32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), j);
    const __m128d p_lo = log_core2(_mm_cvtps_pd(zf), _mm_cvtepi32_pd(kk), index[0], index[1]);
    const __m128d p_hi = log_core2(_mm_cvtps_pd(_mm_movehl_ps(zf, zf)),
                                   _mm_cvtepi32_pd(_mm_shuffle_epi32(kk, _MM_SHUFFLE(3, 2, 3, 2))), index[2], index[3]);
    const __m128 log_m = _mm_movelh_ps(_mm_cvtpd_ps(p_lo), _mm_cvtpd_ps(p_hi));

    const __m128 result =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(d::kInvLn10), log_m), _mm_mul_ps(e, _mm_set1_ps(d::kLog10_2Lo))),
                   _mm_mul_ps(e, _mm_set1_ps(d::kLog10_2Hi)));

    // needs_library as a signed comparison: flipping the top bit turns unsigned order into signed.
    const __m128i shifted = _mm_xor_si128(_mm_sub_epi32(hx, _mm_set1_epi32(static_cast<int>(d::kNormalMin))),
                                          _mm_set1_epi32(static_cast<int>(0x80000000u)));
    const __m128i special = _mm_cmpgt_epi32(shifted, _mm_set1_epi32(static_cast<int>((d::kNormalSpan ^ 0x80000000u) - 1u)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(special)));
    if (mask == 0) {
        _mm_storeu_ps(dst, result);
        return;
    }
    alignas(16) float x[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(x), hx);
    _mm_storeu_ps(dst, result);
    patch_from_library(x, dst, mask);
}

}  // namespace

void log10f_sse2(const float* in, float* out, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) block4(in + i, out + i);
    if (i < n) run_tail<4>(in + i, out + i, n - i, block4);
}

}  // namespace zentrova::numeric::detail

#endif
