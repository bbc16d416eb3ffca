// The one place where error values and C++ exceptions become Python exceptions.
#pragma once

#include <new>
#include <stdexcept>

#include "common/errors.hpp"
#include "python/py_ref.hpp"

namespace zentrova::python {

// Sets the Python exception of an error value; returns null for the caller to return.
PyObject* raise(const Error& error);

// Runs the body of an exported function; nothing thrown in it escapes.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const FatalError& error) {
        return raise(error.error());
    } catch (const Interrupted&) {
        return nullptr;  // the interrupt's exception is set
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        // More elements than a vector can hold: an allocation that cannot succeed.
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        return raise(Error{ErrorCode::Internal, error.what()});
    } catch (...) {
        return raise(Error{ErrorCode::Internal});
    }
}

}  // namespace zentrova::python
