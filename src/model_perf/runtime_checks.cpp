#include "model_perf/runtime_checks.hpp"

#include <cmath>
#include <string_view>

#include "float32.hpp"

namespace zentrova::model_perf {
namespace {

constexpr std::array<const char*, 8> bin_names = {
    "BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive",
    "RecallNegative",   "Accuracy",          "F1Score",           "LogLoss",
};

constexpr std::array<const char*, 8> linear_names = {
    "RootMeanSquaredError", "MeanSquaredError",    "MeanAbsoluteError",       "RSquared",
    "MaxError",             "MeanSquaredLogError", "RootMeanSquaredLogError", "MeanAbsolutePercentageError",
};

template <class Code, std::size_t N>
Result<std::vector<Code>> map_names(std::vector<std::string> names, const std::array<const char*, N>& accepted) {
    std::vector<Code> codes;
    codes.reserve(names.size());
    for (const std::string& name : names) {
        std::size_t code = 0;
        while (code < N && name != accepted[code]) ++code;
        if (code == N) return Error{"Invalid metric name"};
        codes.push_back(static_cast<Code>(code));
    }
    return codes;
}

// The first N metrics of a family, read from a metric map.
template <class Report>
Result<Report> build_report(MetricMap metrics, const std::array<const char*, 8>& names) {
    Report report;
    for (std::size_t i = 0; i < report.values.size(); ++i) {
        const auto found = metrics.find(names[i]);
        if (found == metrics.end()) return Error{"Invalid regression report"};
        report.values[i] = found->second;
    }
    return report;
}

// Classification and logistic metrics fail when they fall below (1 - threshold) × baseline.
template <class Report>
void compare_below(FailureReport& failures, const Report& latest, BinMetric metric, const Report& baseline,
                   float threshold) {
    const auto code = static_cast<std::size_t>(metric);
    const float b = baseline.values[code], l = latest.values[code];
    const float limit = (1.0f - threshold) * b;
    if (l < limit) update_failure_report_below(failures, bin_names[code], b - l);
}

template <class Code>
std::vector<Code> all_codes(std::size_t count) {
    std::vector<Code> codes;
    codes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) codes.push_back(static_cast<Code>(i));
    return codes;
}

// Builds both reports (baseline first) and compares them.
template <class Report, class Code>
Result<FailureReport> performance_runtime(MetricMap baseline, MetricMap latest, const std::vector<Code>& codes,
                                          float threshold, const std::array<const char*, 8>& names) {
    auto baseline_report = build_report<Report>(std::move(baseline), names);
    if (!baseline_report) return Error{"Invalid baseline report: " + baseline_report.error().message};
    auto latest_report = build_report<Report>(std::move(latest), names);
    if (!latest_report) return Error{"Invalid latest report: " + latest_report.error().message};
    Result<FailureReport> failures = compare_to_baseline(*latest_report, codes, *baseline_report, threshold);
    if (!failures) return Error{"Invalid metric name passed: " + failures.error().message};
    return failures;
}

Result<FailureReport> classification_performance_runtime(MetricMap baseline, MetricMap latest,
                                                         const std::vector<BinMetric>& codes, float threshold) {
    return performance_runtime<BinaryClassificationReport>(std::move(baseline), std::move(latest), codes,
                                                           threshold, bin_names);
}

Result<FailureReport> logistic_performance_runtime(MetricMap baseline, MetricMap latest,
                                                   const std::vector<BinMetric>& codes, float threshold) {
    return performance_runtime<LogisticRegressionReport>(std::move(baseline), std::move(latest), codes, threshold,
                                                         bin_names);
}

Result<FailureReport> regression_performance_runtime(MetricMap baseline, MetricMap latest,
                                                     const std::vector<LinearMetric>& codes, float threshold) {
    return performance_runtime<LinearRegressionReport>(std::move(baseline), std::move(latest), codes, threshold,
                                                       linear_names);
}

}  // namespace

Result<std::vector<BinMetric>> map_string_to_bin_metric(std::vector<std::string> names) {
    return map_names<BinMetric>(std::move(names), bin_names);
}

Result<std::vector<LinearMetric>> map_string_to_linear_metric(std::vector<std::string> names) {
    return map_names<LinearMetric>(std::move(names), linear_names);
}

void update_failure_report_below(FailureReport& report, const std::string& name, float value) {
    report[name] = "Below threshold by " + format_f32(value);
}

void update_failure_report_above(FailureReport& report, const std::string& name, float value) {
    report[name] = "Exceeded threshold by " + format_f32(value);
}

Result<FailureReport> compare_to_baseline(const BinaryClassificationReport& latest,
                                          const std::vector<BinMetric>& metrics,
                                          const BinaryClassificationReport& baseline, float threshold) {
    FailureReport failures;
    failures.reserve(metrics.size());
    for (const BinMetric metric : metrics) {
        if (metric == BinMetric::LogLoss) return Error{"LogLoss is not valid for Binary Classification"};
        compare_below(failures, latest, metric, baseline, threshold);
    }
    return failures;
}

FailureReport compare_to_baseline(const LogisticRegressionReport& latest, const std::vector<BinMetric>& metrics,
                                  const LogisticRegressionReport& baseline, float threshold) {
    FailureReport failures;
    failures.reserve(metrics.size());
    for (const BinMetric metric : metrics) compare_below(failures, latest, metric, baseline, threshold);
    return failures;
}

FailureReport compare_to_baseline(const LinearRegressionReport& latest, const std::vector<LinearMetric>& metrics,
                                  const LinearRegressionReport& baseline, float threshold) {
    FailureReport failures;
    failures.reserve(metrics.size());
    for (const LinearMetric metric : metrics) {
        const auto code = static_cast<std::size_t>(metric);
        const float b = baseline.values[code], l = latest.values[code];
        const float limit = (1.0f + threshold) * b;
        if (l > limit) update_failure_report_above(failures, linear_names[code], l - b);
    }
    return failures;
}

Result<FailureReport> model_performance_full(models::ModelType type, MetricMap baseline, MetricMap latest,
                                           float threshold) {
    switch (type) {
        case models::ModelType::BinaryClassification:
            return classification_performance_runtime(std::move(baseline), std::move(latest),
                                                      all_codes<BinMetric>(7), threshold);
        case models::ModelType::LogisticRegression:
            return logistic_performance_runtime(std::move(baseline), std::move(latest), all_codes<BinMetric>(8),
                                                threshold);
        case models::ModelType::LinearRegression:
            break;
    }
    return regression_performance_runtime(std::move(baseline), std::move(latest), all_codes<LinearMetric>(8),
                                          threshold);
}

Result<FailureReport> model_performance_partial(models::ModelType type, MetricMap baseline, MetricMap latest,
                                              std::vector<std::string> metrics, float threshold) {
    if (type == models::ModelType::LinearRegression) {
        auto codes = map_string_to_linear_metric(std::move(metrics));
        if (!codes) return Error{"Invalid metric name passed"};
        return regression_performance_runtime(std::move(baseline), std::move(latest), *codes, threshold);
    }
    auto codes = map_string_to_bin_metric(std::move(metrics));
    if (!codes) return Error{"Invalid metric name passed"};
    if (type == models::ModelType::BinaryClassification)
        return classification_performance_runtime(std::move(baseline), std::move(latest), *codes, threshold);
    return logistic_performance_runtime(std::move(baseline), std::move(latest), *codes, threshold);
}

}  // namespace zentrova::model_perf
