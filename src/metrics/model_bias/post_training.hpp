// The post-training metrics of the facet group against the rest group.
#pragma once

#include <array>

#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "metrics/labelling/label_input.hpp"
#include "metrics/labelling/segmentation.hpp"
#include "metrics/model_bias/facet_statistics.hpp"
#include "metrics/model_bias/table.hpp"

namespace zentrova::model_bias {

using labelling::PostTrainingData;

// The metric values, in table order, from the groups' counts and the
// generalized entropy (whose float sums depend on the order of the rows).
std::array<float, metric_count> post_training_values(const GroupTally& facet, const GroupTally& rest,
                                                     float generalized_entropy);

// Labels the three columns, splits the rows into the two groups and computes the metrics.
Result<MetricMap> analyze(const labelling::LabelInput& facet, const labelling::LabelInput& predictions,
                          const labelling::LabelInput& ground_truth);

}  // namespace zentrova::model_bias
