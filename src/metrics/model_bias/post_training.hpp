// The post-training metrics of the facet group against the rest group.
#pragma once

#include <array>

#include "metrics/model_bias/facet_statistics.hpp"
#include "metrics/model_bias/table.hpp"

namespace zentrova::model_bias {

// The metric values, in table order, from the groups' exact counts and the
// generalized entropy.
std::array<float, metric_count> post_training_values(const GroupTally& facet, const GroupTally& rest,
                                                     float generalized_entropy);

// GeneralizedEntropy over all rows from the groups' counts: a row's benefit is
// 1 for a true positive, 0 for a false negative and 2 when its ground truth is
// 0, so both of its sums follow exactly from three counts.
float generalized_entropy(const GroupTally& facet, const GroupTally& rest);

}  // namespace zentrova::model_bias
