#include "metrics/model_bias/post_training.hpp"

#include <array>

#include "columns/interrupt.hpp"

namespace zentrova::model_bias {
namespace {

// Benefit of a pair: 1 for a true positive, 0 for a false negative, and 2 for
// every row whose ground truth is 0, whatever the prediction.
inline std::size_t benefit_index(std::uint8_t pair) noexcept {
    using labelling::labelled_positive;
    using labelling::predicted_positive;
    if (!(pair & labelled_positive)) return 2;
    return pair & predicted_positive ? 1 : 0;
}

// The pairs of the facet group, then those of the rest group, in input order.
template <class Visit>
void for_each_pair_in_group_order(const PostTrainingData& data, Visit&& visit) {
    columns::InterruptPoller poller;
    auto visit_polled = [&](std::uint8_t pair) {
        poller.advance(1);
        visit(pair);
    };
    data.for_each_facet_pair(visit_polled);
    data.for_each_rest_pair(visit_polled);
}

float generalized_entropy(const PostTrainingData& data, const GroupTally& facet, const GroupTally& rest) {
    const std::size_t rows = data.rows();
    // Benefits are 1 per true positive and 2 per row whose ground truth is 0.
    const std::uint64_t exact_sum = facet.true_pos + rest.true_pos + 2 * (rows - facet.label_pos - rest.label_pos);
    // While the running sum stays within 2^24 every float addition is exact;
    // beyond that the order of the additions decides the rounding.
    float sum = static_cast<float>(exact_sum);
    if (exact_sum > (std::uint64_t{1} << 24)) {
        constexpr std::array<float, 3> benefit = {0.0f, 1.0f, 2.0f};
        sum = 0.0f;
        for_each_pair_in_group_order(data, [&](std::uint8_t pair) { sum = sum + benefit[benefit_index(pair)]; });
    }
    const float nf = to_f32(rows);
    const float mean = sum / nf;
    std::array<float, 3> t{};
    for (std::size_t b = 0; b < 3; ++b) {
        const float ratio = static_cast<float>(b) / mean;
        t[b] = ratio * ratio + -1.0f;
    }
    // The t value of each pair code, so the sum below is a lookup and an add.
    std::array<float, 4> t_of_pair{};
    for (std::uint8_t pair = 0; pair < 4; ++pair) t_of_pair[pair] = t[benefit_index(pair)];
    float total = 0.0f;
    for_each_pair_in_group_order(data, [&](std::uint8_t pair) { total = total + t_of_pair[pair]; });
    return (nf * 0.5f) * total;
}

}  // namespace

std::array<float, metric_count> post_training_values(const GroupTally& facet, const GroupTally& rest,
                                                     float generalized_entropy) {
    const GroupStatistics f(facet), r(rest);
    std::array<float, metric_count> values{};
    auto put = [&](ModelBiasMetric metric, float value) { values[static_cast<std::size_t>(metric)] = value; };
    using M = ModelBiasMetric;

    put(M::DifferenceInPositivePredictedLabels, f.pred_pos / f.label_pos - r.pred_pos / r.label_pos);
    {
        const float q = r.pred_pos / r.label_pos;
        put(M::DisparateImpact, q == 0.0f ? 0.0f : (f.pred_pos / r.label_pos) / q);
    }
    put(M::AccuracyDifference, (f.tp + f.tn) / f.n - (r.tp + r.tn) / r.n);
    put(M::RecallDifference, f.tp / (f.tp + f.fn) - r.tp / (r.tp + r.fn));
    put(M::DifferenceInConditionalAcceptance, f.label_pos / f.pred_pos - r.label_pos / r.pred_pos);
    put(M::DifferenceInAcceptanceRate, f.tp / (f.tp + f.fp) - r.tp / (r.tp + r.fp));
    put(M::SpecialityDifference, r.tn / (r.fp + r.tn) - f.tn / (f.fp + f.tn));
    put(M::DifferenceInConditionalRejection, r.label_neg / r.pred_neg - f.label_neg / f.pred_neg);
    put(M::DifferenceInRejectionRate, r.tn / (r.fn + r.tn) - f.tn / (f.fn + f.tn));
    put(M::TreatmentEquity, r.fn / r.fp - f.fn / f.fp);
    put(M::ConditionalDemographicDesparityPredictedLabels,
        r.pred_neg / (f.pred_neg + r.pred_neg) - r.pred_pos / (f.pred_pos + r.pred_pos));
    put(M::GeneralizedEntropy, generalized_entropy);
    return values;
}

Result<MetricMap> analyze(const labelling::LabelInput& facet, const labelling::LabelInput& predictions,
                          const labelling::LabelInput& ground_truth) {
    auto split = labelling::perform_segmentation_model_bias(labelling::label_column(facet),
                                                            labelling::label_column(predictions),
                                                            labelling::label_column(ground_truth));
    if (!split) return std::move(split).error();
    const PostTrainingData& data = *split;
    const GroupTally facet_tally = tally(data.pairs.data(), data.pairs.data() + data.facet_rows);
    const GroupTally rest_tally = tally(data.pairs.data() + data.facet_rows, data.pairs.data() + data.rows());
    return metric_map(table, post_training_values(facet_tally, rest_tally,
                                                  generalized_entropy(data, facet_tally, rest_tally)));
}

}  // namespace zentrova::model_bias
