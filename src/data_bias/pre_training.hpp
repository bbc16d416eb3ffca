#pragma once

#include <string>
#include <vector>

#include <cstdint>
#include "errors.hpp"
#include "metric_map.hpp"

namespace zentrova::data_bias {

// A group's labelled ground truth: its number of labels and of positive (1) labels.
struct GroupLabels {
    std::uint64_t rows = 0;
    std::uint64_t positives = 0;
};

struct PreTraining {
    GroupLabels facet_ground_truth;
    GroupLabels rest_ground_truth;
};

// The pre-training metrics; a member's position is its code.
enum class DataBiasMetrics {
    ClassImbalance,
    DifferenceInProportionOfLabels,
    KlDivergence,
    JsDivergence,
    LpNorm,
    TotalVariationDistance,
    KolmogorovSmirnov,
};

inline constexpr int data_bias_metric_count = 7;

// All seven metrics of the facet group against the rest group.
MetricMap pre_training_bias(PreTraining data);

// Metric names as callers select them, in order, duplicates kept.
Result<std::vector<DataBiasMetrics>> map_string_to_metric(std::vector<std::string> names);

}  // namespace zentrova::data_bias
