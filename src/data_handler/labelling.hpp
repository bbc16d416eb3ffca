#pragma once

#include "data_handler/labelled_column.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace zentrova::data_handler {

// Labels every row of a NumPy array 1 or 0 by the label value or threshold:
// equality for text columns and numeric columns of exactly two distinct values,
// greater-or-equal otherwise. Every error is found here.
//
// With `defer`, a numeric array read straight from memory keeps its labelling
// rule instead of its labels; the caller then keeps the array alive and lets no
// Python code run until the column has been read.
Result<LabelledColumn> apply_label(PyObject* array, PyObject* label, bool defer = false);

}  // namespace zentrova::data_handler
