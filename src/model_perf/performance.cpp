#include "model_perf/performance.hpp"


#include "data_handler/numpy_api.hpp"
#include "model_perf/metrics.hpp"
#include "model_perf/perf_entry.hpp"

namespace zentrova::model_perf {
namespace {

struct Columns {
    PerfColumn y_pred;
    PerfColumn y_true;
};

// No Python code runs while two arrays read straight from memory are converted,
// so both can be converted as they are read.
bool convert_as_read(PyObject* y_pred, PyObject* y_true) { return numpy::all_read_from_memory({y_pred, y_true}); }

// Reads y_true first, then y_pred, each with its own column type.
Result<Columns> read_truth_first(PyObject* y_pred, PyObject* y_true) {
    const bool defer = convert_as_read(y_pred, y_true);
    auto truth = PerfEntry::convert_f32(y_true, numpy::determine_type(y_true), defer);
    if (!truth) return std::move(truth).error();
    auto predictions = PerfEntry::convert_f32(y_pred, numpy::determine_type(y_pred), defer);
    if (!predictions) return std::move(predictions).error();
    if (predictions->size() != truth->size()) return Error{"Arrays have different lengths"};
    return Columns{std::move(predictions).value(), std::move(truth).value()};
}

}  // namespace

Result<MetricMap> model_perf_classification(PyObject* y_pred, PyObject* y_true) {
    const auto pred_type = numpy::determine_type(y_pred);
    const auto true_type = numpy::determine_type(y_true);
    if (pred_type != true_type) return Error{"Type between y_true and y_pred do not match"};
    const bool defer = convert_as_read(y_pred, y_true);
    auto predictions = PerfEntry::convert_f32(y_pred, pred_type, defer);
    if (!predictions) return std::move(predictions).error();
    auto truth = PerfEntry::convert_f32(y_true, pred_type, defer);
    if (!truth) return std::move(truth).error();
    if (predictions->size() != truth->size()) return Error{"Arrays have different lengths"};
    if (truth->size() == 0) return Error{"Arrays have no data"};
    return classification_metrics(*predictions, *truth);
}

Result<MetricMap> model_perf_logistic_regression(PyObject* y_pred, PyObject* y_true, float decision_threshold) {
    auto columns = read_truth_first(y_pred, y_true);
    if (!columns) return std::move(columns).error();
    if (columns->y_true.size() == 0) return Error{"Arrays have no data"};
    return logistic_regression_metrics(columns->y_pred, columns->y_true, decision_threshold);
}

Result<MetricMap> model_perf_regression(PyObject* y_pred, PyObject* y_true) {
    auto columns = read_truth_first(y_pred, y_true);
    if (!columns) return std::move(columns).error();
    if (columns->y_true.size() == 0) return Error{"Arrays are emtpy"};
    return regression_metrics(columns->y_pred, columns->y_true);
}

}  // namespace zentrova::model_perf
