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

// Calls visit(row) for the rows of one group (facet value 1 or 0) in input order,
// a block at a time so the row selection needs no branch.
template <class Visit>
void for_each_group_row(const LabelledColumn& facet, std::size_t rows, std::int16_t group, Visit&& visit) {
    constexpr std::size_t block = 2048;
    std::uint32_t selected[block];
    for (std::size_t start = 0; start < rows; start += block) {
        const std::size_t end = start + block < rows ? start + block : rows;
        std::size_t count = 0;
        for (std::size_t i = start; i < end; ++i) {
            selected[count] = static_cast<std::uint32_t>(i - start);
            count += facet[i] == group;
        }
        for (std::size_t k = 0; k < count; ++k) visit(start + selected[k]);
    }
}

}  // namespace zentrova::data_handler
