#include "model_perf/performance.hpp"

#include "python/engine_calls.hpp"

namespace zentrova::model_perf {

// One batch of all rows through the statistics engine, then its metrics.
Result<MetricMap> model_perf_classification(PyObject* y_pred, PyObject* y_true) {
    engine::ClassificationCore core;
    if (auto failure = engine_calls::update_classification(core, nullptr, y_pred, y_true))
        return std::move(failure->error);
    return core.metrics();
}

Result<MetricMap> model_perf_logistic_regression(PyObject* y_pred, PyObject* y_true, float decision_threshold) {
    engine::LogisticCore core(decision_threshold);
    if (auto failure = engine_calls::update_logistic(core, nullptr, y_pred, y_true)) return std::move(failure->error);
    return core.metrics();
}

Result<MetricMap> model_perf_regression(PyObject* y_pred, PyObject* y_true) {
    engine::RegressionCore core;
    if (auto failure = engine_calls::update_regression(core, nullptr, y_pred, y_true))
        return std::move(failure->error);
    return core.metrics();
}

}  // namespace zentrova::model_perf
