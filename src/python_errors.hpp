// The one place where error values, fatal errors and C++ exceptions become
// Python exceptions.
#pragma once

#include <new>
#include <string_view>

#include "errors.hpp"
#include "py_ref.hpp"

namespace zentrova {

// How an error value reaches Python.
enum class ErrorClass {
    Analyzer,     // TypeError with the message alone
    Performance,  // ValueError "Invalid arrays for y_pred and y_true: " + message
    Check,        // ValueError with the message alone
    Report,       // SystemError "Internal error"
};

// Sets the Python exception of an error value; returns null for the caller to return.
PyObject* raise_error(ErrorClass error_class, const Error& error);

// Sets the fatal-error exception carrying the message; returns null.
PyObject* raise_fatal(std::string_view message);

// Runs the body of an exported function; nothing thrown in it escapes.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const FatalError& error) {
        return raise_fatal(error.message());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        return raise_fatal(error.what());
    } catch (...) {
        return raise_fatal({});
    }
}

}  // namespace zentrova
