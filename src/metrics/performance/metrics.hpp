// Performance metrics of the three model families on numeric columns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "columns/dtype.hpp"
#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "metrics/performance/float_column.hpp"
#include "metrics/performance/table.hpp"

namespace zentrova::performance {

// What the classification metrics read: exact counts and the two float sums.
struct ConfusionCounts {
    std::size_t rows = 0;
    std::uint64_t true_positives = 0, true_negatives = 0, correct = 0;
    float sum_true = 0.0f, sum_pred = 0.0f;
};

// What the regression metrics read: sums taken in index order.
struct RegressionSums {
    float reciprocal_rows, squared_errors, absolute_errors, squared_deviations, largest_error, log_differences,
        relative_errors;
};

std::array<float, classification_count> classification_values(const ConfusionCounts& counts);
std::array<float, regression_table.size()> regression_values(const RegressionSums& sums);

// The seven binary classification metrics.
Result<MetricMap> classification(const columns::ColumnView& y_pred, const columns::ColumnView& y_true);
// The classification metrics of the probabilities cut at the threshold, and LogLoss.
Result<MetricMap> logistic_regression(const columns::ColumnView& y_pred, const columns::ColumnView& y_true,
                                      float decision_threshold);
// The eight regression metrics.
Result<MetricMap> regression(const columns::ColumnView& y_pred, const columns::ColumnView& y_true);

}  // namespace zentrova::performance
