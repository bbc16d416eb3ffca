// The split of labelled columns into the facet group (rows whose labelled facet
// is 1) and the rest group. The groups are not copied out: a record keeps the
// labelled columns and the facet decides, row by row, which group a row is in.
#pragma once

#include <cstddef>

#include "data_handler/labelled_column.hpp"
#include "errors.hpp"

namespace zentrova::data_handler {

// Labelled ground truth of both groups.
struct PreTraining {
    LabelledColumn facet;
    LabelledColumn ground_truth;
    std::size_t rows = 0;  // rows visited: the length of the shorter column
};

// Labelled predictions and ground truth of both groups.
struct PostTrainingData {
    LabelledColumn facet;
    LabelledColumn predictions;
    LabelledColumn ground_truth;
    std::size_t rows = 0;  // rows visited: the length of the shortest column
};

// Fails with "No deviation" when either group would be empty.
Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth);
// Fails with "no deviaton" when either group would be empty.
Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth);

}  // namespace zentrova::data_handler
