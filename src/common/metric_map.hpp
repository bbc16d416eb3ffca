// The shared maps of the metric code: metric name to value, and metric name to
// failure message.
#pragma once

#include <string>
#include <unordered_map>

namespace zentrova {

using MetricMap = std::unordered_map<std::string, float>;
using FailureReport = std::unordered_map<std::string, std::string>;

}  // namespace zentrova
