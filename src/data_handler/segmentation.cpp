#include "data_handler/segmentation.hpp"

#include <algorithm>

namespace zentrova::data_handler {
namespace {

std::size_t count_ones(const LabelledColumn& column, std::size_t rows) {
    std::size_t ones = 0;
    for (std::size_t i = 0; i < rows; ++i) ones += column[i] == 1;
    return ones;
}

// Splits the rows by facet without a branch per row: every value is written to
// both groups' next slot and only the slot of its own group advances. Each group
// column gets one slot of slack for the write after its last row.
class GroupSplitter {
public:
    GroupSplitter(LabelledColumn& facet_group, LabelledColumn& rest_group, std::size_t facet_rows,
                  std::size_t rest_rows)
        : facet_group_(facet_group), rest_group_(rest_group) {
        facet_group_.resize(facet_rows + 1);
        rest_group_.resize(rest_rows + 1);
    }
    void put(bool in_facet, std::int16_t value) noexcept {
        facet_group_[facet_next_] = value;
        rest_group_[rest_next_] = value;
        facet_next_ += in_facet;
        rest_next_ += !in_facet;
    }
    void finish() {
        facet_group_.resize(facet_next_);
        rest_group_.resize(rest_next_);
    }

private:
    LabelledColumn& facet_group_;
    LabelledColumn& rest_group_;
    std::size_t facet_next_ = 0, rest_next_ = 0;
};

}  // namespace

Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth) {
    const std::size_t rows = std::min(facet.size(), ground_truth.size());
    const std::size_t facet_rows = count_ones(facet, rows);
    if (facet_rows == 0 || facet_rows == rows) return Error{"No deviation"};

    PreTraining split;
    GroupSplitter ground_truths(split.facet_ground_truth, split.rest_ground_truth, facet_rows, rows - facet_rows);
    for (std::size_t i = 0; i < rows; ++i) ground_truths.put(facet[i] == 1, ground_truth[i]);
    ground_truths.finish();
    return split;
}

Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth) {
    const std::size_t rows = std::min({facet.size(), predictions.size(), ground_truth.size()});
    const std::size_t facet_rows = count_ones(facet, rows);
    if (facet_rows == 0 || facet_rows == rows) return Error{"no deviaton"};

    PostTrainingData split;
    GroupSplitter prediction_groups(split.facet_predictions, split.rest_predictions, facet_rows, rows - facet_rows);
    GroupSplitter ground_truth_groups(split.facet_ground_truth, split.rest_ground_truth, facet_rows,
                                      rows - facet_rows);
    for (std::size_t i = 0; i < rows; ++i) {
        const bool in_facet = facet[i] == 1;
        prediction_groups.put(in_facet, predictions[i]);
        ground_truth_groups.put(in_facet, ground_truth[i]);
    }
    prediction_groups.finish();
    ground_truth_groups.finish();
    return split;
}

}  // namespace zentrova::data_handler
