#include "data_handler/segmentation.hpp"

#include <algorithm>

namespace zentrova::data_handler {
namespace {

std::size_t count_ones(const LabelledColumn& column, std::size_t rows) {
    std::size_t ones = 0;
    for (std::size_t i = 0; i < rows; ++i) ones += column[i] == 1;
    return ones;
}

}  // namespace

Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth) {
    const std::size_t rows = std::min(facet.size(), ground_truth.size());
    const std::size_t facet_rows = count_ones(facet, rows);
    if (facet_rows == 0 || facet_rows == rows) return Error{"No deviation"};

    PreTraining split;
    split.facet_ground_truth.reserve(facet_rows);
    split.rest_ground_truth.reserve(rows - facet_rows);
    for (std::size_t i = 0; i < rows; ++i)
        (facet[i] == 1 ? split.facet_ground_truth : split.rest_ground_truth).push_back(ground_truth[i]);
    return split;
}

Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth) {
    const std::size_t rows = std::min({facet.size(), predictions.size(), ground_truth.size()});
    const std::size_t facet_rows = count_ones(facet, rows);
    if (facet_rows == 0 || facet_rows == rows) return Error{"no deviaton"};

    PostTrainingData split;
    split.facet_predictions.reserve(facet_rows);
    split.facet_ground_truth.reserve(facet_rows);
    split.rest_predictions.reserve(rows - facet_rows);
    split.rest_ground_truth.reserve(rows - facet_rows);
    for (std::size_t i = 0; i < rows; ++i) {
        if (facet[i] == 1) {
            split.facet_predictions.push_back(predictions[i]);
            split.facet_ground_truth.push_back(ground_truth[i]);
        } else {
            split.rest_predictions.push_back(predictions[i]);
            split.rest_ground_truth.push_back(ground_truth[i]);
        }
    }
    return split;
}

}  // namespace zentrova::data_handler
