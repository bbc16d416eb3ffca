// Labelling of one block of rows under both candidate rules at once. A row of
// a numeric column gets two bits: bit 0 "equals the label", bit 1 "is at least
// the label". Which rule counts is decided only when metrics are asked for:
// equality when the whole column holds exactly two distinct 32-bit keys,
// greater-or-equal otherwise. A text row is either equal or not, so both bits
// carry its match.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "engine/columns.hpp"

namespace zentrova::engine {

inline constexpr std::uint8_t equal_bit = 1, at_least_bit = 2;

// The most rows labelled at once.
inline constexpr std::size_t label_block_rows = 2048;

// Up to two distinct keys, or the knowledge that there are more.
struct DistinctKeys {
    std::uint8_t count = 0;
    bool many = false;
    std::int32_t keys[2] = {0, 0};  // ascending when count is 2

    void insert(std::int32_t key) noexcept {
        if (many) return;
        for (std::uint8_t i = 0; i < count; ++i)
            if (keys[i] == key) return;
        if (count == 2) {
            *this = DistinctKeys{};
            many = true;
            return;
        }
        keys[count++] = key;
        if (count == 2 && keys[0] > keys[1]) std::swap(keys[0], keys[1]);
    }
    void merge(const DistinctKeys& other) noexcept {
        if (other.many) {
            *this = DistinctKeys{};
            many = true;
            return;
        }
        for (std::uint8_t i = 0; i < other.count; ++i) insert(other.keys[i]);
    }
    bool exactly_two() const noexcept { return !many && count == 2; }
    bool valid() const noexcept {
        if (many) return count == 0 && keys[0] == 0 && keys[1] == 0;
        if (count > 2) return false;
        if (count < 2 && keys[1] != 0) return false;
        if (count == 0 && keys[0] != 0) return false;
        return count < 2 || keys[0] < keys[1];
    }
    friend bool operator==(const DistinctKeys&, const DistinctKeys&) = default;
};

// Truncation toward zero, saturating, NaN to 0; written as the selections of
// a vector maximum and minimum, so a loop of it vectorises.
inline std::int32_t truncate_to_i32(double value) noexcept {
    double clamped = value > -2147483648.0 ? value : -2147483648.0;
    clamped = clamped < 2147483647.0 ? clamped : 2147483647.0;
    return static_cast<std::int32_t>(value == value ? clamped : 0.0);
}

// Truncation toward zero, saturating, NaN to 0: a float label of an integer column.
inline std::int64_t truncate_to_i64(double value) noexcept {
    if (value != value) return 0;
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

template <class S>
std::int32_t distinct_key(S value) noexcept {
    if constexpr (std::is_integral_v<S>)
        // the low 32 bits, wrapping
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
    else
        return truncate_to_i32(static_cast<double>(value));
}

// Calls body(at) with an accessor of rows [start, start + count): a plain
// pointer for aligned contiguous memory, so loops vectorise, else a strided read.
template <class S, class Body>
void with_rows(const columns::ColumnView& column, std::size_t start, Body&& body) {
    const char* base = column.data + static_cast<std::ptrdiff_t>(start) * column.stride;
    if (column.stride == static_cast<std::ptrdiff_t>(sizeof(S)) &&
        reinterpret_cast<std::uintptr_t>(base) % alignof(S) == 0) {
        const S* values = reinterpret_cast<const S*>(base);
        body([values](std::size_t k) { return values[k]; });
        return;
    }
    const std::ptrdiff_t stride = column.stride;
    body([base, stride](std::size_t k) {
        S value;
        std::memcpy(&value, base + static_cast<std::ptrdiff_t>(k) * stride, sizeof value);
        return value;
    });
}

// Adds the keys of `count` rows; a block whose keys are all known already
// costs one vectorised pass.
template <class S, class At>
void scan_keys(At at, std::size_t count, DistinctKeys& keys) noexcept {
    if (keys.many) return;
    if (keys.count > 0) {
        const std::int32_t a = keys.keys[0], b = keys.count == 2 ? keys.keys[1] : keys.keys[0];
        std::uint32_t other = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::int32_t key = distinct_key<S>(at(k));
            other |= static_cast<std::uint32_t>(key != a) & static_cast<std::uint32_t>(key != b);
        }
        if (other == 0) return;
    }
    for (std::size_t k = 0; k < count && !keys.many; ++k) keys.insert(distinct_key<S>(at(k)));
}

// Signed 64-bit comparisons from subtraction, xor and shifts, which vectorise
// with the baseline instruction set (it has no 64-bit compare).
inline std::uint8_t equal_i64(std::int64_t value, std::int64_t label) noexcept {
    const auto x = static_cast<std::uint64_t>(value ^ label);
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(x | (x >> 32)) == 0);
}
inline std::uint8_t at_least_i64(std::int64_t value, std::int64_t threshold) noexcept {
    const auto x = static_cast<std::uint64_t>(value), y = static_cast<std::uint64_t>(threshold);
    const std::uint64_t difference = x - y;
    const std::uint64_t less = (difference ^ ((x ^ y) & (difference ^ x))) >> 63;
    return static_cast<std::uint8_t>(less ^ 1);
}

template <class S>
void label_numeric_block(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                         std::uint8_t* out, DistinctKeys& keys) {
    with_rows<S>(input.view, start, [count, out, &input, &keys](auto at) {
        // Labels are bytes, which may alias anything, the closure included:
        // every value a loop reads is a local, so the loops vectorise.
        const std::size_t n = count;
        std::uint8_t* __restrict const labels = out;
        scan_keys<S>(at, n, keys);
        // With three distinct keys the column's rule is greater-or-equal for
        // good: the equality bit is left 0 (it will never be read).
        const bool threshold_only = keys.many;
        if constexpr (std::is_floating_point_v<S>) {
            // Two passes that each vectorise (one fused loop does not): the
            // bits as small floats, then as bytes.
            const double threshold = input.float_label;
            std::array<float, label_block_rows> code;
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k) code[k] = static_cast<double>(at(k)) >= threshold ? 2.0f : 0.0f;
            } else {
                for (std::size_t k = 0; k < n; ++k) {
                    const double v = static_cast<double>(at(k));
                    code[k] = (v >= threshold ? 2.0f : 0.0f) + (v == threshold ? 1.0f : 0.0f);
                }
            }
            for (std::size_t k = 0; k < n; ++k) labels[k] = static_cast<std::uint8_t>(static_cast<std::int32_t>(code[k]));
        } else if constexpr (std::is_same_v<S, std::int64_t>) {
            const std::int64_t threshold = input.integer_label;
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k)
                    labels[k] = static_cast<std::uint8_t>(at_least_i64(at(k), threshold) << 1);
                return;
            }
            for (std::size_t k = 0; k < n; ++k)
                labels[k] = static_cast<std::uint8_t>(equal_i64(at(k), threshold) |
                                                      (at_least_i64(at(k), threshold) << 1));
        } else {
            // A narrower column compares in its own width; a label outside its
            // range gives the same answer for every row.
            constexpr auto lowest = static_cast<std::int64_t>(std::numeric_limits<S>::min());
            constexpr auto highest = static_cast<std::int64_t>(std::numeric_limits<S>::max());
            const std::int64_t label = input.integer_label;
            if (label < lowest || label > highest) {
                std::fill(labels, labels + n, static_cast<std::uint8_t>(label < lowest ? at_least_bit : 0));
                return;
            }
            const auto threshold = static_cast<S>(label);
            if (threshold_only) {
                for (std::size_t k = 0; k < n; ++k)
                    labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(at(k) >= threshold) << 1);
                return;
            }
            for (std::size_t k = 0; k < n; ++k) {
                const S v = at(k);
                labels[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(v == threshold) |
                                                      (static_cast<std::uint8_t>(v >= threshold) << 1));
            }
        }
    });
}

// Rows of `Width` code points equal to `pattern`, compared in 64-bit words
// (and one 32-bit word for an odd width); Width 0 is any width, one code
// point at a time.
template <std::size_t Width>
void match_text_rows(const char* rows, std::ptrdiff_t stride, std::size_t count, std::size_t width,
                     const std::uint32_t* pattern, std::uint8_t* __restrict out) {
    if constexpr (Width == 0) {
        for (std::size_t k = 0; k < count; ++k) {
            const char* row = rows + static_cast<std::ptrdiff_t>(k) * stride;
            std::uint32_t difference = 0;
            for (std::size_t j = 0; j < width; ++j) {
                std::uint32_t c;
                std::memcpy(&c, row + j * sizeof c, sizeof c);
                difference |= c ^ pattern[j];
            }
            const std::uint32_t differs = (difference | (0u - difference)) >> 31;
            out[k] = static_cast<std::uint8_t>((differs ^ 1u) * (equal_bit | at_least_bit));
        }
    } else {
        constexpr std::size_t words = Width / 2;
        std::uint64_t wide[words > 0 ? words : 1] = {};
        std::memcpy(wide, pattern, words * sizeof(std::uint64_t));
        const std::uint32_t last = Width % 2 ? pattern[Width - 1] : 0;
        for (std::size_t k = 0; k < count; ++k) {
            const char* row = rows + static_cast<std::ptrdiff_t>(k) * stride;
            std::uint64_t difference = 0;
            for (std::size_t j = 0; j < words; ++j) {
                std::uint64_t word;
                std::memcpy(&word, row + j * sizeof word, sizeof word);
                difference |= word ^ wide[j];
            }
            if constexpr (Width % 2 != 0) {
                std::uint32_t c;
                std::memcpy(&c, row + (Width - 1) * sizeof c, sizeof c);
                difference |= c ^ last;
            }
            // Without a branch (which rows match is as unpredictable as the data):
            // the top bit of d | -d is set exactly when d is not 0.
            const std::uint64_t differs = (difference | (0 - difference)) >> 63;
            out[k] = static_cast<std::uint8_t>((differs ^ 1) * (equal_bit | at_least_bit));
        }
    }
}

// Fixed-width text rows equal to the label: the label's code points, then NULs.
inline void label_unicode_block(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                                std::uint8_t* out) {
    const columns::ColumnView& view = input.view;
    const labelling::TextLabel& label = input.text_label;
    const std::size_t width = view.itemsize / sizeof(std::uint32_t);
    // A row never ends with NUL, so a label that does (or that is wider than a
    // row) matches nothing; rows of no code points are all the empty text.
    const bool can_match = label.usable && label.code_points.size() <= width &&
                           (label.code_points.empty() || label.code_points.back() != 0);
    if (!can_match || width == 0) {
        std::fill(out, out + count, can_match ? static_cast<std::uint8_t>(equal_bit | at_least_bit) : std::uint8_t{0});
        return;
    }
    constexpr std::size_t narrow = 16;
    std::array<std::uint32_t, narrow> inline_pattern{};
    std::vector<std::uint32_t> wide_pattern;
    std::uint32_t* pattern = inline_pattern.data();
    if (width > narrow) {
        wide_pattern.assign(width, 0);
        pattern = wide_pattern.data();
    }
    std::copy(label.code_points.begin(), label.code_points.end(), pattern);
    using Matcher = void (*)(const char*, std::ptrdiff_t, std::size_t, std::size_t, const std::uint32_t*,
                             std::uint8_t*);
    static constexpr std::array<Matcher, narrow + 1> by_width = {
        &match_text_rows<0>,  &match_text_rows<1>,  &match_text_rows<2>,  &match_text_rows<3>,
        &match_text_rows<4>,  &match_text_rows<5>,  &match_text_rows<6>,  &match_text_rows<7>,
        &match_text_rows<8>,  &match_text_rows<9>,  &match_text_rows<10>, &match_text_rows<11>,
        &match_text_rows<12>, &match_text_rows<13>, &match_text_rows<14>, &match_text_rows<15>,
        &match_text_rows<16>,
    };
    const Matcher match = width <= narrow ? by_width[width] : &match_text_rows<0>;
    match(view.data + static_cast<std::ptrdiff_t>(start) * view.stride, view.stride, count, width, pattern, out);
}

// Both rule bits of rows [start, start + count) of a column, and its keys.
inline void label_block(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                        std::uint8_t* out, DistinctKeys& keys) {
    switch (input.view.kind) {
        case columns::ElementKind::Int16:
            return label_numeric_block<std::int16_t>(input, start, count, out, keys);
        case columns::ElementKind::Int32:
            return label_numeric_block<std::int32_t>(input, start, count, out, keys);
        case columns::ElementKind::Int64:
            return label_numeric_block<std::int64_t>(input, start, count, out, keys);
        case columns::ElementKind::Float32: return label_numeric_block<float>(input, start, count, out, keys);
        case columns::ElementKind::Float64: return label_numeric_block<double>(input, start, count, out, keys);
        case columns::ElementKind::Unicode: return label_unicode_block(input, start, count, out);
        case columns::ElementKind::Other: break;
    }
    // Text rows read item by item, compared as UTF-8.
    const labelling::TextLabel& label = input.text_label;
    for (std::size_t k = 0; k < count; ++k)
        out[k] = label.usable && input.rows[start + k] == label.utf8 ? static_cast<std::uint8_t>(equal_bit | at_least_bit)
                                                                     : 0;
}

// The keys of rows [start, start + count) that are not counted (beyond the
// shortest column of a batch), which still decide the column's rule.
inline void scan_block_keys(const labelling::LabelInput& input, std::size_t start, std::size_t count,
                            DistinctKeys& keys) {
    if (columns::family_of(input.view.kind) == columns::Family::Text) return;
    columns::visit_numeric(input.view.kind, [&]<class S>(S) {
        with_rows<S>(input.view, start, [&](auto at) { scan_keys<S>(at, count, keys); });
    });
}

}  // namespace zentrova::engine
