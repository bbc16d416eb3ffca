// The post-training (model bias) metrics: the one table of their names and
// drift rules, in the order they are computed.
#pragma once

#include <array>
#include <string_view>

#include "common/metric_table.hpp"

namespace zentrova::model_bias {

// Ratios and the entropy are compared by value, the differences by magnitude.
constexpr MetricEntry by_magnitude(std::string_view key) {
    return keyed(key, "Exceed baseline by: ", Comparison::MagnitudeAbove);
}
constexpr MetricEntry by_distance(std::string_view key) {
    return keyed(key, "Exceed baseline by: ", Comparison::AboveByDistance);
}

inline constexpr std::array<MetricEntry, 12> table = {
    by_magnitude("DifferenceInPositivePredictedLabels"),
    by_distance("DisparateImpact"),
    by_magnitude("AccuracyDifference"),
    by_magnitude("RecallDifference"),
    by_magnitude("DifferenceInConditionalAcceptance"),
    by_magnitude("DifferenceInAcceptanceRate"),
    by_magnitude("SpecialityDifference"),
    by_magnitude("DifferenceInConditionalRejection"),
    by_magnitude("DifferenceInRejectionRate"),
    by_magnitude("TreatmentEquity"),
    by_magnitude("ConditionalDemographicDesparityPredictedLabels"),
    by_distance("GeneralizedEntropy"),
};

inline constexpr std::size_t metric_count = table.size();

// Positions in the table.
enum class ModelBiasMetric {
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

}  // namespace zentrova::model_bias
