#include "analyzers.hpp"

#include "python/engine_calls.hpp"

namespace zentrova {

// One batch of all rows through the statistics engine, then its metrics.
Result<MetricMap> data_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                     PyObject* feature_label_or_threshold,
                                     PyObject* ground_truth_label_or_threshold) {
    engine::DataBiasCore core;
    if (auto failure = engine_calls::update_data_bias(core, nullptr, feature_array, ground_truth_array,
                                                      feature_label_or_threshold, ground_truth_label_or_threshold))
        return std::move(failure->error);
    return engine::data_bias_metrics(core);
}

Result<MetricMap> model_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                      PyObject* prediction_array, PyObject* feature_label_or_threshold,
                                      PyObject* ground_truth_label_or_threshold,
                                      PyObject* prediction_label_or_threshold) {
    engine::ModelBiasCore core;
    if (auto failure = engine_calls::update_model_bias(core, nullptr, feature_array, ground_truth_array,
                                                       prediction_array, feature_label_or_threshold,
                                                       ground_truth_label_or_threshold, prediction_label_or_threshold))
        return std::move(failure->error);
    return engine::model_bias_metrics(core);
}

}  // namespace zentrova
