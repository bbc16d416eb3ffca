#include "metrics/model_bias/post_training.hpp"

#include <algorithm>
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

// The float sum of value_of[pair] over the pairs of the facet group, then
// those of the rest group, each in input order (the facet group's pairs stand
// at the front, the rest group's backwards from the end), added one by one.
float ordered_sum(const PostTrainingData& data, const std::array<float, 4> value_of) {
    constexpr std::size_t chunk = std::size_t{1} << 16;
    const std::uint8_t* pairs = data.pairs.data();
    columns::InterruptPoller poller;
    float total = 0.0f;
    for (std::size_t start = 0; start < data.facet_rows;) {
        const std::size_t end = std::min(data.facet_rows, start + chunk);
        poller.advance(end - start);
        float part = total;
        for (; start < end; ++start) part = part + value_of[pairs[start]];
        total = part;
    }
    for (std::size_t stop = data.rows(); stop > data.facet_rows;) {
        const std::size_t low = stop - std::min(chunk, stop - data.facet_rows);
        poller.advance(stop - low);
        float part = total;
        for (; stop > low; --stop) part = part + value_of[pairs[stop - 1]];
        total = part;
    }
    return total;
}

float generalized_entropy(const PostTrainingData& data, const GroupTally& facet, const GroupTally& rest) {
    const std::size_t rows = data.rows();
    // Benefits are 1 per true positive and 2 per row whose ground truth is 0.
    const std::uint64_t exact_sum = facet.true_pos + rest.true_pos + 2 * (rows - facet.label_pos - rest.label_pos);
    // While the running sum stays within 2^24 every float addition is exact;
    // beyond that the order of the additions decides the rounding.
    float sum = static_cast<float>(exact_sum);
    if (exact_sum > (std::uint64_t{1} << 24)) {
        std::array<float, 4> benefit_of_pair{};
        for (std::uint8_t pair = 0; pair < 4; ++pair) benefit_of_pair[pair] = static_cast<float>(benefit_index(pair));
        sum = ordered_sum(data, benefit_of_pair);
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
    return (nf * 0.5f) * ordered_sum(data, t_of_pair);
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
