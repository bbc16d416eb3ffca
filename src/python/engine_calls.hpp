// Batches of Python arrays fed to the statistics engine: ingest with the raw
// functions' errors, then the engine's update with the interpreter lock
// released (no Python code runs there; as with NumPy, another thread must not
// resize or rewrite an array meanwhile). The raw functions are one such
// update followed by the metrics.
#pragma once

#include <array>
#include <mutex>
#include <optional>

#include "common/errors.hpp"
#include "engine/bias_stats.hpp"
#include "engine/performance_stats.hpp"
#include "python/py_ref.hpp"

namespace zentrova::python {

// Each adds one batch to `core`; `guard`, when given, is held (with the
// interpreter lock released) while the core changes. On failure the core is
// unchanged and the error is returned. A `census`, when given, counts each
// column in the core's pass, in the core's column order (see census.hpp).
// Without a census, a batch of arrays in memory is added on up to `threads`
// threads, with the same result (see engine/parts.hpp).
std::optional<Error> update_data_bias(engine::DataBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                      PyObject* ground_truth_array, PyObject* feature_label,
                                      PyObject* ground_truth_label,
                                      std::array<engine::ColumnCensus, 2>* census = nullptr,
                                      std::size_t threads = 1);
std::optional<Error> update_model_bias(engine::ModelBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                       PyObject* ground_truth_array, PyObject* prediction_array,
                                       PyObject* feature_label, PyObject* ground_truth_label,
                                       PyObject* prediction_label,
                                       std::array<engine::ColumnCensus, 3>* census = nullptr,
                                      std::size_t threads = 1);
std::optional<Error> update_classification(engine::ClassificationCore& core, std::mutex* guard, PyObject* y_pred,
                                           PyObject* y_true, engine::PerfCensus* census = nullptr,
                                      std::size_t threads = 1);
std::optional<Error> update_logistic(engine::LogisticCore& core, std::mutex* guard, PyObject* y_pred,
                                     PyObject* y_true, engine::PerfCensus* census = nullptr,
                                      std::size_t threads = 1);
std::optional<Error> update_regression(engine::RegressionCore& core, std::mutex* guard, PyObject* y_pred,
                                       PyObject* y_true, engine::PerfCensus* census = nullptr,
                                      std::size_t threads = 1);

// A caller's label as the statistics keep it (nothing, with the Python error
// set, when it cannot be taken), and the object that stands for it.
std::optional<engine::LabelValue> label_value(PyObject* label);
PyObject* label_object(const engine::LabelValue& value);

// The check the long native loops make now and then: pending signals, looked
// at with the interpreter lock, taken back for that moment when released.
bool signal_pending();

}  // namespace zentrova::python
