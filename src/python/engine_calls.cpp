#include "python/engine_calls.hpp"

#include <array>
#include <string_view>
#include <utility>

#include "engine/parts.hpp"
#include "python/ingest.hpp"

namespace zentrova::python {
namespace {

constexpr std::array<std::string_view, 2> data_bias_names = {"feature", "ground_truth"};
constexpr std::array<std::string_view, 3> model_bias_names = {"feature", "prediction", "ground_truth"};

// This thread's state while it runs without the interpreter lock.
thread_local PyThreadState* released = nullptr;

// Releases the interpreter lock for the life of the guard.
class WithoutInterpreterLock {
public:
    WithoutInterpreterLock() { released = PyEval_SaveThread(); }
    ~WithoutInterpreterLock() { PyEval_RestoreThread(std::exchange(released, nullptr)); }
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;
};

// Runs `change` with the interpreter lock released and `guard` held.
template <class Change>
auto apply(std::mutex* guard, Change&& change) {
    WithoutInterpreterLock unlocked;
    if (guard == nullptr) return change();
    std::lock_guard<std::mutex> lock(*guard);
    return change();
}

// What one attempt at a bias batch came to: done (or an error), or a column
// whose code points, checked while labelling, need the careful read.
struct BiasAttempt {
    std::optional<Error> error;
    bool recheck = false;
};

// Adds a bias batch to `core`, in parts on up to `threads` threads when every
// column is in memory and nothing is counted. A part holds consecutive rows
// of the shortest column; the last also takes the rest of the longer ones,
// whose rows count for their distinct keys.
template <class Core, std::size_t Columns>
void update_bias(Core& core, const std::array<const labelling::LabelInput*, Columns>& batch,
                 std::array<engine::ColumnCensus, Columns>* census, std::size_t threads) {
    std::size_t rows = batch[0]->view.size;
    bool in_memory = true;
    for (const labelling::LabelInput* input : batch) {
        rows = std::min(rows, input->view.size);
        in_memory = in_memory && input->view.kind != columns::ElementKind::Other;
    }
    const std::size_t parts = engine::part_count(rows, threads);
    if (census != nullptr || !in_memory || parts < 2) {
        core.update(batch, census);
        return;
    }
    engine::update_in_parts(core, rows, parts,
                            [&](Core& part, std::size_t start, std::size_t count, bool last) {
                                std::array<labelling::LabelInput, Columns> inputs;
                                std::array<const labelling::LabelInput*, Columns> pointers;
                                for (std::size_t c = 0; c < Columns; ++c) {
                                    inputs[c] = batch[c]->part(start, last ? batch[c]->view.size - start : count);
                                    pointers[c] = &inputs[c];
                                }
                                part.update(pointers);
                            });
}

template <class Core, std::size_t Columns>
BiasAttempt add_bias_batch(Core& core, std::mutex* guard, const std::array<const labelling::LabelInput*, Columns>& batch,
                           const std::array<std::string_view, Columns>& names,
                           std::array<engine::ColumnCensus, Columns>* census, std::size_t threads) {
    std::array<engine::ColumnKind, Columns> kinds;
    for (std::size_t c = 0; c < Columns; ++c) kinds[c] = engine::kind_of(*batch[c]);
    bool invalid = false;
    auto difference = apply(guard, [&] {
        auto found = core.batch_difference(kinds, names);
        if (!found) {
            // An interrupted batch adds nothing: the copy takes the batch.
            // So do the counts, which an attempt repeated must not add twice.
            Core updated = core;
            std::array<engine::ColumnCensus, Columns> counts{};
            if (census != nullptr) counts = *census;
            try {
                update_bias(updated, batch, census != nullptr ? &counts : nullptr, threads);
            } catch (const engine::InvalidCodePoints&) {
                invalid = true;
                return found;
            }
            core = std::move(updated);
            if (census != nullptr) *census = counts;
        }
        return found;
    });
    if (invalid) return {std::nullopt, true};
    if (difference) return {Error{ErrorCode::StatisticsDiffer, "cannot add this batch: " + *difference}, false};
    return {};
}

// Runs `attempt(defer)` first leaving the code points of fixed-width text to
// the labelling pass, which reads them anyway. Any failure of that attempt is
// repeated with the careful read, which checks text before anything else
// (iterating rows with bad code points gives NumPy's own error), so errors
// come out as they always did. Only when every array is in memory, where the
// second attempt runs no Python code the first one did not.
template <class Attempt>
std::optional<Error> with_deferred_check(bool all_in_memory_arrays, Attempt&& attempt) {
    if (!all_in_memory_arrays) return attempt(false).error;
    BiasAttempt first = attempt(true);
    if (!first.error && !first.recheck) return std::nullopt;
    return attempt(false).error;
}

// The two columns of a performance batch, y_true first when asked; with
// `same_family`, the two column types must agree.
template <class Core>
std::optional<Error> add_performance_batch(Core& core, std::mutex* guard, PyObject* y_pred, PyObject* y_true,
                                           bool truth_first, bool same_family, engine::PerfCensus* census,
                                           std::size_t threads) {
    const numpy::ArrayInfo pred_info = numpy::inspect(y_pred), true_info = numpy::inspect(y_true);
    if (same_family && columns::family_of(pred_info.kind) != columns::family_of(true_info.kind))
        return Error{ErrorCode::TypesDiffer};
    const bool copy = !all_in_memory({&pred_info, &true_info});
    std::optional<FloatInput> predictions, truth;
    for (const bool is_truth : {truth_first, !truth_first}) {
        auto column = is_truth ? float_input(y_true, true_info, copy) : float_input(y_pred, pred_info, copy);
        if (!column) return std::move(column).error();
        (is_truth ? truth : predictions).emplace(std::move(column).value());
    }
    if (predictions->view.size != truth->view.size) return Error{ErrorCode::LengthsDiffer};
    apply(guard, [&] {
        // An interrupted batch adds nothing: the copy takes the batch. Split
        // into parts only when nothing is counted.
        Core updated = core;
        const std::size_t rows = predictions->view.size;
        const std::size_t parts = census == nullptr ? engine::part_count(rows, threads) : 1;
        engine::update_in_parts(updated, rows, parts, [&](Core& part, std::size_t start, std::size_t count, bool) {
            part.update(columns::rows_of(predictions->view, start, count), columns::rows_of(truth->view, start, count),
                        census);
        });
        core = std::move(updated);
    });
    return std::nullopt;
}

}  // namespace

std::optional<Error> update_data_bias(engine::DataBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                      PyObject* ground_truth_array, PyObject* feature_label,
                                      PyObject* ground_truth_label,
                                      std::array<engine::ColumnCensus, 2>* census, std::size_t threads) {
    const numpy::ArrayInfo facet_info = numpy::inspect(feature_array), truth_info = numpy::inspect(ground_truth_array);
    const bool copy = !all_in_memory({&facet_info, &truth_info});
    return with_deferred_check(!copy, [&](bool defer) -> BiasAttempt {
        // The ground truth is labelled first, so its error wins over the facet's.
        auto truth = label_input(ground_truth_array, truth_info, ground_truth_label, copy, defer);
        if (!truth) return {std::move(truth).error()};
        auto facet = label_input(feature_array, facet_info, feature_label, copy, defer);
        if (!facet) return {std::move(facet).error()};
        return add_bias_batch<engine::DataBiasCore, 2>(core, guard, {&*facet, &*truth}, data_bias_names, census,
                                                       threads);
    });
}

std::optional<Error> update_model_bias(engine::ModelBiasCore& core, std::mutex* guard, PyObject* feature_array,
                                       PyObject* ground_truth_array, PyObject* prediction_array,
                                       PyObject* feature_label, PyObject* ground_truth_label,
                                       PyObject* prediction_label,
                                       std::array<engine::ColumnCensus, 3>* census, std::size_t threads) {
    const numpy::ArrayInfo facet_info = numpy::inspect(feature_array), truth_info = numpy::inspect(ground_truth_array),
                           prediction_info = numpy::inspect(prediction_array);
    const bool copy = !all_in_memory({&facet_info, &truth_info, &prediction_info});
    return with_deferred_check(!copy, [&](bool defer) -> BiasAttempt {
        // Predictions, ground truth, facet: the first failure in this order is reported.
        auto predictions = label_input(prediction_array, prediction_info, prediction_label, copy, defer);
        if (!predictions) return {std::move(predictions).error()};
        auto truth = label_input(ground_truth_array, truth_info, ground_truth_label, copy, defer);
        if (!truth) return {std::move(truth).error()};
        auto facet = label_input(feature_array, facet_info, feature_label, copy, defer);
        if (!facet) return {std::move(facet).error()};
        return add_bias_batch<engine::ModelBiasCore, 3>(core, guard, {&*facet, &*predictions, &*truth},
                                                        model_bias_names, census, threads);
    });
}

std::optional<Error> update_classification(engine::ClassificationCore& core, std::mutex* guard, PyObject* y_pred,
                                           PyObject* y_true, engine::PerfCensus* census, std::size_t threads) {
    return add_performance_batch(core, guard, y_pred, y_true, false, true, census, threads);
}

std::optional<Error> update_logistic(engine::LogisticCore& core, std::mutex* guard, PyObject* y_pred,
                                     PyObject* y_true, engine::PerfCensus* census, std::size_t threads) {
    return add_performance_batch(core, guard, y_pred, y_true, true, false, census, threads);
}

std::optional<Error> update_regression(engine::RegressionCore& core, std::mutex* guard, PyObject* y_pred,
                                       PyObject* y_true, engine::PerfCensus* census, std::size_t threads) {
    return add_performance_batch(core, guard, y_pred, y_true, true, false, census, threads);
}

std::optional<engine::LabelValue> label_value(PyObject* label) {
    engine::LabelValue value;
    if (PyFloat_Check(label)) {
        value.tag = engine::LabelValue::Tag::Float;
        value.real = PyFloat_AsDouble(label);
    } else if (PyLong_Check(label)) {
        value.tag = engine::LabelValue::Tag::Int;
        py::Ref digits = py::Ref::steal(PyNumber_ToBase(label, 10));
        const char* text = digits ? PyUnicode_AsUTF8(digits.get()) : nullptr;
        if (text == nullptr) return std::nullopt;
        value.text = text;
    } else if (PyUnicode_Check(label)) {
        value.tag = engine::LabelValue::Tag::Text;
        // Lone surrogates are kept, so the text comes back as it was given.
        py::Ref bytes = py::Ref::steal(PyUnicode_AsEncodedString(label, "utf-8", "surrogatepass"));
        if (!bytes) return std::nullopt;
        value.text.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    }
    return value;
}

PyObject* label_object(const engine::LabelValue& value) {
    switch (value.tag) {
        case engine::LabelValue::Tag::Float: return PyFloat_FromDouble(value.real);
        case engine::LabelValue::Tag::Int: return PyLong_FromString(value.text.c_str(), nullptr, 10);
        case engine::LabelValue::Tag::Text:
            return PyUnicode_DecodeUTF8(value.text.data(), static_cast<Py_ssize_t>(value.text.size()),
                                        "surrogatepass");
        case engine::LabelValue::Tag::Other: break;
    }
    Py_RETURN_NONE;
}

bool signal_pending() {
    if (released == nullptr) return PyErr_CheckSignals() != 0;
    PyEval_RestoreThread(released);
    const bool pending = PyErr_CheckSignals() != 0;  // the exception stays set for the caller
    released = PyEval_SaveThread();
    return pending;
}

}  // namespace zentrova::python
