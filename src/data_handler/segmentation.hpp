#pragma once

#include "data_handler/labelled_column.hpp"
#include "errors.hpp"

namespace zentrova::data_handler {

// Labelled ground truth of the facet group and of the rest group.
struct PreTraining {
    LabelledColumn facet_ground_truth;
    LabelledColumn rest_ground_truth;
};

// Labelled predictions and ground truth of both groups; within a group, position
// i of the prediction and ground-truth columns belongs to the same input row.
struct PostTrainingData {
    LabelledColumn facet_predictions;
    LabelledColumn rest_predictions;
    LabelledColumn facet_ground_truth;
    LabelledColumn rest_ground_truth;
};

Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth);
Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth);

}  // namespace zentrova::data_handler
