#include "python/interpreter.hpp"

#include <atomic>
#include <cstdint>

#include "columns/interrupt.hpp"
#include "python/engine_calls.hpp"
#include "python/error_map.hpp"

namespace zentrova::python {
namespace {

// One per extension module: each links its own copy of this file.
std::atomic<std::int64_t> owner_interpreter{-1};

}  // namespace

bool claim_interpreter() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1 && PyErr_Occurred()) return false;
    std::int64_t expected = -1;
    if (owner_interpreter.compare_exchange_strong(expected, interpreter) || expected == interpreter) return true;
    raise(Error{ErrorCode::ForeignInterpreter});
    return false;
}

bool in_owner_interpreter() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1 && PyErr_Occurred()) return false;
    if (interpreter == owner_interpreter.load(std::memory_order_acquire)) return true;
    raise(Error{ErrorCode::ForeignInterpreter});
    return false;
}

PyObject* initialise_module(PyObject*& cache, PyModuleDef& definition, bool (*populate)(PyObject*)) {
    if (!claim_interpreter()) return nullptr;
    if (cache != nullptr) {
        Py_INCREF(cache);
        return cache;
    }
    py::Ref module = py::Ref::steal(PyModule_Create(&definition));
    if (!module || !populate(module.get())) return nullptr;
    columns::set_interrupt_check(&signal_pending);
    Py_INCREF(module.get());
    cache = module.get();
    return module.release();
}

}  // namespace zentrova::python
