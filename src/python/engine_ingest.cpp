#include "python/engine_ingest.hpp"

#include <optional>
#include <string>

#include "data_handler/numpy_api.hpp"
#include "data_handler/python_values.hpp"
#include "data_handler/text_kernels.hpp"

namespace zentrova::ingest {
namespace {

using data_handler::take_python_error;
using engine::Element;
using numpy::DirectArray;
using numpy::ElementKind;

Element element_of(ElementKind kind) {
    switch (kind) {
        case ElementKind::Int16: return Element::Int16;
        case ElementKind::Int32: return Element::Int32;
        case ElementKind::Int64: return Element::Int64;
        case ElementKind::Float32: return Element::Float32;
        default: return Element::Float64;
    }
}

engine::NumericColumn view_of(const DirectArray& direct) {
    return {element_of(direct.kind), direct.data, direct.stride, direct.size};
}

template <class T>
engine::NumericColumn view_of(const std::vector<T>& values, Element element) {
    return {element, reinterpret_cast<const char*>(values.data()), static_cast<std::ptrdiff_t>(sizeof(T)),
            values.size()};
}

// Reads every item of the array through the iteration protocol.
template <class Value>
Result<bool> read_by_iteration(PyObject* array, std::optional<Value> (*convert)(PyObject*),
                               std::vector<Value>& values) {
    values.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        std::optional<Value> value = convert(item.get());
        if (!value) return take_python_error();
        values.push_back(*value);
    }
    if (PyErr_Occurred()) return take_python_error();
    return true;
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

std::int64_t truncate_to_i64(double value) noexcept {
    if (value != value) return 0;
    if (value >= 9223372036854775808.0) return INT64_MAX;
    if (value < -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(value);
}

Result<engine::LabelledBatch> integer_column(PyObject* array, const std::optional<DirectArray>& direct,
                                             PyObject* label, BatchStorage& storage) {
    engine::LabelledBatch batch;
    if (direct) {
        batch.input = view_of(*direct);
    } else {
        std::vector<std::int64_t>& values = storage.integers.emplace_back();
        Result<bool> read = read_by_iteration(array, item_as_integer, values);
        if (!read) return std::move(read).error();
        batch.input = view_of(values, Element::Int64);
    }
    if (PyFloat_Check(label)) {
        batch.label.integer = truncate_to_i64(PyFloat_AsDouble(label));
    } else if (PyLong_Check(label)) {
        const long value = PyLong_AsLong(label);
        if (value == -1 && PyErr_Occurred()) return take_python_error();
        batch.label.integer = value;
    } else {
        return Error{"float"};
    }
    return batch;
}

Result<engine::LabelledBatch> float_column(PyObject* array, const std::optional<DirectArray>& direct,
                                           PyObject* label, BatchStorage& storage) {
    engine::LabelledBatch batch;
    if (direct) {
        batch.input = view_of(*direct);
    } else {
        std::vector<double>& values = storage.reals.emplace_back();
        Result<bool> read = read_by_iteration(array, item_as_double, values);
        if (!read) return std::move(read).error();
        batch.input = view_of(values, Element::Float64);
    }
    if (PyFloat_Check(label)) {
        batch.label.real = PyFloat_AsDouble(label);
    } else if (PyLong_Check(label)) {
        const long value = PyLong_AsLong(label);
        if (value == -1 && PyErr_Occurred()) return take_python_error();
        batch.label.real = static_cast<double>(value);
    } else {
        return Error{"float"};
    }
    return batch;
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
};

// One item of a text column: must be a str, taken as UTF-8.
Result<bool> text_item_matches(PyObject* item, const TextLabel& label) {
    if (!PyUnicode_Check(item)) {
        data_handler::set_conversion_error(item, "PyString");
        return take_python_error();
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item, &size);
    if (data == nullptr) return take_python_error();
    return label.utf8 && std::string_view(data, static_cast<std::size_t>(size)) == *label.utf8;
}

Result<engine::LabelInput> text_by_iteration(PyObject* array, const TextLabel& label, BatchStorage& storage) {
    std::vector<std::uint8_t>& matches = storage.matches.emplace_back();
    matches.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        Result<bool> match = text_item_matches(item.get(), label);
        if (!match) return std::move(match).error();
        matches.push_back(static_cast<std::uint8_t>(*match));
    }
    if (PyErr_Occurred()) return take_python_error();
    return engine::LabelInput(engine::MatchedColumn{matches.data(), matches.size()});
}

Result<engine::LabelledBatch> text_column(PyObject* array, const std::optional<DirectArray>& direct,
                                          PyObject* label_object, BatchStorage& storage) {
    const TextLabel label(label_object);
    engine::LabelledBatch batch;
    const bool in_memory = direct && direct->kind == ElementKind::Unicode &&
                           data_handler::all_code_points_valid(direct->data, direct->stride, direct->size,
                                                               direct->itemsize / sizeof(Py_UCS4));
    if (in_memory) {
        batch.input = engine::TextColumn{direct->data, direct->stride, direct->size, direct->itemsize / sizeof(Py_UCS4)};
    } else {
        // Rows NumPy or the encoder refuses come out with the iteration's error.
        Result<engine::LabelInput> read = text_by_iteration(array, label, storage);
        if (!read) return std::move(read).error();
        batch.input = std::move(read).value();
    }
    if (!label.is_text) return Error{"string"};
    if (!label.utf8) {
        Py_ssize_t size = 0;
        if (PyUnicode_AsUTF8AndSize(label_object, &size) == nullptr) return take_python_error();
    }
    batch.label.code_points = label.code_points;
    return batch;
}

}  // namespace

Result<engine::LabelledBatch> labelled_column(PyObject* array, PyObject* label, BatchStorage& storage) {
    const data_handler::ColumnType type = numpy::determine_type(array);
    const std::optional<DirectArray> direct = numpy::direct_array(array);
    switch (type) {
        case data_handler::ColumnType::Integer: return integer_column(array, direct, label, storage);
        case data_handler::ColumnType::Float: return float_column(array, direct, label, storage);
        case data_handler::ColumnType::Other: break;
    }
    return text_column(array, direct, label, storage);
}

Result<engine::PerfInput> performance_column(PyObject* array, data_handler::ColumnType type,
                                              BatchStorage& storage) {
    if (type == data_handler::ColumnType::Other) fatal("Data of type String is not supported");
    if (const auto direct = numpy::direct_array(array)) {
        if (direct->kind == ElementKind::Unicode) fatal("Data of type String is not supported");
        return view_of(*direct);
    }
    std::vector<float>& values = storage.floats.emplace_back();
    values.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        double value;
        if (PyFloat_CheckExact(item.get())) {
            value = PyFloat_AS_DOUBLE(item.get());
        } else {
            value = PyFloat_AsDouble(item.get());
            if (value == -1.0 && PyErr_Occurred()) fatal(take_python_error().message);
        }
        values.push_back(static_cast<float>(value));
    }
    if (PyErr_Occurred()) fatal(take_python_error().message);
    return view_of(values, Element::Float32);
}

std::optional<engine::LabelValue> label_value(PyObject* label) {
    engine::LabelValue value;
    if (PyFloat_Check(label)) {
        value.tag = engine::LabelValue::Tag::Float;
        value.real = PyFloat_AsDouble(label);
    } else if (PyLong_Check(label)) {
        value.tag = engine::LabelValue::Tag::Int;
        py::Ref digits = py::Ref::steal(PyNumber_ToBase(label, 10));
        const char* text = digits ? PyUnicode_AsUTF8(digits.get()) : nullptr;
        if (text == nullptr) return std::nullopt;
        value.text = text;
    } else if (PyUnicode_Check(label)) {
        value.tag = engine::LabelValue::Tag::Text;
        // Lone surrogates are kept, so the text comes back as it was given.
        py::Ref bytes = py::Ref::steal(PyUnicode_AsEncodedString(label, "utf-8", "surrogatepass"));
        if (!bytes) return std::nullopt;
        value.text.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    }
    return value;
}

PyObject* label_object(const engine::LabelValue& value) {
    switch (value.tag) {
        case engine::LabelValue::Tag::Float: return PyFloat_FromDouble(value.real);
        case engine::LabelValue::Tag::Int: return PyLong_FromString(value.text.c_str(), nullptr, 10);
        case engine::LabelValue::Tag::Text:
            return PyUnicode_DecodeUTF8(value.text.data(), static_cast<Py_ssize_t>(value.text.size()),
                                        "surrogatepass");
        case engine::LabelValue::Tag::Other: break;
    }
    Py_RETURN_NONE;
}

}  // namespace zentrova::ingest
