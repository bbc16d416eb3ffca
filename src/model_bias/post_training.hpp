#pragma once

#include <string>
#include <vector>

#include "errors.hpp"
#include "metric_map.hpp"
#include "model_bias/facet_statistics.hpp"

namespace zentrova::model_bias {

// The post-training metrics; a member's position is its code and its name the key text.
enum class ModelBiasMetrics {
    DifferenceInPositivePredictedLabels,
    DisparateImpact,
    AccuracyDifference,
    RecallDifference,
    DifferenceInConditionalAcceptance,
    DifferenceInAcceptanceRate,
    SpecialityDifference,
    DifferenceInConditionalRejection,
    DifferenceInRejectionRate,
    TreatmentEquity,
    ConditionalDemographicDesparityPredictedLabels,
    GeneralizedEntropy,
};

inline constexpr int model_bias_metric_count = 12;

// The key text of a member.
const char* metric_key(ModelBiasMetrics metric) noexcept;

// All twelve metrics of the facet group against the rest group, from the
// groups' exact counts and the already computed generalized entropy.
MetricMap post_training_metrics(const GroupTally& facet, const GroupTally& rest, float generalized_entropy);

// Metric names as callers select them, in order, duplicates kept.
Result<std::vector<ModelBiasMetrics>> map_string_to_metrics(std::vector<std::string> names);

}  // namespace zentrova::model_bias
