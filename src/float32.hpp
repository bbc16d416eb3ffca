// Helpers for single-precision metric arithmetic.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace zentrova {

// A count accumulated by adding 1.0f to a float that starts at zero: exact up to
// 2^24, where adding one more leaves it unchanged.
inline float saturating_count(std::uint64_t count) noexcept {
    constexpr std::uint64_t limit = std::uint64_t{1} << 24;
    return static_cast<float>(std::min(count, limit));
}

// A length or integer count converted to the nearest float.
inline float to_f32(std::uint64_t count) noexcept { return static_cast<float>(count); }

// The shortest decimal text that reads back as the same float, positional,
// never with an exponent: 2 for 2.0, "-0", "NaN", "inf", "-inf".
inline std::string format_f32(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[96];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    (void)ec;  // 96 bytes hold every finite float in positional notation
    return std::string(buffer, end);
}

}  // namespace zentrova
