// Confusion counts of one group, each accumulated as a float by adding 1.0.
#pragma once

#include <algorithm>
#include <cstdint>

#include "data_handler/labelled_column.hpp"
#include "float32.hpp"

namespace zentrova::model_bias {

struct GroupStatistics {
    float n = 0, tp = 0, fp = 0, fn = 0, tn = 0;
    float pred_pos = 0, pred_neg = 0, label_pos = 0, label_neg = 0;
};

// Labelled columns hold only 0 and 1, so every count follows from three sums:
// the ones of each column and the rows where both are 1.
inline GroupStatistics group_statistics(const data_handler::LabelledColumn& predictions,
                                        const data_handler::LabelledColumn& ground_truth) {
    const std::size_t pairs = std::min(predictions.size(), ground_truth.size());
    std::uint64_t both = 0, paired_pred = 0, paired_truth = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const auto p = static_cast<std::uint16_t>(predictions[i]), t = static_cast<std::uint16_t>(ground_truth[i]);
        both += p & t;
        paired_pred += p;
        paired_truth += t;
    }
    std::uint64_t pred_pos = paired_pred, label_pos = paired_truth;
    for (std::size_t i = pairs; i < predictions.size(); ++i) pred_pos += static_cast<std::uint16_t>(predictions[i]);
    for (std::size_t i = pairs; i < ground_truth.size(); ++i) label_pos += static_cast<std::uint16_t>(ground_truth[i]);

    GroupStatistics s;
    s.n = to_f32(predictions.size());
    s.tp = saturating_count(both);
    s.fp = saturating_count(paired_pred - both);
    s.fn = saturating_count(paired_truth - both);
    s.tn = saturating_count(pairs - paired_pred - paired_truth + both);
    s.pred_pos = saturating_count(pred_pos);
    s.pred_neg = saturating_count(predictions.size() - pred_pos);
    s.label_pos = saturating_count(label_pos);
    s.label_neg = saturating_count(ground_truth.size() - label_pos);
    return s;
}

}  // namespace zentrova::model_bias
