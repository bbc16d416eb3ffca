// The split of labelled columns into the facet group (rows whose labelled facet
// is 1) and the rest group, in one pass over the labelled columns. A group
// keeps what its metrics read: the ground-truth labels of a data set by their
// count and sum, a model's (prediction, ground truth) pairs in input order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "metrics/labelling/labelled_column.hpp"
#include "common/errors.hpp"

namespace zentrova::labelling {

// A group's labelled ground truth: its number of labels and of positive (1) labels.
struct GroupLabels {
    std::uint64_t rows = 0;
    std::uint64_t positives = 0;
};

struct PreTraining {
    GroupLabels facet_ground_truth;
    GroupLabels rest_ground_truth;
};

// A row's labelled prediction (bit 0) and ground truth (bit 1).
using PairCodes = Values<std::uint8_t>;

inline constexpr std::uint8_t predicted_positive = 1, labelled_positive = 2;

// The (prediction, ground truth) pairs of both groups: the facet group's rows
// in input order from the front, the rest group's in input order from the back.
struct PostTrainingData {
    PairCodes pairs;
    std::size_t facet_rows = 0;

    std::size_t rows() const noexcept { return pairs.size(); }
};

// Fails (NoDeviationData) when either group would be empty. Rows beyond the
// shorter column are not visited.
Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth);
// Fails (NoDeviationModel) when either group would be empty. Rows beyond the
// shortest column are not visited.
Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth);

}  // namespace zentrova::labelling
