// Batches of Python arrays fed to the statistics engine: ingest with the raw
// functions' errors, then the engine's update with the interpreter lock
// released (no Python code runs there; another thread must not resize an
// array meanwhile, as with NumPy). The raw functions are one such update
// followed by the metrics.
#pragma once

#include <array>
#include <mutex>
#include <optional>

#include "engine/bias_stats.hpp"
#include "engine/performance_stats.hpp"
#include "python_errors.hpp"

namespace zentrova::engine_calls {

struct Failure {
    ErrorClass error_class;
    Error error;
};

// Releases the interpreter lock for the life of the guard.
class WithoutInterpreterLock {
public:
    WithoutInterpreterLock() : state_(PyEval_SaveThread()) {}
    ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;

private:
    PyThreadState* state_;
};

// Each adds one batch to `core`; `guard`, when given, is held (with the
// interpreter lock released) while the core changes. Nothing changes on failure.
std::optional<Failure> update_data_bias(engine::DataBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                        PyObject* ground_truth_array, PyObject* feature_label,
                                        PyObject* ground_truth_label);
std::optional<Failure> update_model_bias(engine::ModelBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                         PyObject* ground_truth_array, PyObject* prediction_array,
                                         PyObject* feature_label, PyObject* ground_truth_label,
                                         PyObject* prediction_label);
std::optional<Failure> update_classification(engine::ClassificationCore& core, std::mutex* guard,
    PyObject* y_pred, PyObject* y_true);
std::optional<Failure> update_logistic(engine::LogisticCore& core, std::mutex* guard,
    PyObject* y_pred, PyObject* y_true);
std::optional<Failure> update_regression(engine::RegressionCore& core, std::mutex* guard,
    PyObject* y_pred, PyObject* y_true);

}  // namespace zentrova::engine_calls
