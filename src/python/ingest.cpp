#include "python/ingest.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "columns/interrupt.hpp"
#include "engine/labelling.hpp"
#include "metrics/labelling/text_labels.hpp"
#include "python/values.hpp"

namespace zentrova::python {
namespace {

using columns::ElementKind;
using labelling::LabelInput;

// Calls add(item) for every item of the array, in iteration order; `add`
// returns false with a Python exception set to stop.
template <class Add>
bool for_each_item(PyObject* array, Add&& add) {
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return false;
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get())))
        if (!add(item.get())) return false;
    return !PyErr_Occurred();
}

// The column's memory, copied when asked.
columns::ColumnView memory_view(const numpy::ArrayInfo& info, bool copy_memory, std::vector<char>& bytes) {
    return copy_memory ? columns::packed_copy(info.view, bytes) : info.view;
}

std::optional<Error> read_integers(PyObject* array, const numpy::ArrayInfo& info, LabelInput& input) {
    input.integers.reserve(info.total_size);
    const bool read = for_each_item(array, [&](PyObject* item) {
        const long value = PyLong_AsLong(item);
        if (value == -1 && PyErr_Occurred()) return false;
        input.integers.push_back(static_cast<std::int64_t>(value));
        return true;
    });
    if (!read) return python_error(ErrorCode::ColumnRead);
    input.view = columns::view_of(ElementKind::Int64, input.integers);
    return std::nullopt;
}

std::optional<Error> read_reals(PyObject* array, const numpy::ArrayInfo& info, LabelInput& input) {
    input.reals.reserve(info.total_size);
    const bool read = for_each_item(array, [&](PyObject* item) {
        const std::optional<double> value = to_double(item);
        if (value) input.reals.push_back(*value);
        return value.has_value();
    });
    if (!read) return python_error(ErrorCode::ColumnRead);
    input.view = columns::view_of(ElementKind::Float64, input.reals);
    return std::nullopt;
}

// Every item must be a str, taken as UTF-8.
std::optional<Error> read_text_rows(PyObject* array, const numpy::ArrayInfo& info, LabelInput& input) {
    input.rows.ends.reserve(info.total_size);
    const bool read = for_each_item(array, [&](PyObject* item) {
        if (!PyUnicode_Check(item)) {
            set_conversion_error(item, "PyString");
            return false;
        }
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(item, &size);
        if (data == nullptr) return false;
        input.rows.push_back(std::string_view(data, static_cast<std::size_t>(size)));
        return true;
    });
    if (!read) return python_error(ErrorCode::ColumnRead);
    input.view = {};
    return std::nullopt;
}

// Whether every row holds only code points a str can hold; rows that do not
// are read by iteration, so that NumPy's own error comes out.
bool code_points_valid(const columns::ColumnView& view) {
    const std::size_t width = view.itemsize / sizeof(std::uint32_t);
    columns::InterruptPoller poller;
    constexpr std::size_t block_rows = 2048;  // checked while in cache
    for (std::size_t start = 0; start < view.size; start += block_rows) {
        const std::size_t count = std::min(block_rows, view.size - start);
        poller.advance(count * std::max<std::size_t>(width, 1));
        if (!labelling::all_code_points_valid(view.data + static_cast<std::ptrdiff_t>(start) * view.stride,
                                              view.stride, count, width))
            return false;
    }
    return true;
}

// A numeric label: an int, or a float (truncated toward zero, saturating, for
// an integer column).
template <class Wide>
std::optional<Error> numeric_label(PyObject* label, Wide& out) {
    if (PyFloat_Check(label)) {
        const double value = PyFloat_AsDouble(label);
        if constexpr (std::is_same_v<Wide, double>)
            out = value;
        else
            out = engine::truncate_to_i64(value);
    } else if (PyLong_Check(label)) {
        const long value = PyLong_AsLong(label);
        if (value == -1 && PyErr_Occurred()) return python_error(ErrorCode::ColumnRead);
        out = static_cast<Wide>(value);
    } else {
        return Error{ErrorCode::LabelNotNumber};
    }
    return std::nullopt;
}

std::optional<Error> text_label(PyObject* label, LabelInput& input) {
    if (!PyUnicode_Check(label)) return Error{ErrorCode::LabelNotText};
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(label, &size);
    if (data == nullptr) return python_error(ErrorCode::ColumnRead);
    labelling::TextLabel& text = input.text_label;
    text.usable = true;
    text.utf8.assign(data, static_cast<std::size_t>(size));
    const Py_ssize_t length = PyUnicode_GetLength(label);
    text.code_points.reserve(static_cast<std::size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) text.code_points.push_back(PyUnicode_ReadChar(label, i));
    return std::nullopt;
}

}  // namespace

bool all_in_memory(std::initializer_list<const numpy::ArrayInfo*> arrays) noexcept {
    return std::all_of(arrays.begin(), arrays.end(), [](const numpy::ArrayInfo* info) { return info->in_memory; });
}

Result<LabelInput> label_input(PyObject* array, const numpy::ArrayInfo& info, PyObject* label, bool copy_memory,
                               bool defer_code_point_check) {
    LabelInput input;
    std::optional<Error> error;
    switch (columns::family_of(info.kind)) {
        case columns::Family::Integer:
        case columns::Family::Float: {
            const bool integer = columns::family_of(info.kind) == columns::Family::Integer;
            if (info.in_memory)
                input.view = memory_view(info, copy_memory, input.bytes);
            else
                error = integer ? read_integers(array, info, input) : read_reals(array, info, input);
            if (!error)
                error = integer ? numeric_label(label, input.integer_label) : numeric_label(label, input.float_label);
            break;
        }
        case columns::Family::Text:
            if (info.in_memory && !copy_memory && defer_code_point_check) {
                input.view = info.view;
                input.code_points_unchecked = true;
            } else if (info.in_memory && code_points_valid(info.view)) {
                input.view = memory_view(info, copy_memory, input.bytes);
            } else {
                error = read_text_rows(array, info, input);
            }
            if (!error) error = text_label(label, input);
            break;
    }
    if (error) return std::move(*error);
    return input;
}

Result<FloatInput> float_input(PyObject* array, const numpy::ArrayInfo& info, bool copy_memory) {
    if (columns::family_of(info.kind) == columns::Family::Text) fatal(ErrorCode::TextColumnUnsupported);
    FloatInput input;
    if (info.in_memory) {
        input.view = memory_view(info, copy_memory, input.bytes);
        return input;
    }
    input.values.reserve(info.total_size);
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return python_error(ErrorCode::PerformanceRead);
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        const std::optional<double> value = to_double(item.get());
        if (!value) throw FatalError(python_error(ErrorCode::PerformanceItem));
        input.values.push_back(static_cast<float>(*value));
    }
    if (PyErr_Occurred()) throw FatalError(python_error(ErrorCode::PerformanceItem));
    input.view = columns::view_of(ElementKind::Float32, input.values);
    return input;
}

}  // namespace zentrova::python
