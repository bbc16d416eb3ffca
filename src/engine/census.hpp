// What a caller may ask the engine to count about a column while it reads
// it: rows without a value (NaN) and rows outside the values the column is
// meant to hold. Counted on the original values, before any conversion to
// float (a float64 1 + 1e-12 is not a label 1, though it rounds to one), and
// block by block while the block is in cache. The counts are a side output
// of one call, never part of the statistics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "columns/dtype.hpp"
#include "numeric/cpu_features.hpp"

#if defined(ZENTROVA_X86_SIMD)
#include <immintrin.h>
#endif

namespace zentrova::engine {

// The values a column is meant to hold, besides having a value at all.
enum class ValueRule : std::uint8_t {
    Any,          // every number
    Label,        // exactly 0 or 1 (-0.0 included)
    Probability,  // within [0, 1]
};

struct ColumnCensus {
    ValueRule rule = ValueRule::Any;
    std::uint64_t missing = 0;  // NaN rows
    std::uint64_t invalid = 0;  // rows with a value outside the rule

    // Counts rows [start, start + count) of a numeric column; text counts nothing.
    void add(const columns::ColumnView& column, std::size_t start, std::size_t count) noexcept;
    // The same, for a reader that OR-ed census_detail::RowFlag over the rows
    // as it read them: they are counted only when the flags were raised.
    void add_flagged(bool raised, const columns::ColumnView& column, std::size_t start, std::size_t count) noexcept {
        if (raised) add(column, start, count);
    }

    bool clean() const noexcept { return missing == 0 && invalid == 0; }
};

namespace census_detail {

// The exact counts of a run of rows.
template <class T, ValueRule rule, class At>
void count_rows(At at, std::size_t count, std::uint64_t& missing, std::uint64_t& invalid) noexcept {
    std::uint64_t nan = 0, outside = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const T v = at(k);
        if constexpr (std::is_floating_point_v<T>) nan += static_cast<std::uint64_t>(v != v);
        if constexpr (rule == ValueRule::Label)
            outside += static_cast<std::uint64_t>(v == v && v != T(0) && v != T(1));
        else if constexpr (rule == ValueRule::Probability)
            outside += static_cast<std::uint64_t>(v < T(0) || v > T(1));
    }
    missing += nan;
    invalid += outside;
}

// Unsigned integers as wide as T, to read its bits.
template <class T>
using BitsOf = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                  std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;

// A test of a row's bits that OR-s over a block: raised(of(b1) | of(b2) | ...)
// is false when no row of the block can be counted, which settles the usual
// clean block in one reduction. Integer operations only, in the element's own
// width: the compiler vectorises them (and float comparisons of this kind
// poorly).
template <class T, ValueRule rule>
struct RowFlag {
    using Bits = BitsOf<T>;
    // On the magnitude m (the bits without the sign), a top bit set by c - m
    // means m > c, and one set by m + M (M all bits but the top) means m != 0.
    static constexpr Bits M = static_cast<Bits>(~Bits{0} >> 1);
    static constexpr Bits one = static_cast<Bits>(sizeof(T) == 8 ? 0x3FF0000000000000u : 0x3F800000u);
    static constexpr Bits infinity = static_cast<Bits>(sizeof(T) == 8 ? 0x7FF0000000000000u : 0x7F800000u);

    static Bits of(Bits b) noexcept {
        if constexpr (std::is_integral_v<T>) {
            // Integers within [0, 1] are 0 and 1, the only ones whose bits lie
            // within 1; an integer is never missing.
            return rule == ValueRule::Any ? Bits{0} : b;
        } else {
            const Bits m = b & M;
            if constexpr (rule == ValueRule::Label) {
                const Bits x = b ^ one;  // neither ±0 nor 1 (NaN included)
                return static_cast<Bits>((m + M) & (x | ((x & M) + M)));
            } else if constexpr (rule == ValueRule::Probability) {
                return static_cast<Bits>((one - m) | (b & (m + M)));  // above 1 or NaN; below -0
            } else {
                return static_cast<Bits>(infinity - m);  // NaN
            }
        }
    }
    static bool raised(Bits flags) noexcept {
        if constexpr (std::is_integral_v<T>)
            return (flags & static_cast<Bits>(~Bits{1})) != 0;
        else
            return (flags >> (8 * sizeof(Bits) - 1)) != 0;
    }
};

// Whether any of `count` contiguous values may be counted.
template <class T, ValueRule rule>
inline bool suspect(const char* base, std::size_t count) noexcept {
    using Flag = RowFlag<T, rule>;
    typename Flag::Bits flags = 0;
    for (std::size_t k = 0; k < count; ++k) {
        typename Flag::Bits b;
        std::memcpy(&b, base + k * sizeof b, sizeof b);
        flags = static_cast<typename Flag::Bits>(flags | Flag::of(b));
    }
    return Flag::raised(flags);
}

#if defined(ZENTROVA_X86_SIMD)
// The same test on CPUs that run AVX2: floats by quiet comparisons (false for
// NaN), three instructions per four or eight rows; integers by the same
// reduction twice as wide. `good` gathers, lane by lane, whether every row fit.
#define ZENTROVA_CENSUS_AVX2 __attribute__((target("avx2")))

template <ValueRule rule>
ZENTROVA_CENSUS_AVX2 inline __m256d fits(__m256d v, __m256d zero, __m256d one) noexcept {
    if constexpr (rule == ValueRule::Label)
        return _mm256_or_pd(_mm256_cmp_pd(v, zero, _CMP_EQ_OQ), _mm256_cmp_pd(v, one, _CMP_EQ_OQ));
    else if constexpr (rule == ValueRule::Probability)
        return _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_GE_OQ), _mm256_cmp_pd(v, one, _CMP_LE_OQ));
    else
        return _mm256_cmp_pd(v, v, _CMP_EQ_OQ);
}

template <ValueRule rule>
ZENTROVA_CENSUS_AVX2 inline __m256 fits(__m256 v, __m256 zero, __m256 one) noexcept {
    if constexpr (rule == ValueRule::Label)
        return _mm256_or_ps(_mm256_cmp_ps(v, zero, _CMP_EQ_OQ), _mm256_cmp_ps(v, one, _CMP_EQ_OQ));
    else if constexpr (rule == ValueRule::Probability)
        return _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_GE_OQ), _mm256_cmp_ps(v, one, _CMP_LE_OQ));
    else
        return _mm256_cmp_ps(v, v, _CMP_EQ_OQ);
}

template <class T, ValueRule rule>
ZENTROVA_CENSUS_AVX2 bool suspect_avx2(const char* base, std::size_t count) noexcept {
    std::size_t k = 0;
    // Four running results, so that the loop is not one chain of dependent steps.
    if constexpr (std::is_same_v<T, double>) {
        const double* values = reinterpret_cast<const double*>(base);
        const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
        __m256d good0 = _mm256_cmp_pd(zero, zero, _CMP_EQ_OQ), good1 = good0, good2 = good0, good3 = good0;
        for (; k + 16 <= count; k += 16) {
            good0 = _mm256_and_pd(good0, fits<rule>(_mm256_loadu_pd(values + k), zero, one));
            good1 = _mm256_and_pd(good1, fits<rule>(_mm256_loadu_pd(values + k + 4), zero, one));
            good2 = _mm256_and_pd(good2, fits<rule>(_mm256_loadu_pd(values + k + 8), zero, one));
            good3 = _mm256_and_pd(good3, fits<rule>(_mm256_loadu_pd(values + k + 12), zero, one));
        }
        for (; k + 4 <= count; k += 4) good0 = _mm256_and_pd(good0, fits<rule>(_mm256_loadu_pd(values + k), zero, one));
        const __m256d good = _mm256_and_pd(_mm256_and_pd(good0, good1), _mm256_and_pd(good2, good3));
        if (_mm256_movemask_pd(good) != 0xF) return true;
    } else if constexpr (std::is_same_v<T, float>) {
        const float* values = reinterpret_cast<const float*>(base);
        const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
        __m256 good0 = _mm256_cmp_ps(zero, zero, _CMP_EQ_OQ), good1 = good0, good2 = good0, good3 = good0;
        for (; k + 32 <= count; k += 32) {
            good0 = _mm256_and_ps(good0, fits<rule>(_mm256_loadu_ps(values + k), zero, one));
            good1 = _mm256_and_ps(good1, fits<rule>(_mm256_loadu_ps(values + k + 8), zero, one));
            good2 = _mm256_and_ps(good2, fits<rule>(_mm256_loadu_ps(values + k + 16), zero, one));
            good3 = _mm256_and_ps(good3, fits<rule>(_mm256_loadu_ps(values + k + 24), zero, one));
        }
        for (; k + 8 <= count; k += 8) good0 = _mm256_and_ps(good0, fits<rule>(_mm256_loadu_ps(values + k), zero, one));
        const __m256 good = _mm256_and_ps(_mm256_and_ps(good0, good1), _mm256_and_ps(good2, good3));
        if (_mm256_movemask_ps(good) != 0xFF) return true;
    }
    return suspect<T, rule>(base + k * sizeof(T), count - k);
}

// Converts `count` contiguous float64 or float32 values to float at `out` and
// tells, as suspect_avx2 does, whether any of them may be counted: the test
// rides on the conversion's own loads, so a counted read costs no pass of its
// own. The conversion rounds to nearest, as static_cast<float> does.
template <class T, ValueRule rule>
ZENTROVA_CENSUS_AVX2 bool convert_suspect_avx2(const char* base, std::size_t count, float* out) noexcept {
    std::size_t k = 0;
    bool suspicious = false;
    if constexpr (std::is_same_v<T, double>) {
        const double* values = reinterpret_cast<const double*>(base);
        const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
        __m256d good0 = _mm256_cmp_pd(zero, zero, _CMP_EQ_OQ), good1 = good0;
        for (; k + 8 <= count; k += 8) {
            const __m256d a = _mm256_loadu_pd(values + k), b = _mm256_loadu_pd(values + k + 4);
            good0 = _mm256_and_pd(good0, fits<rule>(a, zero, one));
            good1 = _mm256_and_pd(good1, fits<rule>(b, zero, one));
            _mm_storeu_ps(out + k, _mm256_cvtpd_ps(a));
            _mm_storeu_ps(out + k + 4, _mm256_cvtpd_ps(b));
        }
        suspicious = _mm256_movemask_pd(_mm256_and_pd(good0, good1)) != 0xF;
    } else {
        const float* values = reinterpret_cast<const float*>(base);
        const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
        __m256 good0 = _mm256_cmp_ps(zero, zero, _CMP_EQ_OQ), good1 = good0;
        for (; k + 16 <= count; k += 16) {
            const __m256 a = _mm256_loadu_ps(values + k), b = _mm256_loadu_ps(values + k + 8);
            good0 = _mm256_and_ps(good0, fits<rule>(a, zero, one));
            good1 = _mm256_and_ps(good1, fits<rule>(b, zero, one));
            _mm256_storeu_ps(out + k, a);
            _mm256_storeu_ps(out + k + 8, b);
        }
        suspicious = _mm256_movemask_ps(_mm256_and_ps(good0, good1)) != 0xFF;
    }
    for (std::size_t j = k; j < count; ++j) {
        T value;
        std::memcpy(&value, base + j * sizeof(T), sizeof value);
        out[j] = static_cast<float>(value);
    }
    return suspicious || suspect<T, rule>(base + k * sizeof(T), count - k);
}
#undef ZENTROVA_CENSUS_AVX2
#endif

template <class T, ValueRule rule>
void count_block(const columns::ColumnView& column, std::size_t start, std::size_t count, std::uint64_t& missing,
                 std::uint64_t& invalid) noexcept {
    if constexpr (std::is_integral_v<T> && rule == ValueRule::Any) return;  // every row has a value, any value
    const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
    const std::ptrdiff_t stride = column.stride;
    if (stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
#if defined(ZENTROVA_X86_SIMD)
        const bool wide = numeric::dispatch_path() >= numeric::KernelPath::AVX2;
        if (!(wide ? suspect_avx2<T, rule>(base, count) : suspect<T, rule>(base, count))) return;
#else
        if (!suspect<T, rule>(base, count)) return;
#endif
    }
    count_rows<T, rule>(
        [base, stride](std::size_t k) {
            T value;
            std::memcpy(&value, base + static_cast<std::ptrdiff_t>(k) * stride, sizeof value);
            return value;
        },
        count, missing, invalid);
}

template <class T>
void count_by_rule(const columns::ColumnView& column, ValueRule rule, std::size_t start, std::size_t count,
                   std::uint64_t& missing, std::uint64_t& invalid) noexcept {
    switch (rule) {
        case ValueRule::Label: return count_block<T, ValueRule::Label>(column, start, count, missing, invalid);
        case ValueRule::Probability:
            return count_block<T, ValueRule::Probability>(column, start, count, missing, invalid);
        case ValueRule::Any: break;
    }
    count_block<T, ValueRule::Any>(column, start, count, missing, invalid);
}

}  // namespace census_detail

inline void ColumnCensus::add(const columns::ColumnView& column, std::size_t start, std::size_t count) noexcept {
    if (columns::family_of(column.kind) == columns::Family::Text) return;
    columns::visit_numeric(column.kind, [&]<class T>(T) {
        census_detail::count_by_rule<T>(column, rule, start, count, missing, invalid);
    });
}

}  // namespace zentrova::engine
