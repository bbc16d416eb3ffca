// Labelling of numeric columns: equality with a label for a column of exactly
// two distinct values, greater-or-equal against a threshold otherwise.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "data_handler/column_type.hpp"
#include "data_handler/labelled_column.hpp"

namespace zentrova::data_handler {

// Wrapping reduction of an integer to its low 32 bits.
inline std::int32_t low_32_bits(std::int64_t value) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// Truncation toward zero, saturating, NaN to 0.
inline std::int32_t truncate_to_i32(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
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
template <class Wide, class Source>
bool has_two_distinct_values(const Strided<Source>& column) noexcept {
    const std::size_t n = column.size;
    if (n == 0) return false;
    const std::int32_t first = distinct_key(static_cast<Wide>(column[0]));
    std::size_t i = 1;
    while (i < n && distinct_key(static_cast<Wide>(column[i])) == first) ++i;
    if (i == n) return false;
    const std::int32_t second = distinct_key(static_cast<Wide>(column[i]));
    for (++i; i < n; ++i) {
        const std::int32_t key = distinct_key(static_cast<Wide>(column[i]));
        if (key != first && key != second) return false;
    }
    return true;
}

template <class Wide, class Source>
LabelledColumn apply_label_discrete(const Strided<Source>& column, Wide label) {
    LabelledColumn out(column.size);
    for (std::size_t i = 0; i < column.size; ++i)
        out[i] = static_cast<std::int16_t>(static_cast<Wide>(column[i]) == label);
    return out;
}

template <class Wide, class Source>
LabelledColumn apply_label_continuous(const Strided<Source>& column, Wide threshold) {
    LabelledColumn out(column.size);
    for (std::size_t i = 0; i < column.size; ++i)
        out[i] = static_cast<std::int16_t>(static_cast<Wide>(column[i]) >= threshold);
    return out;
}

// The numeric labelling rule on a column widened to Wide (int64 or double).
template <class Wide, class Source>
LabelledColumn label_numeric(const Strided<Source>& column, Wide label) {
    if (has_two_distinct_values<Wide>(column)) return apply_label_discrete<Wide>(column, label);
    return apply_label_continuous<Wide>(column, label);
}

}  // namespace zentrova::data_handler
