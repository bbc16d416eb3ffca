// The performance metrics: one table per model family of their names and drift
// rules, in the order they are computed.
#pragma once

#include <array>
#include <string_view>

#include "common/metric_table.hpp"

namespace zentrova::performance {

// Scores fail by falling, errors and losses by rising.
constexpr MetricEntry below_baseline(std::string_view key) { return keyed(key, "Below threshold by ", Comparison::Below); }
constexpr MetricEntry above_baseline(std::string_view key) {
    return keyed(key, "Exceeded threshold by ", Comparison::Above);
}

// Binary classification computes the first seven; logistic regression adds LogLoss.
inline constexpr std::array<MetricEntry, 8> classification_table = {
    below_baseline("BalancedAccuracy"), below_baseline("PrecisionPositive"),
    below_baseline("PrecisionNegative"), below_baseline("RecallPositive"), below_baseline("RecallNegative"),
    below_baseline("Accuracy"), below_baseline("F1Score"), above_baseline("LogLoss"),
};
inline constexpr std::size_t classification_count = 7;

inline constexpr std::array<MetricEntry, 8> regression_table = {
    above_baseline("RootMeanSquaredError"), above_baseline("MeanSquaredError"),
    above_baseline("MeanAbsoluteError"), above_baseline("RSquared"), above_baseline("MaxError"),
    above_baseline("MeanSquaredLogError"), above_baseline("RootMeanSquaredLogError"),
    above_baseline("MeanAbsolutePercentageError"),
};

}  // namespace zentrova::performance
