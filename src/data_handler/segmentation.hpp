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

// Calls visit(row, labels...) for the rows of one group (facet value 1 or 0) in
// input order, with the row's label from each of the other columns. Rows are
// selected a block at a time so the selection needs no branch.
template <class Visit, class... Columns>
void for_each_group_row(const LabelledColumn& facet, std::size_t rows, std::int16_t group, Visit&& visit,
                        const Columns&... columns) {
    std::uint16_t selected[label_block_rows];
    for_each_block(rows, [&](std::size_t, std::size_t count, const std::int16_t* facet_labels, const auto*... labels) {
        std::size_t chosen = 0;
        for (std::size_t k = 0; k < count; ++k) {
            selected[chosen] = static_cast<std::uint16_t>(k);
            chosen += facet_labels[k] == group;
        }
        for (std::size_t c = 0; c < chosen; ++c) visit(labels[selected[c]]...);
    }, facet, columns...);
}

}  // namespace zentrova::data_handler
