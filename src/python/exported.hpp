// An exported module function, built from its declaration and its body: the
// arguments are bound by the declaration in the module's own interpreter, and
// nothing the body throws escapes.
#pragma once

#include <optional>

#include "python/binding.hpp"
#include "python/error_map.hpp"
#include "python/interpreter.hpp"

namespace zentrova::python {

template <const Declaration& declaration, PyObject* (*body)(Arguments&)>
PyObject* exported(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        std::optional<Arguments> bound = bind(declaration, args, nargs, kwnames);
        if (!bound) return nullptr;
        return body(*bound);
    });
}

}  // namespace zentrova::python
