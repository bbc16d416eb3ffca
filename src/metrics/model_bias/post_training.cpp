#include "metrics/model_bias/post_training.hpp"

#include <array>
#include <cstdint>

#include "numeric/exact_sum.hpp"

namespace zentrova::model_bias {

float generalized_entropy(const GroupTally& facet, const GroupTally& rest) {
    const std::uint64_t rows = facet.rows + rest.rows;
    const std::uint64_t ones = facet.true_pos + rest.true_pos;
    const std::uint64_t zeros = facet.label_pos + rest.label_pos - ones;
    const std::uint64_t twos = rows - ones - zeros;
    // A benefit that no row has adds nothing, not even a NaN term.
    auto add = [](numeric::ExactSum& sum, float value, std::uint64_t count) {
        if (count != 0) sum.add_multiple(value, count);
    };
    numeric::ExactSum benefits;
    add(benefits, 1.0f, ones);
    add(benefits, 2.0f, twos);
    const float nf = to_f32(rows);
    const float mean = benefits.value() / nf;
    auto t_of = [mean](float benefit) {
        const float ratio = benefit / mean;
        return ratio * ratio + -1.0f;
    };
    numeric::ExactSum total;
    add(total, t_of(0.0f), zeros);
    add(total, t_of(1.0f), ones);
    add(total, t_of(2.0f), twos);
    return (nf * 0.5f) * total.value();
}

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

}  // namespace zentrova::model_bias
