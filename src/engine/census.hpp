// What a caller may ask the engine to count about a column while it reads
// it: rows without a value (NaN) and rows outside the values the column is
// meant to hold. Counted on the original values, before any conversion to
// float (a float64 1 + 1e-12 is not a label 1, though it rounds to one), and
// block by block while the block is in cache. The counts are a side output
// of one call, never part of the statistics.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "columns/dtype.hpp"

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

// Counts of one run of rows, kept in 32 bits so the loop vectorises.
template <class T, ValueRule rule, class At>
void count_rows(At at, std::size_t count, std::uint64_t& missing, std::uint64_t& invalid) noexcept {
    std::uint32_t nan = 0, outside = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const T v = at(k);
        if constexpr (std::is_floating_point_v<T>) nan += static_cast<std::uint32_t>(v != v);
        if constexpr (rule == ValueRule::Label)
            // NaN compares unequal to both, so it is taken back out.
            outside += static_cast<std::uint32_t>(v != T(0)) & static_cast<std::uint32_t>(v != T(1)) &
                       static_cast<std::uint32_t>(v == v);
        else if constexpr (rule == ValueRule::Probability)
            outside += static_cast<std::uint32_t>(v < T(0)) | static_cast<std::uint32_t>(v > T(1));
    }
    missing += nan;
    invalid += outside;
}

template <class T, ValueRule rule>
void count_block(const columns::ColumnView& column, std::size_t start, std::size_t count, std::uint64_t& missing,
                 std::uint64_t& invalid) noexcept {
    const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
    if (column.stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        count_rows<T, rule>(
            [base](std::size_t k) {
                T value;
                std::memcpy(&value, base + k * sizeof(T), sizeof value);
                return value;
            },
            count, missing, invalid);
        return;
    }
    const std::ptrdiff_t stride = column.stride;
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
    // An integer column always has a value in every row, and any value.
    if constexpr (std::is_floating_point_v<T>) count_block<T, ValueRule::Any>(column, start, count, missing, invalid);
}

}  // namespace census_detail

inline void ColumnCensus::add(const columns::ColumnView& column, std::size_t start, std::size_t count) noexcept {
    if (columns::family_of(column.kind) == columns::Family::Text) return;
    // Runs short enough for 32-bit counts.
    constexpr std::size_t run = std::size_t{1} << 30;
    for (std::size_t done = 0; done < count; done += run) {
        const std::size_t rows = std::min(run, count - done);
        columns::visit_numeric(column.kind, [&]<class T>(T) {
            census_detail::count_by_rule<T>(column, rule, start + done, rows, missing, invalid);
        });
    }
}

}  // namespace zentrova::engine
