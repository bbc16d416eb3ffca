// Confusion counts of the two groups. Each count is what a float accumulator
// starting at zero reaches by adding 1.0 per counted row: exact up to 2^24.
#pragma once

#include <cstdint>

#include "columns/interrupt.hpp"
#include "metrics/labelling/segmentation.hpp"
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
          tp(saturating_count(t.true_pos)),
          fp(saturating_count(t.pred_pos - t.true_pos)),
          fn(saturating_count(t.label_pos - t.true_pos)),
          tn(saturating_count(t.rows - t.pred_pos - t.label_pos + t.true_pos)),
          pred_pos(saturating_count(t.pred_pos)),
          pred_neg(saturating_count(t.rows - t.pred_pos)),
          label_pos(saturating_count(t.label_pos)),
          label_neg(saturating_count(t.rows - t.label_pos)) {}
};

// Counts of the pairs [first, last) of one group.
inline GroupTally tally(const std::uint8_t* first, const std::uint8_t* last) {
    using labelling::labelled_positive;
    using labelling::predicted_positive;
    GroupTally tally;
    tally.rows = static_cast<std::uint64_t>(last - first);
    constexpr std::size_t block = 1 << 16;  // keeps the 32-bit sums from overflowing
    columns::InterruptPoller poller;
    for (; first < last;) {
        poller.advance(block);
        const std::uint8_t* end = last - first > static_cast<std::ptrdiff_t>(block) ? first + block : last;
        std::uint32_t both = 0, predicted = 0, labelled = 0;
        for (; first < end; ++first) {
            const std::uint8_t pair = *first;
            both += pair == (predicted_positive | labelled_positive);
            predicted += pair & predicted_positive;
            labelled += (pair & labelled_positive) >> 1;
        }
        tally.true_pos += both;
        tally.pred_pos += predicted;
        tally.label_pos += labelled;
    }
    return tally;
}

}  // namespace zentrova::model_bias
