#include "python/values.hpp"

#include <algorithm>
#include <cstdint>

#include "python/error_map.hpp"

namespace zentrova::python {
namespace {

// Room reserved up front for a sequence's texts; a larger sequence grows.
constexpr Py_ssize_t max_text_list_reservation = 4096;

}  // namespace

std::string type_name(PyObject* object) {
    py::Ref name = py::Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size))
            return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    return Py_TYPE(object)->tp_name;
}

void set_conversion_error(PyObject* object, const char* target) {
    std::string message(1, '\'');
    message.append(type_name(object)).append("' object cannot be converted to '").append(target).append(1, '\'');
    PyErr_SetString(PyExc_TypeError, message.c_str());
}

std::string pending_error_text() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    py::Ref type_ref = py::Ref::steal(type), value_ref = py::Ref::steal(value), tb_ref = py::Ref::steal(traceback);
    if (!type_ref) return "unknown error";

    std::string name = "Exception";
    if (py::Ref qualname = py::Ref::steal(PyObject_GetAttrString(type_ref.get(), "__qualname__"));
        qualname && PyUnicode_Check(qualname.get())) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(qualname.get(), &size))
            name.assign(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    py::Ref text = py::Ref::steal(value_ref ? PyObject_Str(value_ref.get()) : nullptr);
    if (text) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size))
            return name + ": " + std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    return name + ": <exception str() failed>";
}

std::optional<std::size_t> to_thread_count(PyObject* object) {
    if (PyBool_Check(object) || !PyIndex_Check(object)) {
        PyErr_Format(PyExc_TypeError, "must be int, not %s", type_name(object).c_str());
        return std::nullopt;
    }
    py::Ref value = py::Ref::steal(PyNumber_Index(object));
    if (!value) return std::nullopt;
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
    if (count == -1 && PyErr_Occurred()) return std::nullopt;
    if (overflow > 0) return SIZE_MAX;  // as many as the rows allow
    if (overflow < 0 || count < 1) {
        PyErr_Format(PyExc_ValueError, "threads must be at least 1, not %S", value.get());
        return std::nullopt;
    }
    return static_cast<std::size_t>(count);
}

Error python_error(ErrorCode code) {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return Error{ErrorCode::PassThrough};
    return Error{code, pending_error_text()};
}

std::optional<std::string> to_text(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        set_conversion_error(object, "PyString");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return std::nullopt;
    return std::string(data, static_cast<std::size_t>(size));
}

std::optional<double> to_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return std::nullopt;
    return value;
}

std::optional<float> to_f32(PyObject* object) {
    const std::optional<double> value = to_double(object);
    if (!value) return std::nullopt;
    return static_cast<float>(*value);
}

std::optional<MetricMap> to_metric_map(PyObject* object) {
    if (!PyDict_Check(object)) {
        set_conversion_error(object, "PyDict");
        return std::nullopt;
    }
    const Py_ssize_t initial_size = PyDict_GET_SIZE(object);
    MetricMap metrics;
    metrics.reserve(static_cast<std::size_t>(initial_size));
    Py_ssize_t position = 0, remaining = initial_size;
    PyObject *key = nullptr, *value = nullptr;
    // A value's float conversion may run Python code that changes the dict.
    while (PyDict_Next(object, &position, &key, &value)) {
        if (PyDict_GET_SIZE(object) != initial_size) fatal(ErrorCode::DictChangedSize);
        if (remaining-- == 0) fatal(ErrorCode::DictKeysChanged);
        py::Ref key_ref = py::Ref::borrow(key), value_ref = py::Ref::borrow(value);
        std::optional<std::string> name = to_text(key_ref.get());
        if (!name) return std::nullopt;
        const std::optional<float> number = to_f32(value_ref.get());
        if (!number) return std::nullopt;
        metrics.insert_or_assign(std::move(*name), *number);
    }
    if (PyDict_GET_SIZE(object) != initial_size) fatal(ErrorCode::DictChangedSize);
    return metrics;
}

std::optional<std::vector<std::string>> to_text_list(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return std::nullopt;
    }
    if (!PySequence_Check(object)) {
        set_conversion_error(object, "Sequence");
        return std::nullopt;
    }
    std::vector<std::string> texts;
    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0)
        PyErr_Clear();
    else
        texts.reserve(static_cast<std::size_t>(std::min(length, max_text_list_reservation)));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(object));
    if (!iterator) return std::nullopt;
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        std::optional<std::string> text = to_text(item.get());
        if (!text) return std::nullopt;
        texts.push_back(std::move(*text));
    }
    if (PyErr_Occurred()) return std::nullopt;
    return texts;
}

PyObject* metric_dict(const Result<MetricMap>& result) {
    if (!result) return raise(result.error());
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [name, value] : *result) {
        py::Ref key = py::Ref::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        py::Ref number = py::Ref::steal(PyFloat_FromDouble(static_cast<double>(value)));
        if (!key || !number || PyDict_SetItem(dict.get(), key.get(), number.get()) < 0) return nullptr;
    }
    return dict.release();
}

}  // namespace zentrova::python
