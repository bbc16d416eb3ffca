// Confusion counts of the two groups. Each count is what a float accumulator
// starting at zero reaches by adding 1.0 per counted row: exact up to 2^24.
#pragma once

#include <cstdint>

#include <array>
#include <vector>
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

// Index of a row's benefit: 1 for a true positive, 0 for a false negative,
// and 2 for every row whose ground truth is 0, whatever the prediction.
inline std::uint8_t benefit_index(std::int16_t prediction, std::int16_t ground_truth) noexcept {
    const auto truth_is_one = static_cast<std::uint8_t>(ground_truth == 1);
    const auto prediction_is_one = static_cast<std::uint8_t>(prediction == 1);
    return static_cast<std::uint8_t>((truth_is_one & prediction_is_one) | ((truth_is_one ^ 1) << 1));
}

using BenefitIndices = std::vector<std::uint8_t, data_handler::UninitialisedAllocator<std::uint8_t>>;

struct RowScan {
    FacetTallies tallies;
    // Benefit index of every row: the facet group's rows in input order from
    // the front, the rest group's rows in input order from the back.
    BenefitIndices benefits;

    template <class Visit>
    void for_each_benefit_in_group_order(Visit&& visit) const {
        const std::size_t facet_rows = tallies.facet.rows;
        for (std::size_t i = 0; i < facet_rows; ++i) visit(benefits[i]);
        for (std::size_t i = benefits.size(); i > facet_rows; --i) visit(benefits[i - 1]);
    }
};

// One pass over the three labelled columns. Labels are 0 or 1, so every count
// is a sum of products; each row's benefit goes to the next free slot of its
// group, chosen without a branch.
inline RowScan scan_rows(const data_handler::PostTrainingData& data) {
    RowScan scan;
    scan.benefits.resize(data.rows);
    std::uint8_t* const out = scan.benefits.data();
    std::size_t facet_next = 0, rest_next = data.rows;  // rest slots are taken from the back
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

        // The benefit is written to both groups' next free slot and only its own
        // group's cursor moves, so the other slot is overwritten later; when one
        // free slot is left, both writes land on it.
        std::size_t facet_slot = facet_next, rest_slot = rest_next;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t in_facet = f[k] == 1;
            const std::uint8_t b = benefit_index(p[k], t[k]);
            out[facet_slot] = b;
            out[rest_slot - 1] = b;
            facet_slot += in_facet;
            rest_slot -= in_facet ^ 1;
        }
        facet_next = facet_slot;
        rest_next = rest_slot;
    }, data.facet, data.predictions, data.ground_truth);

    scan.tallies.facet = {s[0], s[1], s[2], s[3]};
    scan.tallies.rest = {data.rows - s[0], s[4] - s[1], s[5] - s[2], s[6] - s[3]};
    return scan;
}

}  // namespace zentrova::model_bias
