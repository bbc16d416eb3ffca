// Bodies of the bias drift checks.
#pragma once

#include <string>
#include <vector>

#include "errors.hpp"
#include "metric_map.hpp"

namespace zentrova {

Result<FailureReport> data_bias_runtime_check(MetricMap baseline, MetricMap latest, float threshold);
Result<FailureReport> data_bias_partial_check(MetricMap baseline, MetricMap latest,
                                              std::vector<std::string> metrics, float threshold);
Result<FailureReport> model_bias_runtime_check(MetricMap baseline, MetricMap latest, float threshold);
Result<FailureReport> model_bias_partial_check(MetricMap baseline, MetricMap latest,
                                               std::vector<std::string> metrics, float threshold);

}  // namespace zentrova
