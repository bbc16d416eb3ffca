#include "metrics/labelling/segmentation.hpp"

#include <algorithm>

namespace zentrova::labelling {

Result<PreTraining> perform_segmentation_data_bias(LabelledColumn facet, LabelledColumn ground_truth) {
    const std::size_t rows = std::min(facet.size(), ground_truth.size());
    // Labels are 0 or 1, so sums count the ones.
    std::uint64_t facet_rows = 0, facet_positives = 0, positives = 0;
    for_each_block(rows, [&](std::size_t, std::size_t count, const std::int16_t* f, const std::int16_t* t) {
        std::uint32_t block_facet = 0, block_both = 0, block_truth = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const auto in_facet = static_cast<std::uint32_t>(f[k] == 1);
            const auto positive = static_cast<std::uint32_t>(t[k] == 1);
            block_facet += in_facet;
            block_both += in_facet & positive;
            block_truth += positive;
        }
        facet_rows += block_facet;
        facet_positives += block_both;
        positives += block_truth;
    }, facet, ground_truth);
    if (facet_rows == 0 || facet_rows == rows) return ErrorCode::NoDeviationData;
    return PreTraining{{facet_rows, facet_positives}, {rows - facet_rows, positives - facet_positives}};
}

Result<PostTrainingData> perform_segmentation_model_bias(LabelledColumn facet, LabelledColumn predictions,
                                                         LabelledColumn ground_truth) {
    const std::size_t rows = std::min({facet.size(), predictions.size(), ground_truth.size()});
    PostTrainingData split;
    split.pairs.resize(rows);
    std::uint8_t* const out = split.pairs.data();
    std::size_t facet_next = 0, rest_next = rows;
    for_each_block(rows, [&](std::size_t, std::size_t count, const std::int16_t* f, const std::int16_t* p,
                             const std::int16_t* t) {
        // A row's pair is written to both groups' next free slot and only its
        // own group's cursor moves, so the other slot is overwritten later; when
        // one free slot is left, both writes land on it.
        std::size_t facet_slot = facet_next, rest_slot = rest_next;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t in_facet = f[k] == 1;
            const auto pair = static_cast<std::uint8_t>((p[k] == 1 ? predicted_positive : 0) |
                                                        (t[k] == 1 ? labelled_positive : 0));
            out[facet_slot] = pair;
            out[rest_slot - 1] = pair;
            facet_slot += in_facet;
            rest_slot -= in_facet ^ 1;
        }
        facet_next = facet_slot;
        rest_next = rest_slot;
    }, facet, predictions, ground_truth);
    if (facet_next == 0 || facet_next == rows) return ErrorCode::NoDeviationModel;
    split.facet_rows = facet_next;
    return split;
}

}  // namespace zentrova::labelling
