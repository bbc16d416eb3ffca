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

inline GroupStatistics group_statistics(const data_handler::LabelledColumn& predictions,
                                        const data_handler::LabelledColumn& ground_truth) {
    std::uint64_t tp = 0, fp = 0, fn = 0, tn = 0;
    const std::size_t pairs = std::min(predictions.size(), ground_truth.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::int16_t p = predictions[i], t = ground_truth[i];
        tp += (p == 1) & (t == 1);
        fp += (p == 1) & (t == 0);
        fn += (p == 0) & (t == 1);
        tn += (p == 0) & (t == 0);
    }
    std::uint64_t pred_pos = 0, pred_neg = 0, label_pos = 0, label_neg = 0;
    for (const std::int16_t p : predictions) {
        pred_pos += p == 1;
        pred_neg += p == 0;
    }
    for (const std::int16_t t : ground_truth) {
        label_pos += t == 1;
        label_neg += t == 0;
    }
    GroupStatistics s;
    s.n = to_f32(predictions.size());
    s.tp = saturating_count(tp);
    s.fp = saturating_count(fp);
    s.fn = saturating_count(fn);
    s.tn = saturating_count(tn);
    s.pred_pos = saturating_count(pred_pos);
    s.pred_neg = saturating_count(pred_neg);
    s.label_pos = saturating_count(label_pos);
    s.label_neg = saturating_count(label_neg);
    return s;
}

}  // namespace zentrova::model_bias
