// The extension module `_zentrova`: initialisation and the eleven exported
// functions. Each function binds its arguments by its declaration, ingests
// its arrays into plain columns and hands them to the native core.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "columns/interrupt.hpp"
#include "drift/check.hpp"
#include "python/binding.hpp"
#include "python/error_map.hpp"
#include "python/exported.hpp"
#include "python/interpreter.hpp"
#include "python/measuring.hpp"
#include "python/values.hpp"

namespace zentrova::python {
namespace {

// ---- results -------------------------------------------------------------

PyObject* report_text(const Result<std::string>& result) {
    if (!result) return raise(result.error());
    const std::string& text = *result;
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// ---- declarations --------------------------------------------------------

constexpr const char* default_threshold = "0.10";

constexpr Parameters runtime_check = {
    {{"baseline", Kind::Metrics}, {"latest", Kind::Metrics}, {"threshold", Kind::Float32, default_threshold}}};
constexpr Parameters partial_check = {{{"baseline", Kind::Metrics},
                                       {"latest", Kind::Metrics},
                                       {"metrics", Kind::TextList},
                                       {"threshold", Kind::Float32, default_threshold}}};

constexpr Declaration model_bias_analyzer{"model_bias_analyzer", model_bias_parameters};
constexpr Declaration data_bias_analyzer{"data_bias_analyzer", data_bias_parameters};
constexpr Declaration data_bias_runtime_check{"data_bias_runtime_check", runtime_check};
constexpr Declaration data_bias_partial_check{"data_bias_partial_check", partial_check};
constexpr Declaration model_bias_runtime_check{"model_bias_runtime_check", runtime_check};
constexpr Declaration model_bias_partial_check{"model_bias_partial_check", partial_check};
constexpr Declaration model_performance_regression{"model_performance_regression", performance_parameters};
constexpr Declaration model_performance_classification{"model_performance_classification", performance_parameters};
constexpr Declaration model_performance_logistic_regression{"model_performance_logisitic_regression",
                                                            logistic_parameters};
constexpr Declaration model_performance_runtime_entry_full{
    "model_performance_runtime_entry_full",
    {{{"model_type", Kind::Text}, runtime_check[0], runtime_check[1], runtime_check[2]}}};
constexpr Declaration model_performance_runtime_entry_partial{"model_performance_runtime_entry_partial",
                                                              {{{"model_type", Kind::Text},
                                                                partial_check[0],
                                                                partial_check[1],
                                                                {"evaluation_metrics", Kind::TextList},
                                                                partial_check[3]}}};

// ---- bodies --------------------------------------------------------------

// The analyzers and performance functions: one batch of all rows through the
// statistics engine, then its metrics.

PyObject* model_bias_analyzer_impl(Arguments& a) { return measure_model_bias(a, false); }
PyObject* data_bias_analyzer_impl(Arguments& a) { return measure_data_bias(a, false); }

std::optional<std::vector<std::string>> all_metrics() { return std::nullopt; }

template <const drift::CheckFamily& (*family)() noexcept, bool partial>
PyObject* bias_check_impl(Arguments& a) {
    return report_text(drift::check(family(), a.metrics("baseline"), a.metrics("latest"),
                                    partial ? std::optional(a.texts("metrics")) : all_metrics(),
                                    a.number("threshold")));
}

PyObject* model_performance_regression_impl(Arguments& a) { return measure_regression(a, false); }
PyObject* model_performance_classification_impl(Arguments& a) { return measure_classification(a, false); }
PyObject* model_performance_logistic_regression_impl(Arguments& a) { return measure_logistic(a, false); }

PyObject* performance_check(Arguments& a, const std::optional<std::vector<std::string>>& names) {
    const auto type = drift::model_type_from_text(a.text("model_type"));
    if (!type) return raise(Error{ErrorCode::InvalidModelType});
    return report_text(drift::check(drift::performance_family(*type), a.metrics("baseline"), a.metrics("latest"),
                                    names, a.number("threshold")));
}

PyObject* model_performance_runtime_entry_full_impl(Arguments& a) { return performance_check(a, all_metrics()); }

PyObject* model_performance_runtime_entry_partial_impl(Arguments& a) {
    return performance_check(a, a.texts("evaluation_metrics"));
}

// ---- exported functions --------------------------------------------------

struct Export {
    const Declaration* declaration;
    PyCFunction function;
};

template <const Declaration& declaration, PyObject* (*body)(Arguments&)>
constexpr Export export_of() {
    return {&declaration, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&exported<declaration, body>))};
}

// Registration order is the order of __all__.
const std::array exports = {
    export_of<model_bias_analyzer, model_bias_analyzer_impl>(),
    export_of<data_bias_analyzer, data_bias_analyzer_impl>(),
    export_of<data_bias_runtime_check, bias_check_impl<drift::data_bias_family, false>>(),
    export_of<data_bias_partial_check, bias_check_impl<drift::data_bias_family, true>>(),
    export_of<model_bias_runtime_check, bias_check_impl<drift::model_bias_family, false>>(),
    export_of<model_bias_partial_check, bias_check_impl<drift::model_bias_family, true>>(),
    export_of<model_performance_regression, model_performance_regression_impl>(),
    export_of<model_performance_classification, model_performance_classification_impl>(),
    export_of<model_performance_logistic_regression, model_performance_logistic_regression_impl>(),
    export_of<model_performance_runtime_entry_full, model_performance_runtime_entry_full_impl>(),
    export_of<model_performance_runtime_entry_partial, model_performance_runtime_entry_partial_impl>(),
};

// Kept for the life of the process: the functions point at them.
std::array<std::string, exports.size()> signatures;
std::array<PyMethodDef, exports.size()> method_definitions;

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

PyObject* module_object = nullptr;

// Adds each function to the module, and their names to __all__.
bool add_functions(PyObject* module) {
    py::Ref module_name = py::Ref::steal(PyUnicode_FromString("_zentrova"));
    py::Ref all = py::Ref::steal(PyList_New(0));
    if (!module_name || !all) return false;
    for (std::size_t i = 0; i < exports.size(); ++i) {
        signatures[i] = text_signature(*exports[i].declaration);
        method_definitions[i] = {exports[i].declaration->name, exports[i].function, METH_FASTCALL | METH_KEYWORDS,
                                 signatures[i].c_str()};
        py::Ref function = py::Ref::steal(PyCFunction_NewEx(&method_definitions[i], module, module_name.get()));
        if (!function) return false;
        py::Ref name = py::Ref::steal(PyUnicode_FromString(exports[i].declaration->name));
        if (!name || PyList_Append(all.get(), name.get()) < 0) return false;
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return false;
    }
    return PyObject_SetAttrString(module, "__all__", all.get()) == 0;
}

PyObject* initialise() { return initialise_module(module_object, module_definition, &add_functions); }

}  // namespace
}  // namespace zentrova::python

PyMODINIT_FUNC PyInit__zentrova(void) {
    return zentrova::python::guarded([] { return zentrova::python::initialise(); });
}
