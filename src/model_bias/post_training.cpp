#include "model_bias/post_training.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "model_bias/facet_statistics.hpp"

namespace zentrova::model_bias {
namespace {

constexpr std::array<const char*, model_bias_metric_count> keys = {
    "DifferenceInPositivePredictedLabels",
    "DisparateImpact",
    "AccuracyDifference",
    "RecallDifference",
    "DifferenceInConditionalAcceptance",
    "DifferenceInAcceptanceRate",
    "SpecialityDifference",
    "DifferenceInConditionalRejection",
    "DifferenceInRejectionRate",
    "TreatmentEquity",
    "ConditionalDemographicDesparityPredictedLabels",
    "GeneralizedEntropy",
};

// Benefit of a row: 1 for a true positive, 0 for a false negative, 2 for every
// row whose ground truth is not 1.
inline int benefit(std::int16_t prediction, std::int16_t ground_truth) noexcept {
    if (ground_truth == 1) return prediction == 1 ? 1 : (prediction == 0 ? 0 : 2);
    return 2;
}

// The rows of the facet group followed by those of the rest group, in order
// (the two columns of a group have the same length).
template <class Visit>
void visit_joined_rows(const PostTrainingData& data, Visit&& visit) {
    const std::size_t facet_pairs = std::min(data.facet_ground_truth.size(), data.facet_predictions.size());
    for (std::size_t i = 0; i < facet_pairs; ++i)
        visit(benefit(data.facet_predictions[i], data.facet_ground_truth[i]));
    const std::size_t rest_pairs = std::min(data.rest_ground_truth.size(), data.rest_predictions.size());
    for (std::size_t i = 0; i < rest_pairs; ++i)
        visit(benefit(data.rest_predictions[i], data.rest_ground_truth[i]));
}

float generalized_entropy(const PostTrainingData& data) {
    std::uint64_t pairs = 0, exact_sum = 0;
    visit_joined_rows(data, [&](int b) {
        exact_sum += static_cast<std::uint64_t>(b);
        ++pairs;
    });
    // While the running sum stays within 2^24 every float addition is exact;
    // beyond that the order of the additions decides the rounding.
    float sum = static_cast<float>(exact_sum);
    if (exact_sum > (std::uint64_t{1} << 24)) {
        sum = 0.0f;
        visit_joined_rows(data, [&](int b) { sum = sum + static_cast<float>(b); });
    }
    const float nf = to_f32(pairs);
    const float mean = sum / nf;
    std::array<float, 3> t{};
    for (int b = 0; b < 3; ++b) {
        const float ratio = static_cast<float>(b) / mean;
        t[b] = ratio * ratio + -1.0f;
    }
    float total = 0.0f;
    visit_joined_rows(data, [&](int b) { total = total + t[b]; });
    return (nf * 0.5f) * total;
}

}  // namespace

const char* metric_key(ModelBiasMetrics metric) noexcept { return keys[static_cast<std::size_t>(metric)]; }

MetricMap post_training_bias(PostTrainingData data) {
    const GroupStatistics f = group_statistics(data.facet_predictions, data.facet_ground_truth);
    const GroupStatistics r = group_statistics(data.rest_predictions, data.rest_ground_truth);

    MetricMap metrics;
    metrics.reserve(model_bias_metric_count);
    auto put = [&](ModelBiasMetrics metric, float value) { metrics.emplace(metric_key(metric), value); };
    using M = ModelBiasMetrics;

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
    put(M::GeneralizedEntropy, generalized_entropy(data));
    return metrics;
}

Result<std::vector<ModelBiasMetrics>> map_string_to_metrics(std::vector<std::string> names) {
    std::vector<ModelBiasMetrics> metrics;
    metrics.reserve(names.size());
    for (const std::string& name : names) {
        std::size_t code = 0;
        while (code < keys.size() && name != keys[code]) ++code;
        if (code == keys.size()) return Error{"Invalid metric passed"};
        metrics.push_back(static_cast<ModelBiasMetrics>(code));
    }
    return metrics;
}

}  // namespace zentrova::model_bias
