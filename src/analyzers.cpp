#include "analyzers.hpp"

#include "data_bias/pre_training.hpp"
#include "data_handler/labelling.hpp"
#include "data_handler/numpy_api.hpp"
#include "data_handler/segmentation.hpp"
#include "model_bias/post_training.hpp"

namespace zentrova {

using data_handler::apply_label;

Result<MetricMap> data_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                     PyObject* feature_label_or_threshold,
                                     PyObject* ground_truth_label_or_threshold) {
    // No Python code runs from here on when both arrays are read from memory,
    // so their labels can wait until the groups are counted.
    const bool defer = numpy::all_read_from_memory({feature_array, ground_truth_array});
    // The ground truth is labelled first, so its error wins over the facet's.
    auto ground_truth = apply_label(ground_truth_array, ground_truth_label_or_threshold, defer);
    if (!ground_truth) return std::move(ground_truth).error();
    auto facet = apply_label(feature_array, feature_label_or_threshold, defer);
    if (!facet) return std::move(facet).error();
    auto split = data_handler::perform_segmentation_data_bias(std::move(facet).value(),
                                                              std::move(ground_truth).value());
    if (!split) return std::move(split).error();
    return data_bias::pre_training_bias(std::move(split).value());
}

Result<MetricMap> model_bias_analyzer(PyObject* feature_array, PyObject* ground_truth_array,
                                      PyObject* prediction_array, PyObject* feature_label_or_threshold,
                                      PyObject* ground_truth_label_or_threshold,
                                      PyObject* prediction_label_or_threshold) {
    const bool defer = numpy::all_read_from_memory({feature_array, ground_truth_array, prediction_array});
    // Predictions, ground truth, facet: the first failure in this order is reported.
    auto predictions = apply_label(prediction_array, prediction_label_or_threshold, defer);
    if (!predictions) return std::move(predictions).error();
    auto ground_truth = apply_label(ground_truth_array, ground_truth_label_or_threshold, defer);
    if (!ground_truth) return std::move(ground_truth).error();
    auto facet = apply_label(feature_array, feature_label_or_threshold, defer);
    if (!facet) return std::move(facet).error();
    auto split = data_handler::perform_segmentation_model_bias(
        std::move(facet).value(), std::move(predictions).value(), std::move(ground_truth).value());
    if (!split) return std::move(split).error();
    return model_bias::post_training_bias(std::move(split).value());
}

}  // namespace zentrova
