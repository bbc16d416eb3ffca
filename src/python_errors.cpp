#include "python_errors.hpp"

#include <string>

namespace zentrova {
namespace {

// Created on first use and kept for the life of the process.
PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc(
            "_zentrova.PanicException",
            "An internal fault that abandoned the call. Derives from BaseException.", PyExc_BaseException,
            nullptr);
    }
    return type;
}

void set_error(PyObject* type, std::string_view message) {
    py::Ref text = py::Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

}  // namespace

PyObject* raise_error(ErrorClass error_class, const Error& error) {
    switch (error_class) {
        case ErrorClass::Analyzer:
            set_error(PyExc_TypeError, error.message);
            break;
        case ErrorClass::Performance:
            set_error(PyExc_ValueError, "Invalid arrays for y_pred and y_true: " + error.message);
            break;
        case ErrorClass::Check:
            set_error(PyExc_ValueError, error.message);
            break;
        case ErrorClass::Report:
            PyErr_SetString(PyExc_SystemError, "Internal error");
            break;
    }
    return nullptr;
}

PyObject* raise_fatal(std::string_view message) {
    PyErr_Clear();
    PyObject* type = panic_exception_type();
    if (type == nullptr) return nullptr;  // the class could not be made; its error is set
    const std::string_view text = message.empty() ? std::string_view("internal fault without a message") : message;
    set_error(type, text);
    return nullptr;
}

}  // namespace zentrova
