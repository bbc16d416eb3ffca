#include "numeric/exact_sum.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "numeric/vector_paths.hpp"

#if defined(ZENTROVA_X86_SIMD)
#include <immintrin.h>
#endif

namespace zentrova::numeric {
namespace {

template <std::size_t N>
using Limbs = std::array<std::uint64_t, N>;

template <std::size_t N>
void add_limbs(Limbs<N>& a, const Limbs<N>& b) noexcept {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const std::uint64_t s = a[i] + b[i];
        const std::uint64_t c1 = s < a[i];
        a[i] = s + carry;
        carry = c1 | (a[i] < s);
    }
}

template <std::size_t N>
void subtract_limbs(Limbs<N>& a, const Limbs<N>& b) noexcept {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const std::uint64_t d = a[i] - b[i];
        const std::uint64_t b1 = a[i] < b[i];
        a[i] = d - borrow;
        borrow = b1 | (d < borrow);
    }
}

template <std::size_t N>
void negate(Limbs<N>& a) noexcept {
    std::uint64_t carry = 1;
    for (std::size_t i = 0; i < N; ++i) {
        a[i] = ~a[i] + carry;
        carry = carry && a[i] == 0;
    }
}

template <std::size_t N>
bool is_negative(const Limbs<N>& a) noexcept {
    return (a[N - 1] >> 63) != 0;
}

template <std::size_t N>
bool is_zero(const Limbs<N>& a) noexcept {
    return std::all_of(a.begin(), a.end(), [](std::uint64_t limb) { return limb == 0; });
}

// a += (or -=) the len-limb magnitude m shifted left by shift bits; bits
// shifted past the top are dropped (callers keep values in range).
template <std::size_t N>
void add_shifted(Limbs<N>& a, const std::uint64_t* m, std::size_t len, unsigned shift, bool subtract) noexcept {
    Limbs<N> t{};
    const std::size_t whole = shift / 64;
    const unsigned part = shift % 64;
    for (std::size_t i = 0; i < len; ++i) {
        const std::size_t at = i + whole;
        if (at < N) t[at] |= m[i] << part;
        if (part != 0 && at + 1 < N) t[at + 1] |= m[i] >> (64 - part);
    }
    if (subtract)
        subtract_limbs(a, t);
    else
        add_limbs(a, t);
}

// Adds a finite double that is a multiple of 2^kUnitExponent.
template <std::size_t N>
void add_double(Limbs<N>& a, double d, int unit_exponent) noexcept {
    if (d == 0.0) return;
    const auto bits = std::bit_cast<std::uint64_t>(d);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t significand = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = biased - 1075;
    if (biased != 0)
        significand |= std::uint64_t{1} << 52;
    else
        exponent = -1074;
    const int zeros = std::countr_zero(significand);
    significand >>= zeros;
    exponent += zeros;
    add_shifted(a, &significand, 1, static_cast<unsigned>(exponent - unit_exponent), d < 0);
}

template <std::size_t N>
int highest_bit(const Limbs<N>& a) noexcept {
    for (std::size_t i = N; i-- > 0;)
        if (a[i] != 0) return static_cast<int>(i * 64) + 63 - std::countl_zero(a[i]);
    return -1;
}

template <std::size_t N>
bool bit_at(const Limbs<N>& a, int pos) noexcept {
    if (pos < 0) return false;
    return (a[static_cast<std::size_t>(pos) / 64] >> (pos % 64)) & 1u;
}

template <std::size_t N>
bool any_below(const Limbs<N>& a, int pos) noexcept {
    if (pos <= 0) return false;
    const auto limb = static_cast<std::size_t>(pos) / 64;
    for (std::size_t i = 0; i < limb; ++i)
        if (a[i] != 0) return true;
    const unsigned rest = static_cast<unsigned>(pos % 64);
    return rest != 0 && (a[limb] & ((std::uint64_t{1} << rest) - 1)) != 0;
}

// 25 bits or fewer starting at pos (pos >= 0).
template <std::size_t N>
std::uint64_t bits_from(const Limbs<N>& a, int pos) noexcept {
    const auto limb = static_cast<std::size_t>(pos) / 64;
    const unsigned offset = static_cast<unsigned>(pos % 64);
    std::uint64_t v = a[limb] >> offset;
    if (offset != 0 && limb + 1 < N) v |= a[limb + 1] << (64 - offset);
    return v;
}

// The two's complement fixed-point value a * 2^unit_exponent rounded to the
// nearest float, ties to even; beyond the range by half an ulp or more is inf.
template <std::size_t N>
float round_to_float(Limbs<N> a, int unit_exponent) noexcept {
    const bool negative = is_negative(a);
    if (negative) negate(a);
    const int top = highest_bit(a);
    if (top < 0) return 0.0f;
    const std::uint32_t sign = negative ? 0x80000000u : 0u;
    // ulp of the result: 24 significant bits, but never below the subnormal step.
    int ulp = std::max(top + unit_exponent - 23, -149);
    const int at = ulp - unit_exponent;  // callers' units are fine enough that at > 0
    std::uint64_t m = bits_from(a, at) & ((std::uint64_t{1} << 25) - 1);
    if (bit_at(a, at - 1) && ((m & 1u) != 0 || any_below(a, at - 1))) ++m;
    if (m == (std::uint64_t{1} << 24)) {
        m >>= 1;
        ++ulp;
    }
    if (m < (std::uint64_t{1} << 23))  // subnormal (or zero after rounding)
        return std::bit_cast<float>(sign | static_cast<std::uint32_t>(m));
    const int biased = ulp + 23 + 127;
    if (biased >= 255) return std::bit_cast<float>(sign | 0x7F800000u);
    return std::bit_cast<float>(sign | (static_cast<std::uint32_t>(biased) << 23) |
                                static_cast<std::uint32_t>(m & 0x7FFFFFu));
}

ExactSum::Special classify(double special) noexcept {
    if (special == 0.0) return ExactSum::Special::none;
    if (std::isnan(special)) return ExactSum::Special::nan;
    return special > 0 ? ExactSum::Special::plus_infinity : ExactSum::Special::minus_infinity;
}

float special_value(ExactSum::Special s) noexcept {
    switch (s) {
        case ExactSum::Special::plus_infinity: return std::numeric_limits<float>::infinity();
        case ExactSum::Special::minus_infinity: return -std::numeric_limits<float>::infinity();
        default: return std::numeric_limits<float>::quiet_NaN();
    }
}

double special_double(ExactSum::Special s) noexcept {
    switch (s) {
        case ExactSum::Special::none: return 0.0;
        case ExactSum::Special::plus_infinity: return std::numeric_limits<double>::infinity();
        case ExactSum::Special::minus_infinity: return -std::numeric_limits<double>::infinity();
        default: return std::numeric_limits<double>::quiet_NaN();
    }
}

// Terms per bulk chunk: a group's sum over a chunk stays below 2^21 * 2^31 units.
constexpr std::size_t kChunk = std::size_t{1} << 21;
constexpr std::size_t kLanes = 8;
// Slot of a float in the bulk path: its sign and the top five bits of its
// exponent field. Slots 31 and 63 also take infinities and NaN.
constexpr std::size_t kSlots = 64;

struct ChunkSums {
    std::array<double, 32> positive, negative;  // by float group
    double special;
};

// Sums n <= kChunk floats per float group and sign. Eight independent lanes
// keep runs of one group off a single store-to-load dependency chain.
void sum_chunk(const float* x, std::size_t n, ChunkSums& out) noexcept {
    alignas(64) double lanes[kLanes][kSlots] = {};
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
#pragma GCC unroll 8
        for (std::size_t k = 0; k < kLanes; ++k) {
            const float v = x[i + k];
            lanes[k][std::bit_cast<std::uint32_t>(v) >> 26] += static_cast<double>(v);
        }
    }
    for (; i < n; ++i) lanes[0][std::bit_cast<std::uint32_t>(x[i]) >> 26] += static_cast<double>(x[i]);
    std::array<double, kSlots> slots;
    for (std::size_t s = 0; s < kSlots; ++s) {
        double t = 0.0;
        for (std::size_t k = 0; k < kLanes; ++k) t += lanes[k][s];
        slots[s] = t;
    }
    out.special = 0.0;
    // Finite sums of the top group stay below 2^150: a non-finite slot means an
    // infinite or NaN term, so that group is summed again apart from them.
    if (!std::isfinite(slots[31]) || !std::isfinite(slots[63])) {
        slots[31] = slots[63] = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const auto bits = std::bit_cast<std::uint32_t>(x[j]);
            if (((bits >> 26) & 31u) != 31u) continue;
            if (((bits >> 23) & 0xFFu) == 0xFFu)
                out.special += static_cast<double>(x[j]);
            else
                slots[bits >> 26] += static_cast<double>(x[j]);
        }
    }
    std::copy(slots.begin(), slots.begin() + 32, out.positive.begin());
    std::copy(slots.begin() + 32, slots.end(), out.negative.begin());
}

// Rows of a window block: n terms of below 2^42 units each sum below 2^53 units.
constexpr std::size_t kWindowRows = 2048;
// A window spans 19 exponent fields: the upper one the block's largest field
// and the 18 below it, the lower one the 19 fields below those.
constexpr std::uint32_t kWindowFields = 19;

// The exponent fields of a block: the largest (255 when a term is infinite or
// NaN) and the smallest among its nonzero terms (255 when every term is zero).
struct FieldRange {
    std::uint32_t largest, smallest;
};

FieldRange field_range(const float* x, std::size_t n) noexcept {
    std::uint32_t largest = 0, smallest = 0x7F800000u;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(x[k]);
        const std::uint32_t field = bits & 0x7F800000u;
        const std::uint32_t nonzero = (bits << 1) == 0 ? 0x7F800000u : field;
        largest = field > largest ? field : largest;
        smallest = nonzero < smallest ? nonzero : smallest;
    }
    return {largest >> 23, smallest >> 23};
}

// The sum of a block whose every term lies in one window, in any order (all
// additions are exact): no term needs sorting into a window.
double one_window_sum_scalar(const float* x, std::size_t n) noexcept {
    double sums[4] = {};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4)
        for (std::size_t j = 0; j < 4; ++j) sums[j] += static_cast<double>(x[k + j]);
    for (; k < n; ++k) sums[0] += static_cast<double>(x[k]);
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

#if defined(ZENTROVA_X86_SIMD)
__attribute__((target("avx2"))) double one_window_sum_avx2(const float* x, std::size_t n) noexcept {
    __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
    std::size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m256 a = _mm256_loadu_ps(x + k), b = _mm256_loadu_ps(x + k + 8);
        s0 = _mm256_add_pd(s0, _mm256_cvtps_pd(_mm256_castps256_ps128(a)));
        s1 = _mm256_add_pd(s1, _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1)));
        s2 = _mm256_add_pd(s2, _mm256_cvtps_pd(_mm256_castps256_ps128(b)));
        s3 = _mm256_add_pd(s3, _mm256_cvtps_pd(_mm256_extractf128_ps(b, 1)));
    }
    alignas(32) double parts[4];
    _mm256_store_pd(parts, _mm256_add_pd(_mm256_add_pd(s0, s1), _mm256_add_pd(s2, s3)));
    return ((parts[0] + parts[1]) + (parts[2] + parts[3])) + one_window_sum_scalar(x + k, n - k);
}
#endif

template <class Isa>
double one_window_sum(const float* x, std::size_t n) noexcept {
#if defined(ZENTROVA_X86_SIMD)
    if constexpr (isa::wide<Isa>) return one_window_sum_avx2(x, n);
#endif
    return one_window_sum_scalar(x, n);
}

// The two window sums of a block and how many terms lie below both windows.
struct WindowSums {
    double upper = 0.0, lower = 0.0;
    std::size_t below = 0;
};

// Which window a term's bits belong to: 0 the upper (zeros too), 1 the lower, 2 neither.
inline unsigned window_of(std::uint32_t bits, std::uint32_t upper_lowest, std::uint32_t lower_lowest) noexcept {
    const std::uint32_t field = (bits >> 23) & 0xFFu;
    if (field >= upper_lowest || (bits << 1) == 0) return 0;
    return field >= lower_lowest ? 1 : 2;
}

// The sums of each window, in any order: all are exact.
void window_sums_scalar(const float* x, std::size_t n, std::uint32_t upper_lowest, std::uint32_t lower_lowest,
                        WindowSums& out) noexcept {
    double sums[3] = {};
    for (std::size_t k = 0; k < n; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, x + k, sizeof bits);
        const unsigned w = window_of(bits, upper_lowest, lower_lowest);
        if (w == 2)
            ++out.below;
        else
            sums[w] += static_cast<double>(x[k]);
    }
    out.upper += sums[0];
    out.lower += sums[1];
}

#if defined(ZENTROVA_X86_SIMD)
// Terms outside a window are masked to +0 by their bits, so no arithmetic is conditional.
__attribute__((target("avx2"))) void window_sums_avx2(const float* x, std::size_t n, std::uint32_t upper_lowest,
                                                      std::uint32_t lower_lowest, WindowSums& out) noexcept {
    const __m256i field_mask = _mm256_set1_epi32(0x7F800000), zero = _mm256_setzero_si256();
    const __m256i upper_below = _mm256_set1_epi32(static_cast<int>(upper_lowest) - 1);
    const __m256i lower_below = _mm256_set1_epi32(static_cast<int>(lower_lowest) - 1);
    __m256d u0 = _mm256_setzero_pd(), u1 = u0, l0 = u0, l1 = u0;
    __m256i outside = zero;
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + k));
        const __m256i field = _mm256_srli_epi32(_mm256_and_si256(bits, field_mask), 23);
        const __m256i upper = _mm256_or_si256(_mm256_cmpgt_epi32(field, upper_below),
                                              _mm256_cmpeq_epi32(_mm256_slli_epi32(bits, 1), zero));
        const __m256i lower = _mm256_andnot_si256(upper, _mm256_cmpgt_epi32(field, lower_below));
        outside = _mm256_sub_epi32(outside, _mm256_cmpeq_epi32(_mm256_or_si256(upper, lower), zero));
        const __m256 in_upper = _mm256_castsi256_ps(_mm256_and_si256(bits, upper));
        const __m256 in_lower = _mm256_castsi256_ps(_mm256_and_si256(bits, lower));
        u0 = _mm256_add_pd(u0, _mm256_cvtps_pd(_mm256_castps256_ps128(in_upper)));
        u1 = _mm256_add_pd(u1, _mm256_cvtps_pd(_mm256_extractf128_ps(in_upper, 1)));
        l0 = _mm256_add_pd(l0, _mm256_cvtps_pd(_mm256_castps256_ps128(in_lower)));
        l1 = _mm256_add_pd(l1, _mm256_cvtps_pd(_mm256_extractf128_ps(in_lower, 1)));
    }
    alignas(32) double upper_parts[4], lower_parts[4];
    _mm256_store_pd(upper_parts, _mm256_add_pd(u0, u1));
    _mm256_store_pd(lower_parts, _mm256_add_pd(l0, l1));
    alignas(32) std::uint32_t counts[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(counts), outside);
    for (std::uint32_t c : counts) out.below += c;
    out.upper += (upper_parts[0] + upper_parts[1]) + (upper_parts[2] + upper_parts[3]);
    out.lower += (lower_parts[0] + lower_parts[1]) + (lower_parts[2] + lower_parts[3]);
    window_sums_scalar(x + k, n - k, upper_lowest, lower_lowest, out);
}

void window_sums_sse2(const float* x, std::size_t n, std::uint32_t upper_lowest, std::uint32_t lower_lowest,
                      WindowSums& out) noexcept {
    const __m128i field_mask = _mm_set1_epi32(0x7F800000), zero = _mm_setzero_si128();
    const __m128i upper_below = _mm_set1_epi32(static_cast<int>(upper_lowest) - 1);
    const __m128i lower_below = _mm_set1_epi32(static_cast<int>(lower_lowest) - 1);
    __m128d u0 = _mm_setzero_pd(), u1 = u0, l0 = u0, l1 = u0;
    __m128i outside = zero;
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k));
        const __m128i field = _mm_srli_epi32(_mm_and_si128(bits, field_mask), 23);
        const __m128i upper =
            _mm_or_si128(_mm_cmpgt_epi32(field, upper_below), _mm_cmpeq_epi32(_mm_slli_epi32(bits, 1), zero));
        const __m128i lower = _mm_andnot_si128(upper, _mm_cmpgt_epi32(field, lower_below));
        outside = _mm_sub_epi32(outside, _mm_cmpeq_epi32(_mm_or_si128(upper, lower), zero));
        const __m128 in_upper = _mm_castsi128_ps(_mm_and_si128(bits, upper));
        const __m128 in_lower = _mm_castsi128_ps(_mm_and_si128(bits, lower));
        u0 = _mm_add_pd(u0, _mm_cvtps_pd(in_upper));
        u1 = _mm_add_pd(u1, _mm_cvtps_pd(_mm_movehl_ps(in_upper, in_upper)));
        l0 = _mm_add_pd(l0, _mm_cvtps_pd(in_lower));
        l1 = _mm_add_pd(l1, _mm_cvtps_pd(_mm_movehl_ps(in_lower, in_lower)));
    }
    alignas(16) double upper_parts[2], lower_parts[2];
    _mm_store_pd(upper_parts, _mm_add_pd(u0, u1));
    _mm_store_pd(lower_parts, _mm_add_pd(l0, l1));
    alignas(16) std::uint32_t counts[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(counts), outside);
    for (std::uint32_t c : counts) out.below += c;
    out.upper += upper_parts[0] + upper_parts[1];
    out.lower += lower_parts[0] + lower_parts[1];
    window_sums_scalar(x + k, n - k, upper_lowest, lower_lowest, out);
}
#endif

// The kernel of the vector path run_on_vector_path chose (Isa its tag).
template <class Isa>
WindowSums window_sums(const float* x, std::size_t n, std::uint32_t upper_lowest, std::uint32_t lower_lowest) noexcept {
    WindowSums out;
#if defined(ZENTROVA_X86_SIMD)
    if constexpr (isa::wide<Isa>) {
        window_sums_avx2(x, n, upper_lowest, lower_lowest, out);
        return out;
    } else if constexpr (std::is_same_v<Isa, isa::Sse2>) {
        window_sums_sse2(x, n, upper_lowest, lower_lowest, out);
        return out;
    }
#endif
    window_sums_scalar(x, n, upper_lowest, lower_lowest, out);
    return out;
}

}  // namespace

// A block of finite terms is summed in doubles where that is exact. Let top be
// its largest exponent field and lowest = top - 18 (at least 0). A term whose
// field f is at least lowest is a multiple of its ulp, 2^(max(f, 1) - 150),
// hence of U = 2^(max(lowest, 1) - 150), and is below 2^(top - 126) <= 2^42 U.
// At most 2048 of them, in any order and any grouping, never leave the
// multiples of U below 2^53 U, so every double addition is exact. The same
// holds for the 19 fields below lowest, with their own U. Terms smaller still,
// which should be rare, are added one by one. False (nothing added) when the
// block holds an infinite or NaN term or many terms below both windows.
template <class Isa>
bool ExactSum::add_block_in_window(const float* x, std::size_t n) noexcept {
    const FieldRange fields = field_range(x, n);
    const std::uint32_t top = fields.largest;
    if (top == 0xFFu) return false;
    const std::uint32_t upper_lowest = top > kWindowFields - 1 ? top - (kWindowFields - 1) : 0;
    const std::uint32_t lower_lowest = upper_lowest > kWindowFields ? upper_lowest - kWindowFields : 0;
    WindowSums sums;
    if (fields.smallest >= upper_lowest)
        sums.upper = one_window_sum<Isa>(x, n);  // the usual block: every term in the upper window
    else
        sums = window_sums<Isa>(x, n, upper_lowest, lower_lowest);
    if (sums.below > n / 32) return false;
    for (const double sum : {sums.upper, sums.lower}) {
        if (sum == 0.0) continue;
        // At most 53 significant bits: the top 24 and the rest, each a part add_wide_part files.
        const double high = std::bit_cast<double>(std::bit_cast<std::uint64_t>(sum) & ~((std::uint64_t{1} << 29) - 1));
        add_wide_part(high);
        if (sum != high) add_wide_part(sum - high);
    }
    if (sums.below != 0) {
        for (std::size_t k = 0; k < n; ++k)
            if (window_of(std::bit_cast<std::uint32_t>(x[k]), upper_lowest, lower_lowest) == 2) add(x[k]);
    }
    return true;
}

void ExactSum::add_in_slots(const float* x, std::size_t n) noexcept {
    while (n > 0) {
        const std::size_t m = std::min(n, kChunk);
        ChunkSums sums;
        sum_chunk(x, m, sums);
        // Each group's chunk sum is below m * 2^31 <= 2^52 units, as is the
        // difference of its positive and negative halves.
        for (std::size_t j = 0; j < 32; ++j) add_to_group(kFirstFloatGroup + j, sums.positive[j] + sums.negative[j]);
        bank_[kSpecialSlot] += sums.special;
        x += m;
        n -= m;
    }
}

void ExactSum::add(const float* x, std::size_t n) noexcept {
    if (n < 256) {
        for (std::size_t i = 0; i < n; ++i) add(x[i]);
        return;
    }
    run_on_vector_path([&]<class Isa>(Isa) {
        for (std::size_t start = 0; start < n; start += kWindowRows) {
            if (!add_block_in_window<Isa>(x + start, std::min(kWindowRows, n - start))) {
                // Terms too spread for a window: the rest goes to the slots.
                add_in_slots(x + start, n - start);
                return;
            }
        }
    });
}

void ExactSum::add_wide_part(double d) noexcept {
    // d = k * 2^e with integer k < 2^48: its top 24 significant bits and the
    // rest are each a part of at most 24 bits; the rest, a multiple of 2^(E-47)
    // below 2^(E-23) (E the leading exponent of d), is filed 24 binades lower.
    const auto bits = std::bit_cast<std::uint64_t>(d);
    const double high = std::bit_cast<double>(bits & ~((std::uint64_t{1} << 29) - 1));
    const double low = d - high;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    add_to_group(detail::group_of(exponent), high);
    add_to_group(detail::group_of(exponent - 24), low);
}

void ExactSum::add_square(float t) noexcept {
    if (!std::isfinite(t)) {
        bank_[kSpecialSlot] += std::isnan(t) ? static_cast<double>(t) : std::numeric_limits<double>::infinity();
        return;
    }
    const double d = static_cast<double>(t);
    add_wide_part(d * d);  // exact: 48 significant bits at most, far inside double range
}

namespace {

// Slots of the parts of a square t*t (a double of at most 48 significant bits)
// by its biased exponent field: the top 24 bits go to the group of its leading
// exponent E, the rest to the group of E - 24, as add_wide_part files them.
// Infinities and NaN (field 2047) send the top part to the special slot and the
// rest, which is not a number then, to a slot that is never read.
constexpr std::size_t kSquareSlots = detail::kGroups + 2;
constexpr std::size_t kDiscardSlot = detail::kGroups + 1;

constexpr std::array<std::uint8_t, 2048> make_square_groups(int shift) noexcept {
    std::array<std::uint8_t, 2048> groups{};
    for (int e = 0; e < 2047; ++e) groups[static_cast<std::size_t>(e)] = static_cast<std::uint8_t>(detail::group_of(e - 1023 - shift));
    groups[2047] = static_cast<std::uint8_t>(shift == 0 ? detail::kGroups : kDiscardSlot);
    return groups;
}
constexpr std::array<std::uint8_t, 2048> kSquareHigh = make_square_groups(0);
constexpr std::array<std::uint8_t, 2048> kSquareLow = make_square_groups(24);

}  // namespace

#if defined(ZENTROVA_X86_SIMD)
namespace {

// The window sums of a block of squares: the top 24 bits of each square and the
// rest, for the upper and the lower window of square exponents.
struct SquareWindowSums {
    double high[2] = {0.0, 0.0}, rest[2] = {0.0, 0.0};
    std::size_t below = 0;
    std::uint64_t upper_lowest = 0, lower_lowest = 0;  // biased double exponents
};

// Squares t*t (exact doubles of at most 48 bits) split as add_wide_part splits
// them, the parts summed per window. Let top bound the exponent field of every
// square, upper_lowest = top - 18 and lower_lowest = upper_lowest - 19. For a
// square of field e in [upper_lowest, top] the top part is a multiple of
// 2^(e-23) >= 2^(upper_lowest-23) below 2^(top+1), and the rest a multiple of
// 2^(e-47) below 2^(e-23): both ratios are 2^42, so 2048 of either sum exactly
// in a double; likewise in the lower window. False when a square would leave the
// range the sums can hold.
__attribute__((target("avx2"))) bool square_window_sums_avx2(const float* t, std::size_t n,
                                                             SquareWindowSums& out) noexcept {
    const FieldRange fields = field_range(t, n);
    const std::uint32_t field = fields.largest;
    // |t| < 2^(field - 126), so t*t < 2^(2 field - 252): a biased field of at most 2 field + 770.
    const std::uint64_t top = 2 * std::uint64_t{field} + 770;
    if (field == 0xFFu || top > 1023 + 240) return false;
    out.upper_lowest = top - 18;
    out.lower_lowest = out.upper_lowest - 19;
    // A normal |t| >= 2^(f - 127) has a square of field at least 2 f + 769:
    // when that reaches the upper window for every nonzero term, no term needs
    // sorting into a window (zeros add nothing).
    if (fields.smallest != 0 && 2 * std::uint64_t{fields.smallest} + 769 >= out.upper_lowest) {
        const __m256i high_mask = _mm256_set1_epi64x(static_cast<long long>(~((std::uint64_t{1} << 29) - 1)));
        __m256d h0 = _mm256_setzero_pd(), r0 = h0, h1 = h0, r1 = h0;
        std::size_t k = 0;
        for (; k + 8 <= n; k += 8) {
            const __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(t + k)), b = _mm256_cvtps_pd(_mm_loadu_ps(t + k + 4));
            const __m256d da = _mm256_mul_pd(a, a), db = _mm256_mul_pd(b, b);
            const __m256d ha = _mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(da), high_mask));
            const __m256d hb = _mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(db), high_mask));
            h0 = _mm256_add_pd(h0, ha);
            r0 = _mm256_add_pd(r0, _mm256_sub_pd(da, ha));
            h1 = _mm256_add_pd(h1, hb);
            r1 = _mm256_add_pd(r1, _mm256_sub_pd(db, hb));
        }
        alignas(32) double high[4], rest[4];
        _mm256_store_pd(high, _mm256_add_pd(h0, h1));
        _mm256_store_pd(rest, _mm256_add_pd(r0, r1));
        out.high[0] = (high[0] + high[1]) + (high[2] + high[3]);
        out.rest[0] = (rest[0] + rest[1]) + (rest[2] + rest[3]);
        for (; k < n; ++k) {
            const double v = static_cast<double>(t[k]);
            const double d = v * v;
            const double part = std::bit_cast<double>(std::bit_cast<std::uint64_t>(d) & ~((std::uint64_t{1} << 29) - 1));
            out.high[0] += part;
            out.rest[0] += d - part;
        }
        return true;
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i upper_below = _mm256_set1_epi64x(static_cast<long long>(out.upper_lowest - 1));
    const __m256i lower_below = _mm256_set1_epi64x(static_cast<long long>(out.lower_lowest - 1));
    const __m256i high_mask = _mm256_set1_epi64x(static_cast<long long>(~((std::uint64_t{1} << 29) - 1)));
    __m256d h0 = _mm256_setzero_pd(), r0 = h0, h1 = h0, r1 = h0;
    __m256i outside = zero;
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m256d v = _mm256_cvtps_pd(_mm_loadu_ps(t + k));
        const __m256d d = _mm256_mul_pd(v, v);
        const __m256i bits = _mm256_castpd_si256(d);
        const __m256i exponent = _mm256_srli_epi64(bits, 52);
        const __m256i upper =
            _mm256_or_si256(_mm256_cmpgt_epi64(exponent, upper_below), _mm256_cmpeq_epi64(bits, zero));
        const __m256i lower = _mm256_andnot_si256(upper, _mm256_cmpgt_epi64(exponent, lower_below));
        outside = _mm256_sub_epi64(outside, _mm256_cmpeq_epi64(_mm256_or_si256(upper, lower), zero));
        const __m256d high = _mm256_castsi256_pd(_mm256_and_si256(bits, high_mask));
        const __m256d rest = _mm256_sub_pd(d, high);
        h0 = _mm256_add_pd(h0, _mm256_and_pd(high, _mm256_castsi256_pd(upper)));
        r0 = _mm256_add_pd(r0, _mm256_and_pd(rest, _mm256_castsi256_pd(upper)));
        h1 = _mm256_add_pd(h1, _mm256_and_pd(high, _mm256_castsi256_pd(lower)));
        r1 = _mm256_add_pd(r1, _mm256_and_pd(rest, _mm256_castsi256_pd(lower)));
    }
    alignas(32) double parts[4][4];
    _mm256_store_pd(parts[0], h0);
    _mm256_store_pd(parts[1], r0);
    _mm256_store_pd(parts[2], h1);
    _mm256_store_pd(parts[3], r1);
    alignas(32) std::uint64_t counts[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(counts), outside);
    double* const sums[4] = {&out.high[0], &out.rest[0], &out.high[1], &out.rest[1]};
    for (std::size_t q = 0; q < 4; ++q) *sums[q] = (parts[q][0] + parts[q][1]) + (parts[q][2] + parts[q][3]);
    for (std::uint64_t c : counts) out.below += c;
    // The last rows one by one, in the same way.
    for (; k < n; ++k) {
        const double v = static_cast<double>(t[k]);
        const double d = v * v;
        const auto bits = std::bit_cast<std::uint64_t>(d);
        const std::uint64_t exponent = bits >> 52;
        const double high = std::bit_cast<double>(bits & ~((std::uint64_t{1} << 29) - 1));
        if (exponent >= out.upper_lowest || bits == 0) {
            out.high[0] += high;
            out.rest[0] += d - high;
        } else if (exponent >= out.lower_lowest) {
            out.high[1] += high;
            out.rest[1] += d - high;
        } else {
            ++out.below;
        }
    }
    return true;
}

}  // namespace
#endif

bool ExactSum::add_square_block_in_window(const float* t, std::size_t n) noexcept {
#if defined(ZENTROVA_X86_SIMD)
    SquareWindowSums sums;
    if (!square_window_sums_avx2(t, n, sums) || sums.below > n / 32) return false;
    for (const double sum : {sums.high[0], sums.rest[0], sums.high[1], sums.rest[1]}) {
        if (sum == 0.0) continue;
        const double high = std::bit_cast<double>(std::bit_cast<std::uint64_t>(sum) & ~((std::uint64_t{1} << 29) - 1));
        add_wide_part(high);
        if (sum != high) add_wide_part(sum - high);
    }
    if (sums.below != 0) {
        for (std::size_t k = 0; k < n; ++k) {
            const double v = static_cast<double>(t[k]);
            const auto bits = std::bit_cast<std::uint64_t>(v * v);
            if (bits != 0 && (bits >> 52) < sums.lower_lowest) add_square(t[k]);
        }
    }
    return true;
#else
    (void)t;
    (void)n;
    return false;
#endif
}

void ExactSum::add_squares(const float* t, std::size_t n) noexcept {
    if (n < 64) {
        for (std::size_t i = 0; i < n; ++i) add_square(t[i]);
        return;
    }
    run_on_vector_path([&]<class Isa>(Isa) {
        // The window sums need 64-bit vector compares: AVX2 and wider.
        if constexpr (isa::wide<Isa>) {
            for (std::size_t start = 0; start < n; start += kWindowRows) {
                if (!add_square_block_in_window(t + start, std::min(kWindowRows, n - start))) {
                    add_squares_in_slots(t + start, n - start);
                    return;
                }
            }
        } else {
            add_squares_in_slots(t, n);
        }
    });
}

void ExactSum::add_squares_in_slots(const float* t, std::size_t n) noexcept {
    while (n > 0) {
        const std::size_t m = std::min(n, kChunk);
        // Every part is non-negative, below 2^31 units of its group, and a
        // square's two parts lie in different groups (or, below group 0's
        // range, are far smaller): each lane's and each group's sum over a
        // chunk stays below 2^52 units, so every addition is exact.
        alignas(64) double lanes[kLanes][kSquareSlots] = {};
        std::size_t i = 0;
        auto file = [&lanes](std::size_t lane, float v) noexcept {
            const double d = static_cast<double>(v) * static_cast<double>(v);
            const auto bits = std::bit_cast<std::uint64_t>(d);
            const double high = std::bit_cast<double>(bits & ~((std::uint64_t{1} << 29) - 1));
            const std::size_t field = (bits >> 52) & 0x7FF;
            lanes[lane][kSquareHigh[field]] += high;
            lanes[lane][kSquareLow[field]] += d - high;
        };
        for (; i + kLanes <= m; i += kLanes) {
#pragma GCC unroll 8
            for (std::size_t k = 0; k < kLanes; ++k) file(k, t[i + k]);
        }
        for (; i < m; ++i) file(0, t[i]);
        for (std::size_t g = 0; g <= kGroups; ++g) {
            double sum = 0.0;
            for (std::size_t k = 0; k < kLanes; ++k) sum += lanes[k][g];
            if (g == kSpecialSlot)
                bank_[g] += sum;
            else if (sum != 0.0)
                add_to_group(g, sum);
        }
        t += m;
        n -= m;
    }
}

void ExactSum::add_multiple(float x, std::uint64_t count) noexcept {
    if (count == 0) return;
    if (!std::isfinite(x)) {
        bank_[kSpecialSlot] += static_cast<double>(x);
        return;
    }
    // count in 24-bit pieces: each product with x has at most 48 bits.
    const double v = static_cast<double>(x);
    double scale = 1.0;
    for (int piece = 0; piece < 3; ++piece, count >>= 24, scale *= 16777216.0) {
        const auto c = static_cast<std::uint32_t>(count & 0xFFFFFFu);
        if (c != 0) add_wide_part(v * static_cast<double>(c) * scale);
    }
}

void ExactSum::settle(std::size_t g) noexcept {
    add_double(fixed_, bank_[g], kUnitExponent);
    bank_[g] = 0.0;
}

void ExactSum::merge(const ExactSum& other) noexcept {
    // The fixed part first: merging a sum into itself must not count a group
    // settled below twice.
    add_limbs(fixed_, other.fixed_);
    // Both groups are below 2^52 units, so each sum is exact.
    for (std::size_t g = 0; g < kGroups; ++g) add_to_group(g, other.bank_[g]);
    bank_[kSpecialSlot] += other.bank_[kSpecialSlot];
}

ExactSum::Fixed ExactSum::fixed_point() const noexcept {
    Fixed f = fixed_;
    for (std::size_t g = 0; g < kGroups; ++g)
        if (bank_[g] != 0.0) add_double(f, bank_[g], kUnitExponent);
    return f;
}

ExactSum::Special ExactSum::special() const noexcept { return classify(bank_[kSpecialSlot]); }

float ExactSum::value() const noexcept {
    const Special s = special();
    if (s != Special::none) return special_value(s);
    return round_to_float(fixed_point(), kUnitExponent);
}

bool operator==(const ExactSum& a, const ExactSum& b) noexcept {
    const ExactSum::Special s = a.special();
    if (s != b.special()) return false;
    return s != ExactSum::Special::none || a.fixed_point() == b.fixed_point();
}

// Encoding, little-endian: version byte; flags (bits 0-1 the special state,
// bit 2 negative); index of the first stored byte of the magnitude; number of
// stored bytes; the magnitude bytes, without zero bytes at either end. Sums
// with an infinite or NaN term store no magnitude: it can no longer matter.
namespace {
constexpr unsigned char kVersion = 1;
constexpr std::size_t kFixedBytes = ExactSum::kLimbs * 8;
}  // namespace

void ExactSum::serialize(std::string& out) const {
    const Special s = special();
    std::array<unsigned char, kFixedBytes> bytes{};
    bool negative = false;
    if (s == Special::none) {
        Fixed f = fixed_point();
        negative = is_negative(f);
        if (negative) negate(f);
        for (std::size_t i = 0; i < kFixedBytes; ++i) bytes[i] = static_cast<unsigned char>(f[i / 8] >> (8 * (i % 8)));
    }
    std::size_t first = 0, last = kFixedBytes;
    while (first < kFixedBytes && bytes[first] == 0) ++first;
    if (first == kFixedBytes) first = last = 0;
    while (last > first && bytes[last - 1] == 0) --last;
    const std::size_t length = last - first;
    if (length == 0) negative = false;
    out.push_back(static_cast<char>(kVersion));
    out.push_back(static_cast<char>(static_cast<unsigned>(s) | (negative ? 4u : 0u)));
    out.push_back(static_cast<char>(first));
    out.push_back(static_cast<char>(length));
    out.append(reinterpret_cast<const char*>(bytes.data() + first), length);
}

bool ExactSum::deserialize(std::string_view& in, ExactSum& out) noexcept {
    if (in.size() < 4) return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
    if (byte(0) != kVersion) return false;
    const unsigned flags = byte(1);
    const std::size_t first = byte(2), length = byte(3);
    if ((flags & ~7u) != 0) return false;
    const auto s = static_cast<Special>(flags & 3u);
    const bool negative = (flags & 4u) != 0;
    if (length > kFixedBytes || first > kFixedBytes - length || in.size() - 4 < length) return false;
    if (length == 0 && (first != 0 || negative)) return false;
    if (length != 0 && (s != Special::none || byte(4) == 0 || byte(3 + length) == 0)) return false;
    Fixed f{};
    for (std::size_t i = 0; i < length; ++i)
        f[(first + i) / 8] |= std::uint64_t{byte(4 + i)} << (8 * ((first + i) % 8));
    if (negative) negate(f);
    // The two's complement must carry the stated sign, or the magnitude was out of range.
    if (length != 0 && is_negative(f) != negative) return false;
    ExactSum result;
    result.fixed_ = f;
    result.bank_[kSpecialSlot] = special_double(s);
    out = result;
    in.remove_prefix(4 + length);
    return true;
}

float squared_deviations(const ExactSum& sum, const ExactSum& sum_of_squares, std::uint64_t n, float mean) noexcept {
    if (!sum.finite() || !sum_of_squares.finite() || std::isnan(mean)) return std::numeric_limits<float>::quiet_NaN();
    if (n == 0) return 0.0f;
    if (std::isinf(mean)) return std::numeric_limits<float>::infinity();
    // sum (t - mean)^2 = Q - 2 mean S + n mean^2, exactly, in units of 2^-640:
    // Q < 2^448, |2 mean S| < 2^577 and n mean^2 < 2^320 all fit 1280 bits.
    constexpr std::size_t kWide = 20;
    constexpr int kWideUnit = 2 * ExactSum::kUnitExponent;
    Limbs<kWide> total{};
    const ExactSum::Fixed q = sum_of_squares.fixed_point();
    {
        Limbs<kWide> widened{};
        std::copy(q.begin(), q.end(), widened.begin());
        if (is_negative(q)) std::fill(widened.begin() + ExactSum::kLimbs, widened.end(), ~std::uint64_t{0});
        add_shifted(total, widened.data(), kWide, static_cast<unsigned>(-ExactSum::kUnitExponent), false);
    }
    const auto mean_bits = std::bit_cast<std::uint32_t>(mean);
    const unsigned biased = (mean_bits >> 23) & 0xFFu;
    const std::uint64_t m = biased == 0 ? (mean_bits & 0x7FFFFFu) : ((mean_bits & 0x7FFFFFu) | 0x800000u);
    const int k = biased == 0 ? -149 : static_cast<int>(biased) - 150;  // mean = +-m * 2^k
    if (m != 0) {
        const bool mean_negative = (mean_bits >> 31) != 0;
        ExactSum::Fixed s = sum.fixed_point();
        const bool s_negative = is_negative(s);
        if (s_negative) negate(s);
        // |S| * m as 13 limbs.
        std::array<std::uint64_t, ExactSum::kLimbs + 1> product{};
        unsigned __int128 carry = 0;
        for (std::size_t i = 0; i < ExactSum::kLimbs; ++i) {
            const unsigned __int128 p = static_cast<unsigned __int128>(s[i]) * m + carry;
            product[i] = static_cast<std::uint64_t>(p);
            carry = p >> 64;
        }
        product[ExactSum::kLimbs] = static_cast<std::uint64_t>(carry);
        // 2 mean S in units of 2^-640 is |S| m shifted by k + 1 - unit.
        add_shifted(total, product.data(), product.size(), static_cast<unsigned>(k + 1 - ExactSum::kUnitExponent),
                    mean_negative == s_negative);
        const unsigned __int128 nm2 = static_cast<unsigned __int128>(n) * (m * m);
        const std::uint64_t nm2_limbs[2] = {static_cast<std::uint64_t>(nm2), static_cast<std::uint64_t>(nm2 >> 64)};
        add_shifted(total, nm2_limbs, 2, static_cast<unsigned>(2 * k - kWideUnit), false);
    }
    return round_to_float(total, kWideUnit);
}

}  // namespace zentrova::numeric
