// Performance metrics of the three model families on float columns.
#pragma once

#include <span>

#include "metric_map.hpp"

namespace zentrova::model_perf {

// The seven binary classification metrics; both columns have the same, non-zero length.
MetricMap classification_metrics(std::span<const float> y_pred, std::span<const float> y_true);

// The classification metrics of the probabilities cut at the threshold, and "LogLoss".
MetricMap logistic_regression_metrics(std::span<const float> y_pred, std::span<const float> y_true,
                                      float decision_threshold);

// The eight regression metrics.
MetricMap regression_metrics(std::span<const float> y_pred, std::span<const float> y_true);

}  // namespace zentrova::model_perf
