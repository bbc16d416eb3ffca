#include "data_handler/labelling.hpp"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "data_handler/column_type.hpp"
#include "data_handler/label_kernels.hpp"
#include "data_handler/numpy_api.hpp"
#include "data_handler/python_values.hpp"
#include "data_handler/text_kernels.hpp"

namespace zentrova::data_handler {
namespace {

using numpy::DirectArray;
using numpy::ElementKind;

template <class T>
Strided<T> view_of(const DirectArray& array) noexcept {
    return {array.data, array.stride, array.size};
}

// Reads every item of the array through the iteration protocol.
template <class Value>
Result<std::vector<Value>> read_by_iteration(PyObject* array, std::optional<Value> (*convert)(PyObject*)) {
    std::vector<Value> values;
    values.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        std::optional<Value> value = convert(item.get());
        if (!value) return take_python_error();
        values.push_back(*value);
    }
    if (PyErr_Occurred()) return take_python_error();
    return values;
}

std::optional<std::int64_t> item_as_integer(PyObject* item) {
    const long value = PyLong_AsLong(item);
    if (value == -1 && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::optional<double> item_as_double(PyObject* item) {
    if (PyFloat_CheckExact(item)) return PyFloat_AS_DOUBLE(item);
    const double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred()) return std::nullopt;
    return value;
}

// Labels a numeric column read from memory: at once, or deferred to when the
// column is read when the caller keeps the memory alive and unchanged.
template <class Wide, class Source>
LabelledColumn label_in_memory(const DirectArray& direct, Wide label, bool defer) {
    const Strided<Source> view = view_of<Source>(direct);
    return defer ? label_numeric_deferred<Wide>(view, label) : label_numeric<Wide>(view, label);
}

Result<LabelledColumn> label_integer_column(PyObject* array, const std::optional<DirectArray>& direct,
                                            PyObject* label, bool defer) {
    std::vector<std::int64_t> values;
    if (!direct) {
        auto read = read_by_iteration(array, item_as_integer);
        if (!read) return std::move(read).error();
        values = std::move(read).value();
    }
    std::int64_t threshold;
    if (PyFloat_Check(label)) {
        threshold = truncate_to_i64(PyFloat_AsDouble(label));
    } else if (PyLong_Check(label)) {
        const long value = PyLong_AsLong(label);
        if (value == -1 && PyErr_Occurred()) return take_python_error();
        threshold = value;
    } else {
        return Error{"float"};
    }
    if (!direct) return label_numeric<std::int64_t>(strided(values), threshold);
    switch (direct->kind) {
        case ElementKind::Int16: return label_in_memory<std::int64_t, std::int16_t>(*direct, threshold, defer);
        case ElementKind::Int32: return label_in_memory<std::int64_t, std::int32_t>(*direct, threshold, defer);
        default: return label_in_memory<std::int64_t, std::int64_t>(*direct, threshold, defer);
    }
}

Result<LabelledColumn> label_float_column(PyObject* array, const std::optional<DirectArray>& direct,
                                          PyObject* label, bool defer) {
    std::vector<double> values;
    if (!direct) {
        auto read = read_by_iteration(array, item_as_double);
        if (!read) return std::move(read).error();
        values = std::move(read).value();
    }
    double threshold;
    if (PyFloat_Check(label)) {
        threshold = PyFloat_AsDouble(label);
    } else if (PyLong_Check(label)) {
        const long value = PyLong_AsLong(label);
        if (value == -1 && PyErr_Occurred()) return take_python_error();
        threshold = static_cast<double>(value);
    } else {
        return Error{"float"};
    }
    if (!direct) return label_numeric<double>(strided(values), threshold);
    if (direct->kind == ElementKind::Float32) return label_in_memory<double, float>(*direct, threshold, defer);
    return label_in_memory<double, double>(*direct, threshold, defer);
}

// The label of a text column, taken before the column is read so that rows can
// be compared while they are read; its own errors count only after the read.
struct TextLabel {
    bool is_text = false;
    std::optional<std::string> utf8;
    std::vector<std::uint32_t> code_points;

    explicit TextLabel(PyObject* label) {
        if (!PyUnicode_Check(label)) return;
        is_text = true;
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(label, &size);
        if (data == nullptr) {
            PyErr_Clear();
            return;
        }
        utf8.emplace(data, static_cast<std::size_t>(size));
        const Py_ssize_t length = PyUnicode_GetLength(label);
        code_points.reserve(static_cast<std::size_t>(length));
        for (Py_ssize_t i = 0; i < length; ++i) code_points.push_back(PyUnicode_ReadChar(label, i));
    }

    bool matches(std::string_view row) const noexcept { return utf8 && row == *utf8; }
};

// One item of a text column: must be a str, taken as UTF-8.
Result<bool> text_item_matches(PyObject* item, const TextLabel& label) {
    if (!PyUnicode_Check(item)) {
        set_conversion_error(item, "PyString");
        return take_python_error();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &size);
    if (data == nullptr) return take_python_error();
    return label.matches(std::string_view(data, static_cast<std::size_t>(size)));
}

Result<LabelledColumn> read_text_by_iteration(PyObject* array, const TextLabel& label) {
    LabelValues labels;
    labels.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        Result<bool> match = text_item_matches(item.get(), label);
        if (!match) return std::move(match).error();
        labels.push_back(static_cast<std::int16_t>(*match));
    }
    if (PyErr_Occurred()) return take_python_error();
    return LabelledColumn(std::move(labels));
}

// A fixed-width unicode array read from memory: a row is its code points with
// trailing NULs dropped, as NumPy's str scalars give it.
Result<LabelledColumn> read_text_directly(PyObject* array, const DirectArray& direct, const TextLabel& label) {
    const std::size_t width = direct.itemsize / sizeof(Py_UCS4);
    // Without a usable label nothing matches.
    static const std::vector<std::uint32_t> unmatchable = {0};
    const LabelledColumn matcher = label_text_deferred(direct.data, direct.stride, direct.size, width,
                                                       label.utf8 ? label.code_points : unmatchable);
    // Each block of rows is checked and then labelled while it is still in cache.
    LabelValues labels(direct.size);
    for (std::size_t start = 0; start < direct.size; start += block_rows) {
        const std::size_t count = std::min(block_rows, direct.size - start);
        const char* rows = direct.data + static_cast<std::ptrdiff_t>(start) * direct.stride;
        if (!all_code_points_valid(rows, direct.stride, count, width)) {
            // A row holds a code point NumPy or the encoder refuses: take each
            // row as the iteration would, so the same error comes out.
            return read_text_by_iteration(array, label);
        }
        matcher.block(start, count, labels.data() + start);
    }
    return LabelledColumn(std::move(labels));
}

Result<LabelledColumn> label_text_column(PyObject* array, const std::optional<DirectArray>& direct,
                                         PyObject* label_object) {
    const TextLabel label(label_object);
    Result<LabelledColumn> labels = direct && direct->kind == ElementKind::Unicode
                                        ? read_text_directly(array, *direct, label)
                                        : read_text_by_iteration(array, label);
    if (!labels) return labels;
    if (!label.is_text) return Error{"string"};
    if (!label.utf8) {
        Py_ssize_t size = 0;
        if (PyUnicode_AsUTF8AndSize(label_object, &size) == nullptr) return take_python_error();
    }
    return labels;
}

}  // namespace

Result<LabelledColumn> apply_label(PyObject* array, PyObject* label, bool defer) {
    const ColumnType type = numpy::determine_type(array);
    const std::optional<DirectArray> direct = numpy::direct_array(array);
    switch (type) {
        case ColumnType::Integer: return label_integer_column(array, direct, label, defer);
        case ColumnType::Float: return label_float_column(array, direct, label, defer);
        case ColumnType::Other: break;
    }
    return label_text_column(array, direct, label);
}

}  // namespace zentrova::data_handler
