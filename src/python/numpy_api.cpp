#define PY_ARRAY_UNIQUE_SYMBOL zentrova_ARRAY_API
#include "python/numpy_api.hpp"

#include <numpy/arrayobject.h>

#include <atomic>
#include <string>

#include "common/errors.hpp"
#include "python/values.hpp"

namespace zentrova::numpy {
namespace {

std::atomic<bool> api_ready{false};

[[noreturn]] void api_failure() {
    fatal(ErrorCode::NumpyUnavailable, python::pending_error_text());
}

py::Ref import_attribute(const char* module_name, const char* attribute) {
    py::Ref module = py::Ref::steal(PyImport_ImportModule(module_name));
    if (!module) api_failure();
    py::Ref value = py::Ref::steal(PyObject_GetAttrString(module.get(), attribute));
    if (!value) api_failure();
    return value;
}

void load_api() {
    py::Ref version = import_attribute("numpy", "__version__");
    py::Ref numpy_version = import_attribute("numpy.lib", "NumpyVersion");
    py::Ref parsed = py::Ref::steal(PyObject_CallOneArg(numpy_version.get(), version.get()));
    if (!parsed) api_failure();
    py::Ref major_object = py::Ref::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_object) api_failure();
    const long major = PyLong_AsLong(major_object.get());
    if (major == -1 && PyErr_Occurred()) api_failure();

    py::Ref capsule =
        import_attribute(major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray", "_ARRAY_API");
    if (!PyCapsule_CheckExact(capsule.get())) {
        PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is not a capsule");
        api_failure();
    }
    void* table = PyCapsule_GetPointer(capsule.get(), nullptr);
    if (table == nullptr) api_failure();
    // The capsule's owner module stays imported for the life of the process.
    PyArray_API = static_cast<void**>(table);
    if (PyArray_GetNDArrayCVersion() > NPY_VERSION) {
        PyErr_SetString(PyExc_RuntimeError, "the running NumPy has a newer ABI than the one this module was built for");
        api_failure();
    }
    PyArray_RUNTIME_VERSION = static_cast<int>(PyArray_GetNDArrayCFeatureVersion());
    if (PyArray_RUNTIME_VERSION < NPY_FEATURE_VERSION) {
        PyErr_SetString(PyExc_RuntimeError, "the running NumPy is older than the C API this module needs");
        api_failure();
    }
}

void ensure_api() {
    if (api_ready.load(std::memory_order_acquire)) return;
    // Under the interpreter lock; a concurrent first use loads the same table again.
    load_api();
    api_ready.store(true, std::memory_order_release);
}

}  // namespace

bool is_array(PyObject* object) {
    ensure_api();
    return PyArray_Check(object);
}

ArrayInfo inspect(PyObject* object) {
    ensure_api();
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    const PyArray_Descr* descr = PyArray_DESCR(array);
    const auto itemsize = static_cast<std::size_t>(PyArray_ITEMSIZE(array));
    ArrayInfo info;
    info.kind = columns::classify(descr->kind, itemsize, PyArray_ISNBO(descr->byteorder));
    info.total_size = static_cast<std::size_t>(PyArray_SIZE(array));
    info.in_memory = PyArray_CheckExact(object) && PyArray_NDIM(array) == 1 && info.kind != columns::ElementKind::Other;
    if (info.in_memory)
        info.view = {info.kind, static_cast<const char*>(PyArray_DATA(array)), PyArray_STRIDE(array, 0),
                     static_cast<std::size_t>(PyArray_DIM(array, 0)), itemsize};
    return info;
}

}  // namespace zentrova::numpy
