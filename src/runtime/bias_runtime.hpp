// Drift checks of the bias metrics: a latest record against a baseline record.
#pragma once

#include <array>
#include <vector>

#include "data_bias/pre_training.hpp"
#include "errors.hpp"
#include "metric_map.hpp"
#include "model_bias/post_training.hpp"

namespace zentrova::runtime {

// One value per pre-training metric, in member order.
struct DataBiasRuntime {
    std::array<float, data_bias::data_bias_metric_count> values{};
};

// One value per post-training metric, in member order.
struct ModelBiasRuntime {
    std::array<float, model_bias::model_bias_metric_count> values{};
};

Result<DataBiasRuntime> data_bias_runtime_from(MetricMap metrics);
Result<ModelBiasRuntime> model_bias_runtime_from(MetricMap metrics);

FailureReport runtime_check(const DataBiasRuntime& latest, const DataBiasRuntime& baseline,
                            const std::vector<data_bias::DataBiasMetrics>& metrics, float threshold);
FailureReport runtime_check(const ModelBiasRuntime& latest, const ModelBiasRuntime& baseline,
                            const std::vector<model_bias::ModelBiasMetrics>& metrics, float threshold);

}  // namespace zentrova::runtime
