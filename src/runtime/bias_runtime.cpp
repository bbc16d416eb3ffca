#include "runtime/bias_runtime.hpp"

#include <cmath>
#include <cstddef>

#include "float32.hpp"

namespace zentrova::runtime {
namespace {

struct Lookup {
    const char* key;
    const char* missing;
};

constexpr std::array<Lookup, data_bias::data_bias_metric_count> data_bias_lookups = {{
    {"ClassImbalance", "ClassImbalance not present"},
    {"DifferenceInProportionOfLabels", "DifferenceInProportionOfLabels not present"},
    {"KlDivergence", "KlDivergence not present"},
    {"JsDivergence", "JsDivergence not present"},
    {"LpNorm", "LpNorm not present"},
    {"TotalVarationDistance", "TotalVariationDifference not present"},
    {"KolmorogvSmirnov", "KolmogorvSmirnov is not present"},
}};

constexpr std::array<const char*, model_bias::model_bias_metric_count> model_bias_missing = {
    "DifferenceInPositivePredictedLabels is not present",
    "DisparateImpact is not present",
    "AccuracyDifference is not present",
    "RecallDifference is not present",
    "DifferenceInConditionalAcceptance is not present",
    "DifferenceInAcceptanceRates is not present",
    "SpecialityDifference not present",
    "DifferenceInConditionalRejection not present",
    "DifferenceInRejectionRate is not present",
    "TreatmentEquity is not present",
    "ConditionalDemographicDesparityPredictedLabels is not present",
    "GeneralizedEntropy is not present",
};

// How a data-bias member is compared and reported.
struct DataBiasRule {
    bool by_magnitude;
    const char* report_key;
    const char* prefix;
};

constexpr std::array<DataBiasRule, data_bias::data_bias_metric_count> data_bias_rules = {{
    {true, "ClassImbalance", "Exceeded baseline by: "},
    {true, "DfferenceInProportionOfLabels", "Exceed baseline by: "},
    {false, "KlDivergence", "Execeed baseline by: "},
    {false, "JsDivergance", "Execeed baseline by: "},
    {false, "LpNorm", "Exceeded baseline by: "},
    {false, "TotalVariationDistance", "Exceed baseline by: "},
    {false, "KolmorogvSmirnov", "Exceed baseline by: "},
}};

// Looks the keys up in member order; the first missing key ends the conversion.
template <std::size_t N, class Key, class Missing>
Result<std::array<float, N>> look_up(const MetricMap& metrics, Key key, Missing missing) {
    std::array<float, N> values{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto found = metrics.find(key(i));
        if (found == metrics.end()) return Error{missing(i)};
        values[i] = found->second;
    }
    return values;
}

}  // namespace

Result<DataBiasRuntime> data_bias_runtime_from(MetricMap metrics) {
    auto values = look_up<data_bias::data_bias_metric_count>(
        metrics, [](std::size_t i) { return data_bias_lookups[i].key; },
        [](std::size_t i) { return data_bias_lookups[i].missing; });
    if (!values) return std::move(values).error();
    return DataBiasRuntime{*values};
}

Result<ModelBiasRuntime> model_bias_runtime_from(MetricMap metrics) {
    auto values = look_up<model_bias::model_bias_metric_count>(
        metrics, [](std::size_t i) { return model_bias::metric_key(static_cast<model_bias::ModelBiasMetrics>(i)); },
        [](std::size_t i) { return model_bias_missing[i]; });
    if (!values) return std::move(values).error();
    return ModelBiasRuntime{*values};
}

FailureReport runtime_check(const DataBiasRuntime& latest, const DataBiasRuntime& baseline,
                            const std::vector<data_bias::DataBiasMetrics>& metrics, float threshold) {
    const float k = 1.0f + threshold;
    FailureReport report;
    report.reserve(metrics.size());
    for (const auto metric : metrics) {
        const auto code = static_cast<std::size_t>(metric);
        const DataBiasRule& rule = data_bias_rules[code];
        const float l = latest.values[code], b = baseline.values[code];
        if (rule.by_magnitude) {
            if (std::fabs(l) > k * std::fabs(b))
                report[rule.report_key] = rule.prefix + format_f32(std::fabs(std::fabs(l) - std::fabs(b)));
        } else if (l > k * b) {
            report[rule.report_key] = rule.prefix + format_f32(l - b);
        }
    }
    return report;
}

FailureReport runtime_check(const ModelBiasRuntime& latest, const ModelBiasRuntime& baseline,
                            const std::vector<model_bias::ModelBiasMetrics>& metrics, float threshold) {
    using model_bias::ModelBiasMetrics;
    const float k = 1.0f + threshold;
    FailureReport report;
    report.reserve(metrics.size());
    for (const auto metric : metrics) {
        const auto code = static_cast<std::size_t>(metric);
        const float l = latest.values[code], b = baseline.values[code];
        const bool by_value =
            metric == ModelBiasMetrics::DisparateImpact || metric == ModelBiasMetrics::GeneralizedEntropy;
        if (by_value) {
            if (l > k * b) report[model_bias::metric_key(metric)] = "Exceed baseline by: " + format_f32(std::fabs(l - b));
        } else if (std::fabs(l) > k * std::fabs(b)) {
            report[model_bias::metric_key(metric)] =
                "Exceed baseline by: " + format_f32(std::fabs(std::fabs(l) - std::fabs(b)));
        }
    }
    return report;
}

}  // namespace zentrova::runtime
