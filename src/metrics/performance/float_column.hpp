// A performance column: one float per array item, in order, produced block by
// block from a numeric column in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "columns/block_column.hpp"
#include "columns/dtype.hpp"

namespace zentrova::performance {

// Values of a numeric column in memory that the caller keeps alive and unchanged.
struct FloatSource {
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    void (*fill)(const FloatSource& source, std::size_t start, std::size_t count, float* out) = nullptr;
};

using PerfColumn = columns::BlockColumn<float, FloatSource>;

// Every value goes through a double first, as the float protocol takes it.
template <class T>
void fill_floats(const FloatSource& source, std::size_t start, std::size_t count, float* out) {
    const columns::Strided<T> view = columns::Strided<T>{source.data, source.stride, source.size}.rows(start, count);
    if (view.stride == static_cast<std::ptrdiff_t>(sizeof(T))) {
        for (std::size_t k = 0; k < count; ++k) {
            T value;
            std::memcpy(&value, view.data + k * sizeof(T), sizeof(T));
            out[k] = static_cast<float>(static_cast<double>(value));
        }
        return;
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<float>(static_cast<double>(view[k]));
}

// Contiguous int64 values within ±2^51 convert to double exactly through the
// bits of 2^52 + 2^51 + v, which vectorises where a direct conversion does not;
// a block holding a larger value converts value by value. The sums are taken
// as unsigned so that a large value wraps instead of overflowing.
template <>
inline void fill_floats<std::int64_t>(const FloatSource& source, std::size_t start, std::size_t count, float* out) {
    const auto view = columns::Strided<std::int64_t>{source.data, source.stride, source.size}.rows(start, count);
    if (view.stride == static_cast<std::ptrdiff_t>(sizeof(std::int64_t))) {
        constexpr std::uint64_t limit = std::uint64_t{1} << 51;
        constexpr double magic = 6755399441055744.0;  // 2^52 + 2^51
        std::uint64_t magic_bits;
        std::memcpy(&magic_bits, &magic, sizeof magic);
        std::uint64_t outside = 0;
        for (std::size_t k = 0; k < count; ++k) {
            std::uint64_t value;
            std::memcpy(&value, view.data + k * sizeof value, sizeof value);
            outside |= (value + limit) >> 52;  // nonzero unless -2^51 <= v < 2^51
            const std::uint64_t shifted = value + magic_bits;
            double widened;
            std::memcpy(&widened, &shifted, sizeof widened);
            out[k] = static_cast<float>(widened - magic);
        }
        if (outside == 0) return;
    }
    for (std::size_t k = 0; k < count; ++k) out[k] = static_cast<float>(static_cast<double>(view[k]));
}

// The float column of a numeric column view.
inline PerfColumn float_column(const columns::ColumnView& view) {
    return columns::visit_numeric(view.kind, [&]<class T>(T) {
        return PerfColumn(FloatSource{view.data, view.stride, view.size, &fill_floats<T>});
    });
}

}  // namespace zentrova::performance
