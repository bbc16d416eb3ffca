// Labelling of numeric columns: equality with a label for a column of exactly
// two distinct values, greater-or-equal against a threshold otherwise.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "columns/interrupt.hpp"
#include "columns/strided.hpp"
#include "metrics/labelling/labelled_column.hpp"

namespace zentrova::labelling {

using columns::Strided;
using columns::with_accessor;

// Wrapping reduction of an integer to its low 32 bits.
inline std::int32_t low_32_bits(std::int64_t value) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// Truncation toward zero, saturating, NaN to 0 (written without branches).
inline std::int32_t truncate_to_i32(double value) noexcept {
    const double clamped = value < -2147483648.0 ? -2147483648.0 : (value > 2147483647.0 ? 2147483647.0 : value);
    return static_cast<std::int32_t>(value == value ? clamped : 0.0);
}

inline std::int64_t truncate_to_i64(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

inline std::int32_t distinct_key(std::int64_t value) noexcept { return low_32_bits(value); }
inline std::int32_t distinct_key(double value) noexcept { return truncate_to_i32(value); }

// Whether the column holds exactly two distinct values once each is reduced to
// a 32-bit key; a third distinct key settles the question early.
template <class Wide, class At>
bool has_two_distinct_values(std::size_t n, At at) {
    if (n == 0) return false;
    constexpr std::size_t block = 4096;
    columns::InterruptPoller poller;
    const std::int32_t first = distinct_key(static_cast<Wide>(at(0)));
    std::size_t i = 1;
    while (i < n) {
        const std::size_t end = std::min(n, i + block);
        poller.advance(end - i);
        while (i < end && distinct_key(static_cast<Wide>(at(i))) == first) ++i;
        if (i < end) break;
    }
    if (i == n) return false;
    const std::int32_t second = distinct_key(static_cast<Wide>(at(i)));
    for (++i; i < n;) {
        const std::size_t end = std::min(n, i + block);
        poller.advance(end - i);
        int other = 0;
        for (; i < end; ++i) {
            const std::int32_t key = distinct_key(static_cast<Wide>(at(i)));
            other |= (key != first) & (key != second);
        }
        if (other) return false;
    }
    return true;
}

// 1 where the value equals the label (IEEE equality for floats).
template <class Wide, class At>
void apply_label_discrete(std::size_t n, At at, Wide label, std::int16_t* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::int16_t>(static_cast<Wide>(at(i)) == label);
}

// 1 where the value is at least the threshold (never for NaN).
template <class Wide, class At>
void apply_label_continuous(std::size_t n, At at, Wide threshold, std::int16_t* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::int16_t>(static_cast<Wide>(at(i)) >= threshold);
}

template <class Wide>
Wide rule_label(const LabelRule& rule) noexcept {
    if constexpr (std::is_same_v<Wide, double>)
        return rule.float_label;
    else
        return rule.integer_label;
}

// Signed 64-bit comparisons from subtraction, xor and shifts, which vectorise
// with the baseline instruction set (it has no 64-bit compare).
struct WideIntegerCompare {
    static std::int16_t equal(std::int64_t value, std::int64_t label) noexcept {
        const auto x = static_cast<std::uint64_t>(value ^ label);
        return static_cast<std::int16_t>(static_cast<std::uint32_t>(x | (x >> 32)) == 0);
    }
    static std::int16_t at_least(std::int64_t value, std::int64_t threshold) noexcept {
        const auto x = static_cast<std::uint64_t>(value), y = static_cast<std::uint64_t>(threshold);
        const std::uint64_t difference = x - y;
        const std::uint64_t less = (difference ^ ((x ^ y) & (difference ^ x))) >> 63;
        return static_cast<std::int16_t>(less ^ 1);
    }
};

template <class Source, class Wide, bool Discrete>
void fill_labels(const LabelRule& rule, std::size_t start, std::size_t count, std::int16_t* out) {
    const Strided<Source> block = Strided<Source>{rule.data, rule.stride, rule.size}.rows(start, count);
    const Wide label = rule_label<Wide>(rule);
    // Compares the block's values, taken as Compared, with the label.
    auto compare_as = [&]<class Compared>(Compared compared_label) {
        with_accessor(block, [&](auto at) {
            if constexpr (std::is_same_v<Compared, std::int64_t>) {
                for (std::size_t i = 0; i < count; ++i)
                    out[i] = Discrete ? WideIntegerCompare::equal(at(i), compared_label)
                                      : WideIntegerCompare::at_least(at(i), compared_label);
            } else if constexpr (Discrete) {
                apply_label_discrete<Compared>(count, at, compared_label, out);
            } else {
                apply_label_continuous<Compared>(count, at, compared_label, out);
            }
            return 0;
        });
    };
    if constexpr (std::is_integral_v<Source> && !std::is_same_v<Source, std::int64_t>) {
        // A narrower column compares in its own width; a label outside its range
        // gives the same answer for every row.
        constexpr auto lowest = static_cast<std::int64_t>(std::numeric_limits<Source>::min());
        constexpr auto highest = static_cast<std::int64_t>(std::numeric_limits<Source>::max());
        if (label < lowest || label > highest) {
            std::fill(out, out + count, static_cast<std::int16_t>(!Discrete && label < lowest));
            return;
        }
        compare_as(static_cast<Source>(label));
    } else {
        compare_as(label);
    }
}

// The numeric labelling rule on a column widened to Wide (int64 or double):
// equality with the label when the column holds exactly two distinct values,
// greater-or-equal against it as a threshold otherwise. The column decides
// between the two now; the labels come block by block when it is read.
template <class Wide, class Source>
LabelledColumn label_numeric(const Strided<Source>& column, Wide label) {
    LabelRule rule;
    rule.data = column.data;
    rule.stride = column.stride;
    rule.size = column.size;
    if constexpr (std::is_same_v<Wide, double>)
        rule.float_label = label;
    else
        rule.integer_label = label;
    const bool discrete = with_accessor(column, [&](auto at) { return has_two_distinct_values<Wide>(column.size, at); });
    rule.fill = discrete ? &fill_labels<Source, Wide, true> : &fill_labels<Source, Wide, false>;
    return LabelledColumn(rule);
}

}  // namespace zentrova::labelling
