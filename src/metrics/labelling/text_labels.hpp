// Labelling of fixed-width unicode rows held in memory: each row is `width`
// 32-bit code points, a text padded with NULs at its end.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "metrics/labelling/labelled_column.hpp"

namespace zentrova::labelling {

// 1 for a surrogate or a value beyond U+10FFFF, which no str holds.
inline std::uint32_t invalid_code_point(std::uint32_t c) noexcept {
    return static_cast<std::uint32_t>(c > 0x10FFFF) | static_cast<std::uint32_t>((c - 0xD800u) < 0x800u);
}

inline std::uint32_t code_point_at(const char* row, std::size_t j) noexcept {
    std::uint32_t c;
    std::memcpy(&c, row + j * sizeof c, sizeof c);
    return c;
}

// Whether the code points of rows [0, rows) are all valid (no surrogates,
// nothing above U+10FFFF).
inline bool all_code_points_valid(const char* data, std::ptrdiff_t stride, std::size_t rows, std::size_t width) {
    const auto row_bytes = static_cast<std::ptrdiff_t>(width * sizeof(std::uint32_t));
    std::uint32_t invalid = 0;
    if (stride == row_bytes) {  // one run of code points
        const std::size_t total = rows * width;
        for (std::size_t j = 0; j < total; ++j) invalid |= invalid_code_point(code_point_at(data, j));
        return invalid == 0;
    }
    for (std::size_t i = 0; i < rows; ++i) {
        const char* row = data + static_cast<std::ptrdiff_t>(i) * stride;
        for (std::size_t j = 0; j < width; ++j) invalid |= invalid_code_point(code_point_at(row, j));
    }
    return invalid == 0;
}

// Rows of a known width are compared in 64-bit words (and one 32-bit word for
// an odd width).
template <std::size_t Width>
void fill_text_labels(const LabelRule& rule, std::size_t start, std::size_t count, std::int16_t* out) {
    constexpr std::size_t words = Width / 2;
    std::array<std::uint64_t, words> pattern{};
    std::memcpy(pattern.data(), rule.pattern.data(), words * sizeof(std::uint64_t));
    const std::uint32_t last = Width % 2 ? rule.pattern[Width - 1] : 0;
    const char* rows = rule.data + static_cast<std::ptrdiff_t>(start) * rule.stride;
    for (std::size_t k = 0; k < count; ++k) {
        const char* row = rows + static_cast<std::ptrdiff_t>(k) * rule.stride;
        std::uint64_t difference = 0;
        for (std::size_t j = 0; j < words; ++j) {
            std::uint64_t word;
            std::memcpy(&word, row + j * sizeof word, sizeof word);
            difference |= word ^ pattern[j];
        }
        if constexpr (Width % 2 != 0) difference |= code_point_at(row, Width - 1) ^ last;
        out[k] = static_cast<std::int16_t>(difference == 0);
    }
}

inline void fill_text_labels_any_width(const LabelRule& rule, std::size_t start, std::size_t count,
                                       std::int16_t* out) {
    const char* rows = rule.data + static_cast<std::ptrdiff_t>(start) * rule.stride;
    for (std::size_t k = 0; k < count; ++k) {
        const char* row = rows + static_cast<std::ptrdiff_t>(k) * rule.stride;
        std::uint32_t difference = 0;
        for (std::size_t j = 0; j < rule.width; ++j) difference |= code_point_at(row, j) ^ rule.pattern[j];
        out[k] = static_cast<std::int16_t>(difference == 0);
    }
}

inline void fill_no_match(const LabelRule&, std::size_t, std::size_t count, std::int16_t* out) {
    std::fill(out, out + count, std::int16_t{0});
}

// Rows of no code points are all the empty text.
inline void fill_all_match(const LabelRule&, std::size_t, std::size_t count, std::int16_t* out) {
    std::fill(out, out + count, std::int16_t{1});
}

// Rows equal to the label: the label's code points followed by NULs. A row
// never ends with NUL, so a label that does (or that is wider than a row)
// matches nothing.
inline LabelledColumn label_fixed_text(const char* data, std::ptrdiff_t stride, std::size_t rows,
                                          std::size_t width, const std::vector<std::uint32_t>& label) {
    LabelRule rule;
    rule.data = data;
    rule.stride = stride;
    rule.size = rows;
    rule.width = width;
    const bool can_match = label.size() <= width && (label.empty() || label.back() != 0);
    if (!can_match) {
        rule.fill = &fill_no_match;
        return LabelledColumn(rule);
    }
    rule.pattern.assign(width, 0);
    std::copy(label.begin(), label.end(), rule.pattern.begin());
    static constexpr std::array<void (*)(const LabelRule&, std::size_t, std::size_t, std::int16_t*), 17> by_width = {
        &fill_all_match,       &fill_text_labels<1>,  &fill_text_labels<2>,  &fill_text_labels<3>,
        &fill_text_labels<4>,  &fill_text_labels<5>,  &fill_text_labels<6>,  &fill_text_labels<7>,
        &fill_text_labels<8>,  &fill_text_labels<9>,  &fill_text_labels<10>, &fill_text_labels<11>,
        &fill_text_labels<12>, &fill_text_labels<13>, &fill_text_labels<14>, &fill_text_labels<15>,
        &fill_text_labels<16>,
    };
    rule.fill = width < by_width.size() ? by_width[width] : &fill_text_labels_any_width;
    return LabelledColumn(rule);
}

}  // namespace zentrova::labelling
