// Confusion counts of the two groups: exact integer counts, each converted once
// to the nearest float.
#pragma once

#include <cstdint>

#include "numeric/float32.hpp"

namespace zentrova::model_bias {

// Exact integer counts of one group.
struct GroupTally {
    std::uint64_t rows = 0, true_pos = 0, pred_pos = 0, label_pos = 0;
};

struct GroupStatistics {
    float n = 0, tp = 0, fp = 0, fn = 0, tn = 0;
    float pred_pos = 0, pred_neg = 0, label_pos = 0, label_neg = 0;

    explicit GroupStatistics(const GroupTally& t)
        : n(to_f32(t.rows)),
          tp(to_f32(t.true_pos)),
          fp(to_f32(t.pred_pos - t.true_pos)),
          fn(to_f32(t.label_pos - t.true_pos)),
          tn(to_f32(t.rows - t.pred_pos - t.label_pos + t.true_pos)),
          pred_pos(to_f32(t.pred_pos)),
          pred_neg(to_f32(t.rows - t.pred_pos)),
          label_pos(to_f32(t.label_pos)),
          label_neg(to_f32(t.rows - t.label_pos)) {}
};

}  // namespace zentrova::model_bias
