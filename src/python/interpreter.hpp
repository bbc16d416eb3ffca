// The one interpreter a module serves: the first that imports it. CPython
// copies a single-phase module into another interpreter without running its
// initialisation, so every call checks where it runs.
#pragma once

#include "python/py_ref.hpp"

namespace zentrova::python {

// Records the running interpreter as the owner on first use; false, with
// ImportError set, from any other interpreter.
bool claim_interpreter();

// True in the owner interpreter; false, with ImportError set, elsewhere.
bool in_owner_interpreter();

// The initialisation of a single-phase module: created and filled by
// `populate` once per process, in the owner interpreter; a later import gets
// the same object (and so the same classes, which merge checks by identity).
PyObject* initialise_module(PyObject*& cache, PyModuleDef& definition, bool (*populate)(PyObject*));

}  // namespace zentrova::python
