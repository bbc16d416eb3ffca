// Fixed-width unicode rows held in memory: each row is `width` 32-bit code
// points, a text padded with NULs at its end.
#pragma once

#include <cstdint>
#include <cstring>

#include <cstddef>

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

}  // namespace zentrova::labelling
