// The post-training (model bias) metrics: the one table of their names and
// drift rules, in the order they are computed.
#pragma once

#include <array>
#include <string_view>

#include "common/metric_table.hpp"

namespace zentrova::model_bias {

inline constexpr std::string_view exceed = "Exceed baseline by: ";

inline constexpr std::array<MetricEntry, 12> table = {{
    {"DifferenceInPositivePredictedLabels", "DifferenceInPositivePredictedLabels", "DifferenceInPositivePredictedLabels", exceed, Comparison::MagnitudeAbove},
    {"DisparateImpact", "DisparateImpact", "DisparateImpact", exceed, Comparison::AboveByDistance},
    {"AccuracyDifference", "AccuracyDifference", "AccuracyDifference", exceed, Comparison::MagnitudeAbove},
    {"RecallDifference", "RecallDifference", "RecallDifference", exceed, Comparison::MagnitudeAbove},
    {"DifferenceInConditionalAcceptance", "DifferenceInConditionalAcceptance", "DifferenceInConditionalAcceptance", exceed, Comparison::MagnitudeAbove},
    {"DifferenceInAcceptanceRate", "DifferenceInAcceptanceRate", "DifferenceInAcceptanceRate", exceed, Comparison::MagnitudeAbove},
    {"SpecialityDifference", "SpecialityDifference", "SpecialityDifference", exceed, Comparison::MagnitudeAbove},
    {"DifferenceInConditionalRejection", "DifferenceInConditionalRejection", "DifferenceInConditionalRejection", exceed, Comparison::MagnitudeAbove},
    {"DifferenceInRejectionRate", "DifferenceInRejectionRate", "DifferenceInRejectionRate", exceed, Comparison::MagnitudeAbove},
    {"TreatmentEquity", "TreatmentEquity", "TreatmentEquity", exceed, Comparison::MagnitudeAbove},
    {"ConditionalDemographicDesparityPredictedLabels", "ConditionalDemographicDesparityPredictedLabels", "ConditionalDemographicDesparityPredictedLabels", exceed, Comparison::MagnitudeAbove},
    {"GeneralizedEntropy", "GeneralizedEntropy", "GeneralizedEntropy", exceed, Comparison::AboveByDistance},
}};

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
