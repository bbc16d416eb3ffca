// Everything the module asks of NumPy's C API. The API table is fetched once per
// process, on first use; a failure to get it is fatal for the call.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>

#include "data_handler/column_type.hpp"
#include "py_ref.hpp"

namespace zentrova::numpy {

// Instance of ndarray or of a subclass.
bool is_array(PyObject* object);

data_handler::ColumnType determine_type(PyObject* array);

// Product of the dimensions (1 for a zero-dimensional array).
std::size_t total_size(PyObject* array);

enum class ElementKind { Int16, Int32, Int64, Float32, Float64, Unicode };

// A one-dimensional array of a native element type that can be read straight
// from memory: exactly ndarray, not a subclass.
struct DirectArray {
    ElementKind kind;
    const char* data;
    std::ptrdiff_t stride;
    std::size_t size;
    std::size_t itemsize;
};

std::optional<DirectArray> direct_array(PyObject* array);

// Whether every array can be read straight from memory: reading them then runs
// no Python code, so views of their memory stay valid for the whole call.
bool all_read_from_memory(std::initializer_list<PyObject*> arrays);

}  // namespace zentrova::numpy
