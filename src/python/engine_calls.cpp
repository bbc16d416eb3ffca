#include "python/engine_calls.hpp"

#include "data_handler/numpy_api.hpp"
#include "python/engine_ingest.hpp"

namespace zentrova::engine_calls {
namespace {

using ingest::BatchStorage;

constexpr std::array<std::string_view, 2> data_bias_names = {"feature", "ground_truth"};
constexpr std::array<std::string_view, 3> model_bias_names = {"feature", "prediction", "ground_truth"};

// Runs `change` with the interpreter lock released and `guard` held.
template <class Change>
auto apply(std::mutex* guard, Change&& change) {
    WithoutInterpreterLock unlocked;
    if (guard == nullptr) return change();
    std::lock_guard<std::mutex> lock(*guard);
    return change();
}

Failure analyzer_failure(Error error) { return {ErrorClass::Analyzer, std::move(error)}; }
Failure performance_failure(Error error) { return {ErrorClass::Performance, std::move(error)}; }

template <class Core, std::size_t Columns>
std::optional<Failure> add_bias_batch(Core& core, std::mutex* guard,
                                      const std::array<const engine::LabelledBatch*, Columns>& batch,
                                      const std::array<std::string_view, Columns>& names) {
    std::array<engine::ColumnKind, Columns> kinds;
    for (std::size_t c = 0; c < Columns; ++c) kinds[c] = engine::kind_of(batch[c]->input);
    auto difference = apply(guard, [&] {
        auto found = core.batch_difference(kinds, names);
        if (!found) core.update(batch);
        return found;
    });
    if (difference) return Failure{ErrorClass::Check, Error{std::move(*difference)}};
    return std::nullopt;
}

}  // namespace

std::optional<Failure> update_data_bias(engine::DataBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                        PyObject* ground_truth_array, PyObject* feature_label,
                                        PyObject* ground_truth_label) {
    BatchStorage storage;
    // The ground truth is labelled first, so its error wins over the facet's.
    auto truth = ingest::labelled_column(ground_truth_array, ground_truth_label, storage);
    if (!truth) return analyzer_failure(std::move(truth).error());
    auto facet = ingest::labelled_column(feature_array, feature_label, storage);
    if (!facet) return analyzer_failure(std::move(facet).error());
    return add_bias_batch<engine::DataBiasCore, 2>(core, guard, {&*facet, &*truth}, data_bias_names);
}

std::optional<Failure> update_model_bias(engine::ModelBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                         PyObject* ground_truth_array, PyObject* prediction_array,
                                         PyObject* feature_label, PyObject* ground_truth_label,
                                         PyObject* prediction_label) {
    BatchStorage storage;
    // Predictions, ground truth, facet: the first failure in this order is reported.
    auto predictions = ingest::labelled_column(prediction_array, prediction_label, storage);
    if (!predictions) return analyzer_failure(std::move(predictions).error());
    auto truth = ingest::labelled_column(ground_truth_array, ground_truth_label, storage);
    if (!truth) return analyzer_failure(std::move(truth).error());
    auto facet = ingest::labelled_column(feature_array, feature_label, storage);
    if (!facet) return analyzer_failure(std::move(facet).error());
    return add_bias_batch<engine::ModelBiasCore, 3>(core, guard, {&*facet, &*predictions, &*truth},
                                                    model_bias_names);
}

std::optional<Failure> update_classification(engine::ClassificationCore& core, std::mutex* guard,
                                             PyObject* y_pred, PyObject* y_true) {
    const auto pred_type = numpy::determine_type(y_pred);
    if (pred_type != numpy::determine_type(y_true))
        return performance_failure(Error{"Type between y_true and y_pred do not match"});
    BatchStorage storage;
    auto predictions = ingest::performance_column(y_pred, pred_type, storage);
    if (!predictions) return performance_failure(std::move(predictions).error());
    auto truth = ingest::performance_column(y_true, pred_type, storage);
    if (!truth) return performance_failure(std::move(truth).error());
    if (predictions->size != truth->size) return performance_failure(Error{"Arrays have different lengths"});
    apply(guard, [&] { core.update(*predictions, *truth); });
    return std::nullopt;
}

namespace {

// y_true first, then y_pred, each with its own column type.
template <class Core>
std::optional<Failure> update_truth_first(Core& core, std::mutex* guard, PyObject* y_pred, PyObject* y_true) {
    BatchStorage storage;
    auto truth = ingest::performance_column(y_true, numpy::determine_type(y_true), storage);
    if (!truth) return performance_failure(std::move(truth).error());
    auto predictions = ingest::performance_column(y_pred, numpy::determine_type(y_pred), storage);
    if (!predictions) return performance_failure(std::move(predictions).error());
    if (predictions->size != truth->size) return performance_failure(Error{"Arrays have different lengths"});
    apply(guard, [&] { core.update(*predictions, *truth); });
    return std::nullopt;
}

}  // namespace

std::optional<Failure> update_logistic(engine::LogisticCore& core, std::mutex* guard, PyObject* y_pred,
                                       PyObject* y_true) {
    return update_truth_first(core, guard, y_pred, y_true);
}

std::optional<Failure> update_regression(engine::RegressionCore& core, std::mutex* guard, PyObject* y_pred,
                                         PyObject* y_true) {
    return update_truth_first(core, guard, y_pred, y_true);
}

}  // namespace zentrova::engine_calls
