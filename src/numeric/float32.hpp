// Helpers for single-precision metric arithmetic.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zentrova {

// A count accumulated by adding 1.0f to a float that starts at zero: exact up to
// 2^24, where adding one more leaves it unchanged.
inline float saturating_count(std::uint64_t count) noexcept {
    constexpr std::uint64_t limit = std::uint64_t{1} << 24;
    return static_cast<float>(std::min(count, limit));
}

// A length or integer count converted to the nearest float.
inline float to_f32(std::uint64_t count) noexcept { return static_cast<float>(count); }

}  // namespace zentrova
