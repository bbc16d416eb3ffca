// Performance metrics of the three model families on float columns.
#pragma once

#include "metric_map.hpp"
#include "model_perf/perf_column.hpp"

namespace zentrova::model_perf {

// The seven binary classification metrics; both columns have the same, non-zero length.
MetricMap classification_metrics(const PerfColumn& y_pred, const PerfColumn& y_true);

// The classification metrics of the probabilities cut at the threshold, and "LogLoss".
MetricMap logistic_regression_metrics(const PerfColumn& y_pred, const PerfColumn& y_true, float decision_threshold);

// The eight regression metrics.
MetricMap regression_metrics(const PerfColumn& y_pred, const PerfColumn& y_true);

}  // namespace zentrova::model_perf
