// Helpers for single-precision metric arithmetic.
#pragma once

#include <cstdint>

namespace zentrova {

// A length or integer count converted to the nearest float.
inline float to_f32(std::uint64_t count) noexcept { return static_cast<float>(count); }

}  // namespace zentrova
