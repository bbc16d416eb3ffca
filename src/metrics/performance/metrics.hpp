// Performance metrics of the three model families on numeric columns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "metrics/performance/table.hpp"

namespace zentrova::performance {

// What the classification metrics read: exact counts and the two sums, each
// the exact sum rounded once.
struct ConfusionCounts {
    std::size_t rows = 0;
    std::uint64_t true_positives = 0, true_negatives = 0, correct = 0;
    float sum_true = 0.0f, sum_pred = 0.0f;
};

// What the regression metrics read: 1/N and sums, each the exact sum rounded once.
struct RegressionSums {
    float reciprocal_rows, squared_errors, absolute_errors, squared_deviations, largest_error, log_differences,
        relative_errors;
};

std::array<float, classification_count> classification_values(const ConfusionCounts& counts);
std::array<float, regression_table.size()> regression_values(const RegressionSums& sums);

}  // namespace zentrova::performance
