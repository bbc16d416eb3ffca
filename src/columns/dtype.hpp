// The one classifier of element types, by kind character and item size, and
// the dispatch from a classified column to code typed on its elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "columns/strided.hpp"

namespace zentrova::columns {

enum class ElementKind { Int16, Int32, Int64, Float32, Float64, Unicode, Other };

// How the metric code treats a column: numbers compared as integers, numbers
// compared as floats, or text (anything else is read item by item as text).
enum class Family { Integer, Float, Text };

// `kind` is the one-letter kind of the element type ('i', 'f', 'U', ...);
// byte-swapped elements are not read as numbers or code points.
constexpr ElementKind classify(char kind, std::size_t itemsize, bool native_order) noexcept {
    if (!native_order) return ElementKind::Other;
    if (kind == 'i' && itemsize == 2) return ElementKind::Int16;
    if (kind == 'i' && itemsize == 4) return ElementKind::Int32;
    if (kind == 'i' && itemsize == 8) return ElementKind::Int64;
    if (kind == 'f' && itemsize == 4) return ElementKind::Float32;
    if (kind == 'f' && itemsize == 8) return ElementKind::Float64;
    if (kind == 'U') return ElementKind::Unicode;
    return ElementKind::Other;
}

constexpr Family family_of(ElementKind kind) noexcept {
    switch (kind) {
        case ElementKind::Int16:
        case ElementKind::Int32:
        case ElementKind::Int64: return Family::Integer;
        case ElementKind::Float32:
        case ElementKind::Float64: return Family::Float;
        default: return Family::Text;
    }
}

// A one-dimensional column of classified elements in memory.
struct ColumnView {
    ElementKind kind = ElementKind::Other;
    const char* data = nullptr;
    std::ptrdiff_t stride = 0;
    std::size_t size = 0;
    std::size_t itemsize = 0;

    template <class T>
    Strided<T> as() const noexcept {
        return {data, stride, size};
    }
};

// Rows [start, start + count) of a column.
inline ColumnView rows_of(const ColumnView& column, std::size_t start, std::size_t count) noexcept {
    ColumnView part = column;
    part.data += static_cast<std::ptrdiff_t>(start) * column.stride;
    part.size = count;
    return part;
}

template <class T>
ColumnView view_of(ElementKind kind, const std::vector<T>& values) noexcept {
    return {kind, reinterpret_cast<const char*>(values.data()), static_cast<std::ptrdiff_t>(sizeof(T)),
            values.size(), sizeof(T)};
}

// Calls body(T{}) with the C++ type of a numeric column's elements.
template <class Body>
decltype(auto) visit_numeric(ElementKind kind, Body&& body) {
    switch (kind) {
        case ElementKind::Int16: return body(std::int16_t{});
        case ElementKind::Int32: return body(std::int32_t{});
        case ElementKind::Int64: return body(std::int64_t{});
        case ElementKind::Float32: return body(float{});
        default: return body(double{});
    }
}

// A packed copy of the column's rows in `storage`, for a column whose memory
// may change before it is read.
inline ColumnView packed_copy(const ColumnView& view, std::vector<char>& storage) {
    storage.resize(view.size * view.itemsize);
    for (std::size_t i = 0; i < view.size; ++i)
        std::memcpy(storage.data() + i * view.itemsize, view.data + static_cast<std::ptrdiff_t>(i) * view.stride,
                    view.itemsize);
    return {view.kind, storage.data(), static_cast<std::ptrdiff_t>(view.itemsize), view.size, view.itemsize};
}

}  // namespace zentrova::columns
