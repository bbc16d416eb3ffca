// Confusion counts of the two groups. Each count is what a float accumulator
// starting at zero reaches by adding 1.0 per counted row: exact up to 2^24.
#pragma once

#include <cstdint>

#include <array>
#include "data_handler/segmentation.hpp"
#include "float32.hpp"

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

struct FacetTallies {
    GroupTally facet, rest;
};

// One pass over the three labelled columns; labels are 0 or 1, so every count
// is a sum of products.
inline FacetTallies facet_tallies(const data_handler::PostTrainingData& data) {
    std::array<std::uint64_t, 7> s{};
    data_handler::for_each_block(data.rows, [&](std::size_t, std::size_t count, const std::int16_t* f,
                                                const std::int16_t* p, const std::int16_t* t) {
        std::array<std::uint32_t, 7> sums{};
        for (std::size_t k = 0; k < count; ++k) {
            const auto fi = static_cast<std::uint32_t>(f[k]), pi = static_cast<std::uint32_t>(p[k]),
                       ti = static_cast<std::uint32_t>(t[k]);
            sums[0] += fi;
            sums[1] += fi & pi & ti;
            sums[2] += fi & pi;
            sums[3] += fi & ti;
            sums[4] += pi & ti;
            sums[5] += pi;
            sums[6] += ti;
        }
        for (std::size_t j = 0; j < s.size(); ++j) s[j] += sums[j];
    }, data.facet, data.predictions, data.ground_truth);
    FacetTallies tallies;
    tallies.facet = {s[0], s[1], s[2], s[3]};
    tallies.rest = {data.rows - s[0], s[4] - s[1], s[5] - s[2], s[6] - s[3]};
    return tallies;
}

}  // namespace zentrova::model_bias
