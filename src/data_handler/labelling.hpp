#pragma once

#include "data_handler/labelled_column.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace zentrova::data_handler {

// Labels every row of a NumPy array 1 or 0 by the label value or threshold:
// equality for text columns and numeric columns of exactly two distinct values,
// greater-or-equal otherwise.
Result<LabelledColumn> apply_label(PyObject* array, PyObject* label);

}  // namespace zentrova::data_handler
