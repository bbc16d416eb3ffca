// The performance metrics: one table per model family of their names and drift
// rules, in the order they are computed.
#pragma once

#include <array>
#include <string_view>

#include "common/metric_table.hpp"

namespace zentrova::performance {

inline constexpr std::string_view below = "Below threshold by ";
inline constexpr std::string_view above = "Exceeded threshold by ";

// Binary classification computes the first seven; logistic regression adds LogLoss.
inline constexpr std::array<MetricEntry, 8> classification_table = {{
    {"BalancedAccuracy", "BalancedAccuracy", "BalancedAccuracy", below, Comparison::Below},
    {"PrecisionPositive", "PrecisionPositive", "PrecisionPositive", below, Comparison::Below},
    {"PrecisionNegative", "PrecisionNegative", "PrecisionNegative", below, Comparison::Below},
    {"RecallPositive", "RecallPositive", "RecallPositive", below, Comparison::Below},
    {"RecallNegative", "RecallNegative", "RecallNegative", below, Comparison::Below},
    {"Accuracy", "Accuracy", "Accuracy", below, Comparison::Below},
    {"F1Score", "F1Score", "F1Score", below, Comparison::Below},
    {"LogLoss", "LogLoss", "LogLoss", below, Comparison::Below},
}};
inline constexpr std::size_t classification_count = 7;

inline constexpr std::array<MetricEntry, 8> regression_table = {{
    {"RootMeanSquaredError", "RootMeanSquaredError", "RootMeanSquaredError", above, Comparison::Above},
    {"MeanSquaredError", "MeanSquaredError", "MeanSquaredError", above, Comparison::Above},
    {"MeanAbsoluteError", "MeanAbsoluteError", "MeanAbsoluteError", above, Comparison::Above},
    {"RSquared", "RSquared", "RSquared", above, Comparison::Above},
    {"MaxError", "MaxError", "MaxError", above, Comparison::Above},
    {"MeanSquaredLogError", "MeanSquaredLogError", "MeanSquaredLogError", above, Comparison::Above},
    {"RootMeanSquaredLogError", "RootMeanSquaredLogError", "RootMeanSquaredLogError", above, Comparison::Above},
    {"MeanAbsolutePercentageError", "MeanAbsolutePercentageError", "MeanAbsolutePercentageError", above, Comparison::Above},
}};

}  // namespace zentrova::performance
