// The pre-training metrics of the facet group against the rest group.
#pragma once

#include <array>

#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "metrics/data_bias/table.hpp"
#include "metrics/labelling/label_input.hpp"
#include "metrics/labelling/segmentation.hpp"

namespace zentrova::data_bias {

// The metric values, in table order, from the groups' label counts.
std::array<float, metric_count> pre_training_values(const labelling::PreTraining& counts);

// Labels both columns, splits the rows into the two groups and computes the metrics.
Result<MetricMap> analyze(const labelling::LabelInput& facet, const labelling::LabelInput& ground_truth);

}  // namespace zentrova::data_bias
