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

// The vector operations of the tests below, for float64 (four lanes) and
// float32 (eight lanes) alike.
template <class T>
struct Lanes;

template <>
struct Lanes<double> {
    using V = __m256d;
    static constexpr std::size_t width = 4;
    static constexpr int all = 0xF;
    ZENTROVA_CENSUS_AVX2 static V load(const double* at) noexcept { return _mm256_loadu_pd(at); }
    ZENTROVA_CENSUS_AVX2 static V broadcast(double x) noexcept { return _mm256_set1_pd(x); }
    template <int predicate>
    ZENTROVA_CENSUS_AVX2 static V compare(V a, V b) noexcept {
        return _mm256_cmp_pd(a, b, predicate);
    }
    ZENTROVA_CENSUS_AVX2 static V both(V a, V b) noexcept { return _mm256_and_pd(a, b); }
    ZENTROVA_CENSUS_AVX2 static V either(V a, V b) noexcept { return _mm256_or_pd(a, b); }
    ZENTROVA_CENSUS_AVX2 static int mask(V v) noexcept { return _mm256_movemask_pd(v); }
    // The lanes rounded to float, to nearest as static_cast<float> rounds.
    ZENTROVA_CENSUS_AVX2 static void store_floats(float* out, V v) noexcept { _mm_storeu_ps(out, _mm256_cvtpd_ps(v)); }
};

template <>
struct Lanes<float> {
    using V = __m256;
    static constexpr std::size_t width = 8;
    static constexpr int all = 0xFF;
    ZENTROVA_CENSUS_AVX2 static V load(const float* at) noexcept { return _mm256_loadu_ps(at); }
    ZENTROVA_CENSUS_AVX2 static V broadcast(float x) noexcept { return _mm256_set1_ps(x); }
    template <int predicate>
    ZENTROVA_CENSUS_AVX2 static V compare(V a, V b) noexcept {
        return _mm256_cmp_ps(a, b, predicate);
    }
    ZENTROVA_CENSUS_AVX2 static V both(V a, V b) noexcept { return _mm256_and_ps(a, b); }
    ZENTROVA_CENSUS_AVX2 static V either(V a, V b) noexcept { return _mm256_or_ps(a, b); }
    ZENTROVA_CENSUS_AVX2 static int mask(V v) noexcept { return _mm256_movemask_ps(v); }
    ZENTROVA_CENSUS_AVX2 static void store_floats(float* out, V v) noexcept { _mm256_storeu_ps(out, v); }
};

// Lane by lane, whether the value fits the rule (quiet comparisons: NaN fits none).
template <ValueRule rule, class T>
ZENTROVA_CENSUS_AVX2 inline typename Lanes<T>::V fits(typename Lanes<T>::V v) noexcept {
    using L = Lanes<T>;
    const typename L::V zero = L::broadcast(T(0)), one = L::broadcast(T(1));
    if constexpr (rule == ValueRule::Label)
        return L::either(L::template compare<_CMP_EQ_OQ>(v, zero), L::template compare<_CMP_EQ_OQ>(v, one));
    else if constexpr (rule == ValueRule::Probability)
        return L::both(L::template compare<_CMP_GE_OQ>(v, zero), L::template compare<_CMP_LE_OQ>(v, one));
    else
        return L::template compare<_CMP_EQ_OQ>(v, v);
}

template <class T>
ZENTROVA_CENSUS_AVX2 inline typename Lanes<T>::V all_lanes() noexcept {
    const typename Lanes<T>::V zero = Lanes<T>::broadcast(T(0));
    return Lanes<T>::template compare<_CMP_EQ_OQ>(zero, zero);
}

template <class T, ValueRule rule>
ZENTROVA_CENSUS_AVX2 bool suspect_avx2(const char* base, std::size_t count) noexcept {
    if constexpr (!std::is_floating_point_v<T>) {
        return suspect<T, rule>(base, count);
    } else {
        using L = Lanes<T>;
        constexpr std::size_t w = L::width;
        const T* values = reinterpret_cast<const T*>(base);
        std::size_t k = 0;
        // Four running results, so that the loop is not one chain of dependent steps.
        typename L::V good0 = all_lanes<T>(), good1 = good0, good2 = good0, good3 = good0;
        for (; k + 4 * w <= count; k += 4 * w) {
            good0 = L::both(good0, fits<rule, T>(L::load(values + k)));
            good1 = L::both(good1, fits<rule, T>(L::load(values + k + w)));
            good2 = L::both(good2, fits<rule, T>(L::load(values + k + 2 * w)));
            good3 = L::both(good3, fits<rule, T>(L::load(values + k + 3 * w)));
        }
        for (; k + w <= count; k += w) good0 = L::both(good0, fits<rule, T>(L::load(values + k)));
        if (L::mask(L::both(L::both(good0, good1), L::both(good2, good3))) != L::all) return true;
        return suspect<T, rule>(base + k * sizeof(T), count - k);
    }
}

// Converts `count` contiguous float64 or float32 values to float at `out` and
// tells, as suspect_avx2 does, whether any of them may be counted: the test
// rides on the conversion's own loads, so a counted read costs no pass of its
// own. The conversion rounds to nearest, as static_cast<float> does.
template <class T, ValueRule rule>
ZENTROVA_CENSUS_AVX2 bool convert_suspect_avx2(const char* base, std::size_t count, float* out) noexcept {
    using L = Lanes<T>;
    constexpr std::size_t w = L::width;
    const T* values = reinterpret_cast<const T*>(base);
    std::size_t k = 0;
    typename L::V good0 = all_lanes<T>(), good1 = good0;
    for (; k + 2 * w <= count; k += 2 * w) {
        const typename L::V a = L::load(values + k), b = L::load(values + k + w);
        good0 = L::both(good0, fits<rule, T>(a));
        good1 = L::both(good1, fits<rule, T>(b));
        L::store_floats(out + k, a);
        L::store_floats(out + k + w, b);
    }
    const bool suspicious = L::mask(L::both(good0, good1)) != L::all;
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
