// A performance column: one float per array item, in order.
#pragma once

#include <cstddef>
#include <cstring>

#include "block_column.hpp"
#include "data_handler/column_type.hpp"

namespace zentrova::model_perf {

// Values of a numeric array in memory that the caller keeps alive and unchanged.
struct FloatSource {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    void (*fill)(const FloatSource& source, std::size_t start, std::size_t count, float* out) = nullptr;
};

using PerfColumn = BlockColumn<float, FloatSource>;

// Every value goes through a double first, as the float protocol takes it.
template <class T>
void fill_floats(const FloatSource& source, std::size_t start, std::size_t count, float* out) {
    const char* base = source.data + static_cast<std::ptrdiff_t>(start) * source.stride;
    if (source.stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (std::size_t k = 0; k < count; ++k) {
            T value;
            std::memcpy(&value, base + k * sizeof(T), sizeof(T));
            out[k] = static_cast<float>(static_cast<double>(value));
        }
        return;
    }
    const data_handler::Strided<T> view{base, source.stride, count};
    for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<float>(static_cast<double>(view[k]));
}

// Contiguous int64 values within ±2^51 convert to double exactly through the
// bits of 2^52 + 2^51 + v, which vectorises where a direct conversion does not;
// a block holding a larger value converts value by value.
template <>
inline void fill_floats<std::int64_t>(const FloatSource& source, std::size_t start, std::size_t count, float* out) {
    const char* base = source.data + static_cast<std::ptrdiff_t>(start) * source.stride;
    if (source.stride == static_cast<std::ptrdiff_t>(sizeof(std::int64_t))) {
        constexpr std::int64_t limit = std::int64_t{1} << 51;
        constexpr double magic = 6755399441055744.0;  // 2^52 + 2^51
        std::int64_t magic_bits;
        std::memcpy(&magic_bits, &magic, sizeof magic);
        std::uint64_t outside = 0;
        for (std::size_t k = 0; k < count; ++k) {
            std::int64_t value;
            std::memcpy(&value, base + k * sizeof value, sizeof value);
            outside |= static_cast<std::uint64_t>(value + limit) >> 52;  // nonzero unless -2^51 <= v < 2^51
            const std::int64_t shifted = value + magic_bits;
            double widened;
            std::memcpy(&widened, &shifted, sizeof widened);
            out[k] = static_cast<float>(widened - magic);
        }
        if (outside == 0) return;
    }
    const data_handler::Strided<std::int64_t> view{base, source.stride, count};
    for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<float>(static_cast<double>(view[k]));
}

template <class T>
PerfColumn floats_in_memory(const char* data, std::ptrdiff_t stride, std::size_t size) {
    return PerfColumn(FloatSource{data, stride, size, &fill_floats<T>});
}

}  // namespace zentrova::model_perf
