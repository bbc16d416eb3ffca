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

}  // namespace

const char* metric_key(ModelBiasMetrics metric) noexcept { return keys[static_cast<std::size_t>(metric)]; }

MetricMap post_training_metrics(const GroupTally& facet, const GroupTally& rest, float generalized_entropy) {
    const GroupStatistics f(facet), r(rest);

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
    put(M::GeneralizedEntropy, generalized_entropy);
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
