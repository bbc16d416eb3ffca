#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zentrova::data_handler {

// The classification of a NumPy array by its element type.
enum class ColumnType { Float, Integer, Other };

// A read-only view of a column with a byte stride: either a NumPy array's own
// memory or a vector read from it.
template <class T>
struct Strided {
    const char* data = nullptr;
    std::ptrdiff_t stride = sizeof(T);
    std::size_t size = 0;

    T operator[](std::size_t i) const noexcept {
        T value;
        std::memcpy(&value, data + static_cast<std::ptrdiff_t>(i) * stride, sizeof(T));
        return value;
    }
};

template <class T>
Strided<T> strided(const std::vector<T>& column) noexcept {
    return {reinterpret_cast<const char*>(column.data()), static_cast<std::ptrdiff_t>(sizeof(T)),
            column.size()};
}

}  // namespace zentrova::data_handler
