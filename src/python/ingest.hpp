// Ingest: each array argument, classified once, becomes a plain C++ column (a
// view of its memory, or values read by iteration) before any metric code runs.
#pragma once

#include <vector>

#include "columns/dtype.hpp"
#include "common/errors.hpp"
#include "metrics/labelling/label_input.hpp"
#include "python/numpy_api.hpp"
#include "python/py_ref.hpp"

namespace zentrova::python {

// Views of arrays read straight from memory stay valid only while no Python
// code runs; when another argument of the call is read by iteration, a column
// in memory is copied as it is ingested (`copy_memory`).
bool all_in_memory(std::initializer_list<const numpy::ArrayInfo*> arrays) noexcept;

// A column to label and its label. Errors: reading the column, then the label.
// With `defer_code_point_check`, fixed-width text in memory (not copied) is not
// checked here but by the labelling pass that reads it anyway
// (LabelInput::code_points_unchecked); the caller must then be ready for
// engine::InvalidCodePoints.
Result<labelling::LabelInput> label_input(PyObject* array, const numpy::ArrayInfo& info, PyObject* label,
                                          bool copy_memory, bool defer_code_point_check = false);

// A numeric column of a performance function.
struct FloatInput {
    columns::ColumnView view;
    std::vector<float> values;  // read by iteration
    std::vector<char> bytes;    // copied from memory
};

// A text column abandons the call, and so does an item without a float value.
Result<FloatInput> float_input(PyObject* array, const numpy::ArrayInfo& info, bool copy_memory);

}  // namespace zentrova::python
