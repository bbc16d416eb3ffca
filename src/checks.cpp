#include "checks.hpp"

#include "runtime/bias_runtime.hpp"

namespace zentrova {
namespace {

template <class Metric>
std::vector<Metric> every_member(int count) {
    std::vector<Metric> members;
    members.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) members.push_back(static_cast<Metric>(i));
    return members;
}

// Latest is converted before baseline; each conversion's own text is replaced.
template <class Record, class Metric, class Convert>
Result<FailureReport> compare(MetricMap baseline, MetricMap latest, const std::vector<Metric>& metrics,
                              float threshold, Convert convert) {
    Result<Record> latest_record = convert(std::move(latest));
    if (!latest_record) return Error{"Invalid metrics body passed"};
    Result<Record> baseline_record = convert(std::move(baseline));
    if (!baseline_record) return Error{"Invalid baseline body passed"};
    return runtime::runtime_check(*latest_record, *baseline_record, metrics, threshold);
}

Result<FailureReport> compare_data_bias(MetricMap baseline, MetricMap latest,
                                        const std::vector<data_bias::DataBiasMetrics>& metrics, float threshold) {
    return compare<runtime::DataBiasRuntime>(std::move(baseline), std::move(latest), metrics, threshold,
                                             runtime::data_bias_runtime_from);
}

Result<FailureReport> compare_model_bias(MetricMap baseline, MetricMap latest,
                                         const std::vector<model_bias::ModelBiasMetrics>& metrics,
                                         float threshold) {
    return compare<runtime::ModelBiasRuntime>(std::move(baseline), std::move(latest), metrics, threshold,
                                              runtime::model_bias_runtime_from);
}

}  // namespace

Result<FailureReport> data_bias_runtime_check(MetricMap baseline, MetricMap latest, float threshold) {
    return compare_data_bias(std::move(baseline), std::move(latest),
                             every_member<data_bias::DataBiasMetrics>(data_bias::data_bias_metric_count),
                             threshold);
}

Result<FailureReport> data_bias_partial_check(MetricMap baseline, MetricMap latest,
                                              std::vector<std::string> metrics, float threshold) {
    auto members = data_bias::map_string_to_metric(std::move(metrics));
    if (!members) return Error{"Invalid DataBias metric passed"};
    return compare_data_bias(std::move(baseline), std::move(latest), *members, threshold);
}

Result<FailureReport> model_bias_runtime_check(MetricMap baseline, MetricMap latest, float threshold) {
    return compare_model_bias(std::move(baseline), std::move(latest),
                              every_member<model_bias::ModelBiasMetrics>(model_bias::model_bias_metric_count),
                              threshold);
}

Result<FailureReport> model_bias_partial_check(MetricMap baseline, MetricMap latest,
                                               std::vector<std::string> metrics, float threshold) {
    auto members = model_bias::map_string_to_metrics(std::move(metrics));
    if (!members) return Error{"Invalid ModelBias metric passed"};
    return compare_model_bias(std::move(baseline), std::move(latest), *members, threshold);
}

}  // namespace zentrova
