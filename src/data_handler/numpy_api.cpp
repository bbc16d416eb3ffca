#define PY_ARRAY_UNIQUE_SYMBOL zentrova_ARRAY_API
#include "data_handler/numpy_api.hpp"

#include <numpy/arrayobject.h>

#include <atomic>
#include <string>

#include "data_handler/python_values.hpp"
#include "errors.hpp"

namespace zentrova::numpy {
namespace {

std::atomic<bool> api_ready{false};

[[noreturn]] void api_failure() {
    fatal("Failed to access NumPy array API capsule: " + data_handler::take_python_error().message);
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

bool equivalent(PyArray_Descr* descr, int type_number) {
    PyArray_Descr* reference = PyArray_DescrFromType(type_number);
    if (reference == nullptr) {
        PyErr_Clear();
        return false;
    }
    const bool same = PyArray_EquivTypes(descr, reference) != 0;
    Py_DECREF(reference);
    return same;
}

}  // namespace

bool is_array(PyObject* object) {
    ensure_api();
    return PyArray_Check(object);
}

data_handler::ColumnType determine_type(PyObject* array) {
    ensure_api();
    PyArray_Descr* descr = PyArray_DESCR(reinterpret_cast<PyArrayObject*>(array));
    if (equivalent(descr, NPY_DOUBLE) || equivalent(descr, NPY_FLOAT)) return data_handler::ColumnType::Float;
    const bool is_int = equivalent(descr, NPY_INT);
    const bool is_long = equivalent(descr, NPY_LONG);
    const bool is_short = equivalent(descr, NPY_SHORT);
    if (is_int || is_long || is_short) return data_handler::ColumnType::Integer;
    return data_handler::ColumnType::Other;
}

std::size_t total_size(PyObject* array) {
    ensure_api();
    return static_cast<std::size_t>(PyArray_SIZE(reinterpret_cast<PyArrayObject*>(array)));
}

std::optional<DirectArray> direct_array(PyObject* object) {
    ensure_api();
    if (!PyArray_CheckExact(object)) return std::nullopt;
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_NDIM(array) != 1) return std::nullopt;
    PyArray_Descr* descr = PyArray_DESCR(array);
    if (!PyArray_ISNBO(descr->byteorder)) return std::nullopt;
    const std::size_t itemsize = static_cast<std::size_t>(PyArray_ITEMSIZE(array));
    ElementKind kind;
    if (descr->kind == 'f' && itemsize == 8) {
        kind = ElementKind::Float64;
    } else if (descr->kind == 'f' && itemsize == 4) {
        kind = ElementKind::Float32;
    } else if (descr->kind == 'i' && itemsize == 8) {
        kind = ElementKind::Int64;
    } else if (descr->kind == 'i' && itemsize == 4) {
        kind = ElementKind::Int32;
    } else if (descr->kind == 'i' && itemsize == 2) {
        kind = ElementKind::Int16;
    } else if (descr->type_num == NPY_UNICODE) {
        kind = ElementKind::Unicode;
    } else {
        return std::nullopt;
    }
    return DirectArray{kind, static_cast<const char*>(PyArray_DATA(array)), PyArray_STRIDE(array, 0),
                       static_cast<std::size_t>(PyArray_DIM(array, 0)), itemsize};
}

bool all_read_from_memory(std::initializer_list<PyObject*> arrays) {
    for (PyObject* array : arrays)
        if (!direct_array(array)) return false;
    return true;
}

}  // namespace zentrova::numpy
