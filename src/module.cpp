// The extension module `_zentrova`: initialisation and the eleven exported
// functions. Each function binds and converts its arguments, runs its body on
// plain C++ values, and turns the result or error into Python objects.
#include <atomic>
#include <string>

#include "analyzers.hpp"
#include "binding.hpp"
#include "checks.hpp"
#include "model_perf/performance.hpp"
#include "model_perf/runtime_checks.hpp"
#include "models/model_type.hpp"
#include "python_errors.hpp"
#include "report.hpp"

namespace zentrova {
namespace {

using binding::Arguments;
using binding::Kind;
using binding::Signature;

constexpr float default_threshold = 0.1f;
constexpr float default_decision_threshold = 0.5f;

// ---- results -------------------------------------------------------------

PyObject* metric_dict(const MetricMap& metrics) {
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [name, value] : metrics) {
        py::Ref key = py::Ref::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        py::Ref number = py::Ref::steal(PyFloat_FromDouble(static_cast<double>(value)));
        if (!key || !number || PyDict_SetItem(dict.get(), key.get(), number.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* finish_metrics(ErrorClass error_class, Result<MetricMap> result) {
    if (!result) return raise_error(error_class, result.error());
    return metric_dict(*result);
}

PyObject* finish_check(Result<FailureReport> result) {
    if (!result) return raise_error(ErrorClass::Check, result.error());
    Result<std::string> text = process_failure_report(std::move(result).value());
    if (!text) return raise_error(ErrorClass::Report, text.error());
    return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}

// ---- argument accessors --------------------------------------------------

PyObject* object(Arguments& args, std::size_t i) { return std::get<PyObject*>(args[i]); }
MetricMap metrics(Arguments& args, std::size_t i) { return std::move(std::get<MetricMap>(args[i])); }
std::vector<std::string> texts(Arguments& args, std::size_t i) {
    return std::move(std::get<std::vector<std::string>>(args[i]));
}
float number(Arguments& args, std::size_t i) { return std::get<float>(args[i]); }
std::string& text(Arguments& args, std::size_t i) { return std::get<std::string>(args[i]); }

// ---- signatures ----------------------------------------------------------

constexpr Signature model_bias_analyzer_signature{
    "model_bias_analyzer",
    {{{"feature_array", Kind::Array},
      {"ground_truth_array", Kind::Array},
      {"prediction_array", Kind::Array},
      {"feature_label_or_threshold", Kind::Any},
      {"ground_truth_label_or_threshold", Kind::Any},
      {"prediction_label_or_threshold", Kind::Any}}},
    6,
    6};
constexpr Signature data_bias_analyzer_signature{"data_bias_analyzer",
                                                 {{{"feature_array", Kind::Array},
                                                   {"ground_truth_array", Kind::Array},
                                                   {"feature_label_or_threshold", Kind::Any},
                                                   {"ground_truth_label_or_threshold", Kind::Any}}},
                                                 4,
                                                 4};
constexpr Signature data_bias_runtime_check_signature{
    "data_bias_runtime_check",
    {{{"baseline", Kind::Metrics}, {"latest", Kind::Metrics}, {"threshold", Kind::Float32, default_threshold}}},
    3,
    2};
constexpr Signature data_bias_partial_check_signature{"data_bias_partial_check",
                                                      {{{"baseline", Kind::Metrics},
                                                        {"latest", Kind::Metrics},
                                                        {"metrics", Kind::TextList},
                                                        {"threshold", Kind::Float32, default_threshold}}},
                                                      4,
                                                      3};
constexpr Signature model_bias_runtime_check_signature{
    "model_bias_runtime_check",
    {{{"baseline", Kind::Metrics}, {"latest", Kind::Metrics}, {"threshold", Kind::Float32, default_threshold}}},
    3,
    2};
constexpr Signature model_bias_partial_check_signature{"model_bias_partial_check",
                                                       {{{"baseline", Kind::Metrics},
                                                         {"latest", Kind::Metrics},
                                                         {"metrics", Kind::TextList},
                                                         {"threshold", Kind::Float32, default_threshold}}},
                                                       4,
                                                       3};
constexpr Signature model_performance_regression_signature{
    "model_performance_regression", {{{"y_pred", Kind::Array}, {"y_true", Kind::Array}}}, 2, 2};
constexpr Signature model_performance_classification_signature{
    "model_performance_classification", {{{"y_pred", Kind::Array}, {"y_true", Kind::Array}}}, 2, 2};
constexpr Signature model_performance_logistic_signature{
    "model_performance_logisitic_regression",
    {{{"y_pred", Kind::Array},
      {"y_true", Kind::Array},
      {"decision_threshold", Kind::Float32, default_decision_threshold}}},
    3,
    2};
constexpr Signature runtime_entry_full_signature{"model_performance_runtime_entry_full",
                                                 {{{"model_type", Kind::Text},
                                                   {"baseline", Kind::Metrics},
                                                   {"latest", Kind::Metrics},
                                                   {"threshold", Kind::Float32, default_threshold}}},
                                                 4,
                                                 3};
constexpr Signature runtime_entry_partial_signature{"model_performance_runtime_entry_partial",
                                                    {{{"model_type", Kind::Text},
                                                      {"baseline", Kind::Metrics},
                                                      {"latest", Kind::Metrics},
                                                      {"evaluation_metrics", Kind::TextList},
                                                      {"threshold", Kind::Float32, default_threshold}}},
                                                    5,
                                                    4};

// ---- exported functions --------------------------------------------------

// Binds the arguments of `signature` and hands them to `body`, all behind the
// boundary that catches every C++ exception.
template <const Signature& signature, class Body>
PyObject* exported(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body body) {
    return guarded([&]() -> PyObject* {
        std::optional<Arguments> bound = binding::bind(signature, args, nargs, kwnames);
        if (!bound) return nullptr;
        return body(*bound);
    });
}

#define ZENTROVA_EXPORT(function) \
    PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

ZENTROVA_EXPORT(py_model_bias_analyzer) {
    return exported<model_bias_analyzer_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_metrics(ErrorClass::Analyzer, model_bias_analyzer(object(a, 0), object(a, 1), object(a, 2),
                                                                        object(a, 3), object(a, 4), object(a, 5)));
    });
}

ZENTROVA_EXPORT(py_data_bias_analyzer) {
    return exported<data_bias_analyzer_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_metrics(ErrorClass::Analyzer,
                              data_bias_analyzer(object(a, 0), object(a, 1), object(a, 2), object(a, 3)));
    });
}

ZENTROVA_EXPORT(py_data_bias_runtime_check) {
    return exported<data_bias_runtime_check_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_check(data_bias_runtime_check(metrics(a, 0), metrics(a, 1), number(a, 2)));
    });
}

ZENTROVA_EXPORT(py_data_bias_partial_check) {
    return exported<data_bias_partial_check_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_check(data_bias_partial_check(metrics(a, 0), metrics(a, 1), texts(a, 2), number(a, 3)));
    });
}

ZENTROVA_EXPORT(py_model_bias_runtime_check) {
    return exported<model_bias_runtime_check_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_check(model_bias_runtime_check(metrics(a, 0), metrics(a, 1), number(a, 2)));
    });
}

ZENTROVA_EXPORT(py_model_bias_partial_check) {
    return exported<model_bias_partial_check_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_check(model_bias_partial_check(metrics(a, 0), metrics(a, 1), texts(a, 2), number(a, 3)));
    });
}

ZENTROVA_EXPORT(py_model_performance_regression) {
    return exported<model_performance_regression_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_metrics(ErrorClass::Performance, model_perf::model_perf_regression(object(a, 0), object(a, 1)));
    });
}

ZENTROVA_EXPORT(py_model_performance_classification) {
    return exported<model_performance_classification_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_metrics(ErrorClass::Performance,
                              model_perf::model_perf_classification(object(a, 0), object(a, 1)));
    });
}

ZENTROVA_EXPORT(py_model_performance_logistic_regression) {
    return exported<model_performance_logistic_signature>(args, nargs, kwnames, [](Arguments& a) {
        return finish_metrics(ErrorClass::Performance, model_perf::model_perf_logistic_regression(
                                                           object(a, 0), object(a, 1), number(a, 2)));
    });
}

ZENTROVA_EXPORT(py_model_performance_runtime_entry_full) {
    return exported<runtime_entry_full_signature>(args, nargs, kwnames, [](Arguments& a) -> PyObject* {
        const auto type = models::model_type_from_text(text(a, 0));
        if (!type) return raise_error(ErrorClass::Check, Error{"Invalid model type"});
        return finish_check(model_perf::model_performance_full(*type, metrics(a, 1), metrics(a, 2), number(a, 3)));
    });
}

ZENTROVA_EXPORT(py_model_performance_runtime_entry_partial) {
    return exported<runtime_entry_partial_signature>(args, nargs, kwnames, [](Arguments& a) -> PyObject* {
        const auto type = models::model_type_from_text(text(a, 0));
        if (!type) return raise_error(ErrorClass::Check, Error{"Invalid model type"});
        return finish_check(model_perf::model_performance_partial(*type, metrics(a, 1), metrics(a, 2), texts(a, 3),
                                                                  number(a, 4)));
    });
}

#undef ZENTROVA_EXPORT

#define ZENTROVA_METHOD(name, function, signature_text)                                             \
    PyMethodDef {                                                                                   \
        name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function)),                \
            METH_FASTCALL | METH_KEYWORDS, signature_text "\n--\n\n"                                \
    }

// Registration order is the order of __all__.
PyMethodDef exported_functions[] = {
    ZENTROVA_METHOD("model_bias_analyzer", py_model_bias_analyzer,
                    "model_bias_analyzer(feature_array, ground_truth_array, prediction_array, "
                    "feature_label_or_threshold, ground_truth_label_or_threshold, prediction_label_or_threshold)"),
    ZENTROVA_METHOD("data_bias_analyzer", py_data_bias_analyzer,
                    "data_bias_analyzer(feature_array, ground_truth_array, feature_label_or_threshold, "
                    "ground_truth_label_or_threshold)"),
    ZENTROVA_METHOD("data_bias_runtime_check", py_data_bias_runtime_check,
                    "data_bias_runtime_check(baseline, latest, threshold=0.10)"),
    ZENTROVA_METHOD("data_bias_partial_check", py_data_bias_partial_check,
                    "data_bias_partial_check(baseline, latest, metrics, threshold=0.10)"),
    ZENTROVA_METHOD("model_bias_runtime_check", py_model_bias_runtime_check,
                    "model_bias_runtime_check(baseline, latest, threshold=0.10)"),
    ZENTROVA_METHOD("model_bias_partial_check", py_model_bias_partial_check,
                    "model_bias_partial_check(baseline, latest, metrics, threshold=0.10)"),
    ZENTROVA_METHOD("model_performance_regression", py_model_performance_regression,
                    "model_performance_regression(y_pred, y_true)"),
    ZENTROVA_METHOD("model_performance_classification", py_model_performance_classification,
                    "model_performance_classification(y_pred, y_true)"),
    ZENTROVA_METHOD("model_performance_logisitic_regression", py_model_performance_logistic_regression,
                    "model_performance_logisitic_regression(y_pred, y_true, decision_threshold=0.5)"),
    ZENTROVA_METHOD("model_performance_runtime_entry_full", py_model_performance_runtime_entry_full,
                    "model_performance_runtime_entry_full(model_type, baseline, latest, threshold=0.10)"),
    ZENTROVA_METHOD("model_performance_runtime_entry_partial", py_model_performance_runtime_entry_partial,
                    "model_performance_runtime_entry_partial(model_type, baseline, latest, evaluation_metrics, "
                    "threshold=0.10)"),
};

#undef ZENTROVA_METHOD

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_zentrova",
    "Bias, performance and drift metrics of machine-learning data sets and models, in single precision.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;

// Adds each function to the module and to its __all__ list.
bool add_functions(PyObject* module) {
    py::Ref module_name = py::Ref::steal(PyUnicode_FromString("_zentrova"));
    if (!module_name) return false;
    for (PyMethodDef& definition : exported_functions) {
        py::Ref function = py::Ref::steal(PyCFunction_NewEx(&definition, module, module_name.get()));
        if (!function) return false;
        py::Ref name = py::Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) return false;
        py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
        if (!all) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
            PyErr_Clear();
            all = py::Ref::steal(PyList_New(0));
            if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
        }
        if (PyList_Check(all.get())) {
            if (PyList_Append(all.get(), name.get()) < 0) return false;
        } else {
            PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
            return false;
        }
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return false;
    }
    return true;
}

PyObject* initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1 && PyErr_Occurred()) return nullptr;
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, interpreter) && expected != interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "_zentrova does not support sub-interpreters: it can only be imported by the interpreter "
                        "that imported it first");
        return nullptr;
    }
    if (module_object != nullptr) {
        Py_INCREF(module_object);
        return module_object;
    }
    py::Ref module = py::Ref::steal(PyModule_Create(&module_definition));
    if (!module || !add_functions(module.get())) return nullptr;
    Py_INCREF(module.get());
    module_object = module.get();
    return module.release();
}

}  // namespace
}  // namespace zentrova

PyMODINIT_FUNC PyInit__zentrova(void) {
    return zentrova::guarded([] { return zentrova::initialise(); });
}
