// The five measuring calls: one batch of all rows through a fresh core, then
// its metrics. `_zentrova` exports them as they are; `zentrova._engine` exports
// them privately for the package, with each array's rows counted in the same
// pass (see engine/census.hpp), so the package need not read the arrays itself.
#pragma once

#include <array>

#include "python/binding.hpp"

namespace zentrova::python {

using Parameters = std::array<Parameter, max_parameters>;

inline constexpr Parameters model_bias_parameters = {{{"feature_array", Kind::Array},
                                                      {"ground_truth_array", Kind::Array},
                                                      {"prediction_array", Kind::Array},
                                                      {"feature_label_or_threshold", Kind::Any},
                                                      {"ground_truth_label_or_threshold", Kind::Any},
                                                      {"prediction_label_or_threshold", Kind::Any}}};
inline constexpr Parameters data_bias_parameters = {{{"feature_array", Kind::Array},
                                                     {"ground_truth_array", Kind::Array},
                                                     {"feature_label_or_threshold", Kind::Any},
                                                     {"ground_truth_label_or_threshold", Kind::Any}}};
inline constexpr Parameters performance_parameters = {{{"y_pred", Kind::Array}, {"y_true", Kind::Array}}};
inline constexpr Parameters logistic_parameters = {
    {{"y_pred", Kind::Array}, {"y_true", Kind::Array}, {"decision_threshold", Kind::Float32, "0.5"}}};

// Without `counted`: the metrics dict, or the error raised. With it: the tuple
// (metrics, counts), counts holding (missing, invalid) for each array argument
// in argument order; missing counts NaN rows, invalid the rows that are not
// labels 0 or 1 (classification, the logistic y_true) or not probabilities in
// [0, 1] (the logistic y_pred). The metrics are None, and not formed, when any
// count is nonzero: those rows are the caller's first concern.
PyObject* measure_model_bias(Arguments& a, bool counted);
PyObject* measure_data_bias(Arguments& a, bool counted);
PyObject* measure_regression(Arguments& a, bool counted);
PyObject* measure_classification(Arguments& a, bool counted);
PyObject* measure_logistic(Arguments& a, bool counted);

}  // namespace zentrova::python
