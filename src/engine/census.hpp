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

// Whether any of `count` contiguous values may be counted. One reduction over
// their bits in the element's own width, with integer operations only (the
// compiler vectorises float comparisons of this kind poorly), which settles
// the usual clean block.
template <class T, ValueRule rule>
inline bool suspect(const char* base, std::size_t count) noexcept {
    using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t,
                                    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint16_t>>;
    Bits flag = 0;
    if constexpr (std::is_integral_v<T>) {
        // Integers within [0, 1] are 0 and 1, the only ones whose bits lie within 1.
        for (std::size_t k = 0; k < count; ++k) {
            Bits b;
            std::memcpy(&b, base + k * sizeof b, sizeof b);
            flag = static_cast<Bits>(flag | b);
        }
        return (flag & static_cast<Bits>(~Bits{1})) != 0;
    } else {
        // On the magnitude m (the bits without the sign), a top bit set by
        // c - m means m > c, and one set by m + M (M all bits but the top)
        // means m != 0. NaN is flagged by every rule.
        constexpr Bits M = static_cast<Bits>(~Bits{0} >> 1);
        constexpr Bits one = static_cast<Bits>(sizeof(T) == 8 ? 0x3FF0000000000000u : 0x3F800000u);
        constexpr Bits infinity = static_cast<Bits>(sizeof(T) == 8 ? 0x7FF0000000000000u : 0x7F800000u);
        for (std::size_t k = 0; k < count; ++k) {
            Bits b;
            std::memcpy(&b, base + k * sizeof b, sizeof b);
            const Bits m = b & M;
            if constexpr (rule == ValueRule::Label) {
                // neither ±0 nor 1
                const Bits x = b ^ one;
                flag |= (m + M) & (x | ((x & M) + M));
            } else if constexpr (rule == ValueRule::Probability) {
                // above 1 (or NaN), or negative and not -0
                flag |= (one - m) | (b & (m + M));
            } else {
                flag |= infinity - m;
            }
        }
        return (flag >> (8 * sizeof(Bits) - 1)) != 0;
    }
}

#if defined(ZENTROVA_X86_SIMD)
// The same reduction twice as wide, for CPUs that run it.
template <class T, ValueRule rule>
__attribute__((target("avx2"))) bool suspect_avx2(const char* base, std::size_t count) noexcept {
    return suspect<T, rule>(base, count);
}
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
