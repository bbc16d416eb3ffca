// A read-only view of a column of T with a byte stride over memory that the
// caller keeps alive and unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zentrova::columns {

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

    // The rows [start, start + count).
    Strided rows(std::size_t start, std::size_t count) const noexcept {
        return {data + static_cast<std::ptrdiff_t>(start) * stride, stride, count};
    }

    bool contiguous() const noexcept {
        return stride == static_cast<std::ptrdiff_t>(sizeof(T)) &&
               reinterpret_cast<std::uintptr_t>(data) % alignof(T) == 0;
    }
};

// Runs body(at) with an accessor for element i: a plain pointer for contiguous
// aligned memory, so the loops vectorise, or the strided view otherwise.
template <class T, class Body>
decltype(auto) with_accessor(const Strided<T>& column, Body&& body) {
    if (column.contiguous()) {
        const T* values = reinterpret_cast<const T*>(column.data);
        return body([values](std::size_t i) { return values[i]; });
    }
    return body([&column](std::size_t i) { return column[i]; });
}

}  // namespace zentrova::columns
