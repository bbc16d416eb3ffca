#include "data_handler/segmentation.hpp"

#include <algorithm>

namespace zentrova::data_handler {
namespace {

// Whether the first `rows` facet values hold both a 1 and something else.
bool has_both_groups(const LabelledColumn& facet, std::size_t rows) {
    std::size_t ones = 0;
    for_each_block(rows, [&](std::size_t, std::size_t count, const std::int16_t* labels) {
        std::uint32_t block_ones = 0;
        for (std::size_t k = 0; k < count; ++k) block_ones += labels[k] == 1;
        ones += block_ones;
    }, facet);
    return ones != 0 && ones != rows;
}

}  // namespace

Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth) {
    const std::size_t rows = std::min(facet.size(), ground_truth.size());
    if (!has_both_groups(facet, rows)) return Error{"No deviation"};
    return PreTraining{std::move(facet), std::move(ground_truth), rows};
}

Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth) {
    const std::size_t rows = std::min({facet.size(), predictions.size(), ground_truth.size()});
    if (!has_both_groups(facet, rows)) return Error{"no deviaton"};
    return PostTrainingData{std::move(facet), std::move(predictions), std::move(ground_truth), rows};
}

}  // namespace zentrova::data_handler
