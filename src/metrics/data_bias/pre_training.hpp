// The pre-training metrics of the facet group against the rest group.
#pragma once

#include <array>

#include <cstdint>

#include "metrics/data_bias/table.hpp"

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

// The metric values, in table order, from the groups' exact label counts.
std::array<float, metric_count> pre_training_values(const PreTraining& counts);

}  // namespace zentrova::data_bias
