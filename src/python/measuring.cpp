#include "python/measuring.hpp"

#include <initializer_list>

#include "engine/census.hpp"
#include "python/engine_calls.hpp"
#include "python/error_map.hpp"
#include "python/values.hpp"

namespace zentrova::python {
namespace {

using engine::ColumnCensus;
using engine::ValueRule;

// (metrics or None, ((missing, invalid), ...)).
template <class Metrics>
PyObject* counted_result(Metrics&& metrics, std::initializer_list<const ColumnCensus*> columns) {
    py::Ref counts = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(columns.size())));
    if (!counts) return nullptr;
    bool clean = true;
    Py_ssize_t index = 0;
    for (const ColumnCensus* column : columns) {
        clean = clean && column->clean();
        PyObject* pair = Py_BuildValue("(KK)", static_cast<unsigned long long>(column->missing),
                                       static_cast<unsigned long long>(column->invalid));
        if (pair == nullptr) return nullptr;
        PyTuple_SET_ITEM(counts.get(), index++, pair);
    }
    py::Ref value = clean ? py::Ref::steal(metric_dict(metrics())) : py::Ref::borrow(Py_None);
    if (!value) return nullptr;
    return PyTuple_Pack(2, value.get(), counts.get());
}

template <class Metrics>
PyObject* result(bool counted, Metrics&& metrics, std::initializer_list<const ColumnCensus*> columns) {
    return counted ? counted_result(metrics, columns) : metric_dict(metrics());
}

engine::PerfCensus performance_census(ValueRule y_pred, ValueRule y_true) {
    engine::PerfCensus census;
    census.y_pred.rule = y_pred;
    census.y_true.rule = y_true;
    return census;
}

}  // namespace

PyObject* measure_model_bias(Arguments& a, bool counted) {
    engine::ModelBiasCore core;
    std::array<ColumnCensus, 3> census{};  // the core's order: feature, prediction, ground truth
    if (auto error = update_model_bias(core, nullptr, a.object("feature_array"), a.object("ground_truth_array"),
                                       a.object("prediction_array"), a.object("feature_label_or_threshold"),
                                       a.object("ground_truth_label_or_threshold"),
                                       a.object("prediction_label_or_threshold"), counted ? &census : nullptr))
        return raise(*error);
    return result(counted, [&] { return engine::model_bias_metrics(core); }, {&census[0], &census[2], &census[1]});
}

PyObject* measure_data_bias(Arguments& a, bool counted) {
    engine::DataBiasCore core;
    std::array<ColumnCensus, 2> census{};
    if (auto error = update_data_bias(core, nullptr, a.object("feature_array"), a.object("ground_truth_array"),
                                      a.object("feature_label_or_threshold"),
                                      a.object("ground_truth_label_or_threshold"), counted ? &census : nullptr))
        return raise(*error);
    return result(counted, [&] { return engine::data_bias_metrics(core); }, {&census[0], &census[1]});
}

PyObject* measure_regression(Arguments& a, bool counted) {
    engine::RegressionCore core;
    engine::PerfCensus census = performance_census(ValueRule::Any, ValueRule::Any);
    if (auto error = update_regression(core, nullptr, a.object("y_pred"), a.object("y_true"),
                                       counted ? &census : nullptr))
        return raise(*error);
    return result(counted, [&] { return core.metrics(); }, {&census.y_pred, &census.y_true});
}

PyObject* measure_classification(Arguments& a, bool counted) {
    engine::ClassificationCore core;
    engine::PerfCensus census = performance_census(ValueRule::Label, ValueRule::Label);
    if (auto error = update_classification(core, nullptr, a.object("y_pred"), a.object("y_true"),
                                           counted ? &census : nullptr))
        return raise(*error);
    return result(counted, [&] { return core.metrics(); }, {&census.y_pred, &census.y_true});
}

PyObject* measure_logistic(Arguments& a, bool counted) {
    engine::LogisticCore core(a.number("decision_threshold"));
    engine::PerfCensus census = performance_census(ValueRule::Probability, ValueRule::Label);
    if (auto error = update_logistic(core, nullptr, a.object("y_pred"), a.object("y_true"),
                                     counted ? &census : nullptr))
        return raise(*error);
    return result(counted, [&] { return core.metrics(); }, {&census.y_pred, &census.y_true});
}

}  // namespace zentrova::python
