// The three performance computations on two NumPy arrays.
#pragma once

#include "errors.hpp"
#include "metric_map.hpp"
#include "py_ref.hpp"

namespace zentrova::model_perf {

Result<MetricMap> model_perf_classification(PyObject* y_pred, PyObject* y_true);
Result<MetricMap> model_perf_logistic_regression(PyObject* y_pred, PyObject* y_true, float decision_threshold);
Result<MetricMap> model_perf_regression(PyObject* y_pred, PyObject* y_true);

}  // namespace zentrova::model_perf
