// Python arrays and label objects turned into the plain columns the statistics
// engine reads, with the errors of the raw functions. Arrays read from memory
// become views of it; anything else is read by iteration into storage that
// lives as long as the batch.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "data_handler/column_type.hpp"
#include "engine/bias_stats.hpp"
#include "engine/performance_stats.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace zentrova::ingest {

// Values read by iteration for one call.
struct BatchStorage {
    std::deque<std::vector<std::int64_t>> integers;
    std::deque<std::vector<double>> reals;
    std::deque<std::vector<float>> floats;
    std::deque<std::vector<std::uint8_t>> matches;
};

// A bias column and its label for the column's kind; errors "float",
// "string" or a wrapped Python exception, in the order labelling finds them.
Result<engine::LabelledBatch> labelled_column(PyObject* array, PyObject* label, BatchStorage& storage);

// A performance column of the given type; a text column is fatal.
Result<engine::PerfInput> performance_column(PyObject* array, data_handler::ColumnType type,
                                              BatchStorage& storage);

// A caller's label as the statistics keep it (nothing, with the Python error
// set, when it cannot be taken), and back.
std::optional<engine::LabelValue> label_value(PyObject* label);
PyObject* label_object(const engine::LabelValue& value);

}  // namespace zentrova::ingest
