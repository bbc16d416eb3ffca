// Performance drift checks: baseline and latest reports of one model family.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "errors.hpp"
#include "metric_map.hpp"
#include "models/model_type.hpp"

namespace zentrova::model_perf {

// Metric codes of the classification and logistic families.
enum class BinMetric {
    BalancedAccuracy,
    PrecisionPositive,
    PrecisionNegative,
    RecallPositive,
    RecallNegative,
    Accuracy,
    F1Score,
    LogLoss,
};

// Metric codes of the regression family.
enum class LinearMetric {
    RootMeanSquaredError,
    MeanSquaredError,
    MeanAbsoluteError,
    RSquared,
    MaxError,
    MeanSquaredLogError,
    RootMeanSquaredLogError,
    MeanAbsolutePercentageError,
};

struct BinaryClassificationReport {
    std::array<float, 7> values{};
};
struct LogisticRegressionReport {
    std::array<float, 8> values{};
};
struct LinearRegressionReport {
    std::array<float, 8> values{};
};

Result<std::vector<BinMetric>> map_string_to_bin_metric(std::vector<std::string> names);
Result<std::vector<LinearMetric>> map_string_to_linear_metric(std::vector<std::string> names);

void update_failure_report_below(FailureReport& report, const std::string& name, float value);
void update_failure_report_above(FailureReport& report, const std::string& name, float value);

Result<FailureReport> compare_to_baseline(const BinaryClassificationReport& latest,
                                          const std::vector<BinMetric>& metrics,
                                          const BinaryClassificationReport& baseline, float threshold);
FailureReport compare_to_baseline(const LogisticRegressionReport& latest, const std::vector<BinMetric>& metrics,
                                  const LogisticRegressionReport& baseline, float threshold);
FailureReport compare_to_baseline(const LinearRegressionReport& latest, const std::vector<LinearMetric>& metrics,
                                  const LinearRegressionReport& baseline, float threshold);

// The full check of a family: every metric of its report.
Result<FailureReport> model_performance_full(models::ModelType type, MetricMap baseline, MetricMap latest,
                                           float threshold);
// The partial check: only the named metrics, in the given order.
Result<FailureReport> model_performance_partial(models::ModelType type, MetricMap baseline, MetricMap latest,
                                              std::vector<std::string> metrics, float threshold);

}  // namespace zentrova::model_perf
