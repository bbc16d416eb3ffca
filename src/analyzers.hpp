// Bodies of the two bias analyzers.
#pragma once

#include "errors.hpp"
#include "metric_map.hpp"
#include "py_ref.hpp"

namespace zentrova {

Result<MetricMap> data_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                     PyObject* feature_label_or_threshold,
                                     PyObject* ground_truth_label_or_threshold);

Result<MetricMap> model_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                      PyObject* prediction_array, PyObject* feature_label_or_threshold,
                                      PyObject* ground_truth_label_or_threshold,
                                      PyObject* prediction_label_or_threshold);

}  // namespace zentrova
