// The one owner type for Python references: move-only, and the only place that
// releases a reference.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zentrova::py {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~Ref() { reset(); }

    // Takes over a new reference (may be null).
    static Ref steal(PyObject* object) noexcept {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    // Adds a reference of its own to a borrowed one.
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return steal(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept {
        PyObject* old = std::exchange(object_, nullptr);
        Py_XDECREF(old);
    }

private:
    PyObject* object_ = nullptr;
};

}  // namespace zentrova::py
