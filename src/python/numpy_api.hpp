// Everything the module asks of NumPy's C API. The API table is fetched once per
// process, on first use; a failure to get it is fatal for the call.
#pragma once

#include <cstddef>

#include "columns/dtype.hpp"
#include "python/py_ref.hpp"

namespace zentrova::numpy {

// Instance of ndarray or of a subclass.
bool is_array(PyObject* object);

// An array classified once: its element kind and, when the array can be read
// straight from memory (exactly ndarray, one dimension, a known element kind),
// the view of that memory.
struct ArrayInfo {
    columns::ElementKind kind = columns::ElementKind::Other;
    bool in_memory = false;
    columns::ColumnView view;
    std::size_t total_size = 0;  // product of the dimensions (1 for zero dimensions)
};

ArrayInfo inspect(PyObject* array);

}  // namespace zentrova::numpy
