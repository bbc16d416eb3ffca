#include "engine/family_formulas.hpp"

#include <cmath>

#include "data_bias/pre_training.hpp"
#include "model_bias/post_training.hpp"

namespace zentrova::engine {

MetricMap pre_training_formulas(const GroupLabelCounts& facet, const GroupLabelCounts& rest) {
    return data_bias::pre_training_bias(
        data_bias::PreTraining{{facet.rows, facet.positives}, {rest.rows, rest.positives}});
}

MetricMap post_training_formulas(const ConfusionCounts& facet, const ConfusionCounts& rest,
                                 float generalized_entropy) {
    auto tally = [](const ConfusionCounts& c) {
        return model_bias::GroupTally{c.rows, c.true_pos, c.pred_pos, c.label_pos};
    };
    return model_bias::post_training_metrics(tally(facet), tally(rest), generalized_entropy);
}

MetricMap classification_formulas(std::uint64_t rows, std::uint64_t true_pos, std::uint64_t true_neg,
                                  std::uint64_t correct, float sum_true, float sum_pred) {
    const float n = static_cast<float>(rows);
    const float tp = static_cast<float>(true_pos);
    const float tn = static_cast<float>(true_neg);

    const float recall_positive = tp / sum_true;
    const float recall_negative = tn / (n - sum_true);
    const float precision_positive = tp / sum_pred;
    const float precision_negative = tn / (n - sum_pred);

    MetricMap metrics;
    metrics.reserve(8);
    metrics.emplace("BalancedAccuracy", (recall_positive * recall_negative) * 0.5f);
    metrics.emplace("PrecisionPositive", precision_positive);
    metrics.emplace("PrecisionNegative", precision_negative);
    metrics.emplace("RecallPositive", recall_positive);
    metrics.emplace("RecallNegative", recall_negative);
    metrics.emplace("Accuracy", (1.0f / n) * static_cast<float>(correct));
    metrics.emplace("F1Score", ((recall_positive + recall_positive) * precision_positive) /
                                   (recall_positive + precision_positive));
    return metrics;
}

MetricMap regression_formulas(std::uint64_t rows, float sse, float sae, float sst, float largest, float sld,
                              float sape) {
    const float r = 1.0f / static_cast<float>(rows);
    MetricMap metrics;
    metrics.reserve(8);
    metrics.emplace("RootMeanSquaredError", std::sqrt(r * sse));
    metrics.emplace("MeanSquaredError", r * sse);
    metrics.emplace("MeanAbsoluteError", r * sae);
    metrics.emplace("RSquared", sse / sst);
    metrics.emplace("MaxError", largest);
    metrics.emplace("MeanSquaredLogError", (sld * sld) / r);
    metrics.emplace("RootMeanSquaredLogError", std::sqrt(sld * sld) / r);
    metrics.emplace("MeanAbsolutePercentageError", (r * sape) * 100.0f);
    return metrics;
}

}  // namespace zentrova::engine
