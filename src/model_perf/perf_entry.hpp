#pragma once

#include "data_handler/column_type.hpp"
#include "errors.hpp"
#include "model_perf/perf_column.hpp"
#include "py_ref.hpp"

namespace zentrova::model_perf {

struct PerfEntry {
    // The array as a float column, one value per item in iteration order, each
    // read as a double and rounded to float. A text column is fatal.
    //
    // With `defer`, an array read straight from memory is converted as it is
    // read; the caller then keeps it alive and lets no Python code run meanwhile.
    static Result<PerfColumn> convert_f32(PyObject* array, data_handler::ColumnType type, bool defer = false);
};

}  // namespace zentrova::model_perf
