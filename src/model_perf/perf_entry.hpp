#pragma once

#include <vector>

#include "data_handler/column_type.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace zentrova::model_perf {

struct PerfEntry {
    // The array as float columns, one value per item in iteration order, each
    // read as a double and rounded to float. A text column is fatal.
    static Result<std::vector<float>> convert_f32(PyObject* array, data_handler::ColumnType type);
};

}  // namespace zentrova::model_perf
