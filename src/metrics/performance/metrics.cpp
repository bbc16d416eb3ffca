#include "metrics/performance/metrics.hpp"

#include <cmath>

#include "numeric/float32.hpp"

namespace zentrova::performance {

std::array<float, classification_count> classification_values(const ConfusionCounts& counts) {
    const float n_f = to_f32(counts.rows);
    const float tp_f = to_f32(counts.true_positives);
    const float tn_f = to_f32(counts.true_negatives);
    const float actual_pos = counts.sum_true;
    const float predicted_pos = counts.sum_pred;

    const float recall_positive = tp_f / actual_pos;
    const float recall_negative = tn_f / (n_f - actual_pos);
    const float precision_positive = tp_f / predicted_pos;
    const float precision_negative = tn_f / (n_f - predicted_pos);

    return {
        (recall_positive * recall_negative) * 0.5f,
        precision_positive,
        precision_negative,
        recall_positive,
        recall_negative,
        (1.0f / n_f) * to_f32(counts.correct),
        ((recall_positive + recall_positive) * precision_positive) / (recall_positive + precision_positive),
    };
}

std::array<float, regression_table.size()> regression_values(const RegressionSums& s) {
    const float r = s.reciprocal_rows;
    return {
        std::sqrt(r * s.squared_errors),
        r * s.squared_errors,
        r * s.absolute_errors,
        s.squared_errors / s.squared_deviations,
        s.largest_error,
        (s.log_differences * s.log_differences) / r,
        std::sqrt(s.log_differences * s.log_differences) / r,
        (r * s.relative_errors) * 100.0f,
    };
}

}  // namespace zentrova::performance
