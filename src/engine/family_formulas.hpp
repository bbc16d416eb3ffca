// The metric formulas of each family, from exact counts and rounded sums.
#pragma once

#include <cstdint>

#include "metric_map.hpp"

namespace zentrova::engine {

struct GroupLabelCounts {
    std::uint64_t rows = 0, positives = 0;
};

struct ConfusionCounts {
    std::uint64_t rows = 0, true_pos = 0, pred_pos = 0, label_pos = 0;
};

MetricMap pre_training_formulas(const GroupLabelCounts& facet, const GroupLabelCounts& rest);
float generalized_entropy(const ConfusionCounts& facet, const ConfusionCounts& rest);
MetricMap post_training_formulas(const ConfusionCounts& facet, const ConfusionCounts& rest, float generalized_entropy);

// The seven classification metrics from the row count, the exact counts of true
// positives, true negatives and equal rows, and the two rounded label sums.
MetricMap classification_formulas(std::uint64_t rows, std::uint64_t true_pos, std::uint64_t true_neg,
                                  std::uint64_t correct, float sum_true, float sum_pred);

// The eight regression metrics from the row count and the rounded sums.
MetricMap regression_formulas(std::uint64_t rows, float squared_errors, float absolute_errors,
                              float squared_deviations, float largest, float log_differences,
                              float percentage_errors);

}  // namespace zentrova::engine
