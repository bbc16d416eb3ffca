// The extension module `zentrova._engine`: the five statistics classes. Each
// object holds one engine core; `update` adds a batch (with the interpreter
// lock released while the core works), `merge` returns a new object holding
// both operands, `metrics` gives the raw function's dict or error, and the
// byte encoding carries an object across processes (pickle included).
#include <memory>
#include <mutex>
#include <string>

#include "columns/interrupt.hpp"
#include "numeric/cpu_features.hpp"
#include "numeric/log10f.hpp"
#include "python/binding.hpp"
#include "python/engine_calls.hpp"
#include "python/error_map.hpp"
#include "python/exported.hpp"
#include "python/interpreter.hpp"
#include "python/measuring.hpp"
#include "python/values.hpp"

namespace zentrova::python {
namespace {

// ---- families ------------------------------------------------------------

// `update(..., *, threads=1)`: a batch of arrays in memory may be added on
// several threads, one per part of at least 65,536 rows (see engine/parts.hpp).
constexpr Parameter threads_parameter{"threads", Kind::Threads, "1", true};
// Each names its core, its labels (in constructor order) and how a batch,
// the metrics and the encoding reach the core.

struct DataBias {
    using Core = engine::DataBiasCore;
    static constexpr const char* name = "DataBiasStats";
    static constexpr std::size_t labels = 2;
    static constexpr Declaration init{"DataBiasStats",
                                      {{{"feature_label_or_threshold", Kind::Any},
                                        {"ground_truth_label_or_threshold", Kind::Any}}}};
    static constexpr Declaration update_declaration{
        "update", {{{"feature_array", Kind::Array}, {"ground_truth_array", Kind::Array}, threads_parameter}}};

    static Core make(const std::array<engine::LabelValue, labels>& values) { return Core({values[0], values[1]}); }
    static std::optional<Error> update(Core& core, std::mutex* guard, Arguments& a, PyObject* const* label) {
        return update_data_bias(core, guard, a.object("feature_array"), a.object("ground_truth_array"), label[0],
                                label[1], nullptr, a.count("threads"));
    }
    static Result<MetricMap> metrics(const Core& core) { return engine::data_bias_metrics(core); }
    static std::optional<std::string> difference(const Core& a, const Core& b) {
        return a.difference(b, {"feature", "ground_truth"});
    }
    // Core column c holds constructor label labels_of[c].
    static std::array<engine::LabelValue, labels> label_values(const Core& core) {
        return {core.column(0).label, core.column(1).label};
    }
    static std::string encode(const Core& core) { return engine::encode(core); }
    static bool decode(std::string_view bytes, Core& core) { return engine::decode(bytes, core); }
};

struct ModelBias {
    using Core = engine::ModelBiasCore;
    static constexpr const char* name = "ModelBiasStats";
    static constexpr std::size_t labels = 3;
    static constexpr Declaration init{"ModelBiasStats",
                                      {{{"feature_label_or_threshold", Kind::Any},
                                        {"ground_truth_label_or_threshold", Kind::Any},
                                        {"prediction_label_or_threshold", Kind::Any}}}};
    static constexpr Declaration update_declaration{"update",
                                                    {{{"feature_array", Kind::Array},
                                                      {"ground_truth_array", Kind::Array},
                                                      {"prediction_array", Kind::Array},
                                                      threads_parameter}}};

    // The core keeps feature, prediction, ground truth.
    static Core make(const std::array<engine::LabelValue, labels>& values) {
        return Core({values[0], values[2], values[1]});
    }
    static std::optional<Error> update(Core& core, std::mutex* guard, Arguments& a, PyObject* const* label) {
        return update_model_bias(core, guard, a.object("feature_array"), a.object("ground_truth_array"),
                                 a.object("prediction_array"), label[0], label[1], label[2], nullptr,
                                 a.count("threads"));
    }
    static Result<MetricMap> metrics(const Core& core) { return engine::model_bias_metrics(core); }
    static std::optional<std::string> difference(const Core& a, const Core& b) {
        return a.difference(b, {"feature", "prediction", "ground_truth"});
    }
    static std::array<engine::LabelValue, labels> label_values(const Core& core) {
        return {core.column(0).label, core.column(2).label, core.column(1).label};
    }
    static std::string encode(const Core& core) { return engine::encode(core); }
    static bool decode(std::string_view bytes, Core& core) { return engine::decode(bytes, core); }
};

// The performance families share everything but their core and constructor.
template <class CoreType>
struct PerformanceFamily {
    using Core = CoreType;
    static constexpr std::size_t labels = 0;
    static constexpr Declaration update_declaration{
        "update", {{{"y_pred", Kind::Array}, {"y_true", Kind::Array}, threads_parameter}}};
    static Result<MetricMap> metrics(const Core& core) { return core.metrics(); }
    static std::array<engine::LabelValue, 0> label_values(const Core&) { return {}; }
    static std::string encode(const Core& core) { return core.encode(); }
    static bool decode(std::string_view bytes, Core& core) { return Core::decode(bytes, core); }
};

struct Classification : PerformanceFamily<engine::ClassificationCore> {
    static constexpr const char* name = "ClassificationStats";
    static constexpr Declaration init{"ClassificationStats", {}};
    static Core make(Arguments&) { return Core(); }
    static std::optional<Error> update(Core& core, std::mutex* guard, Arguments& a, PyObject* const*) {
        return update_classification(core, guard, a.object("y_pred"), a.object("y_true"), nullptr, a.count("threads"));
    }
    static std::optional<std::string> difference(const Core&, const Core&) { return std::nullopt; }
};

struct Logistic : PerformanceFamily<engine::LogisticCore> {
    static constexpr const char* name = "LogisticStats";
    static constexpr Declaration init{"LogisticStats", {{{"decision_threshold", Kind::Float32, "0.5"}}}};
    static Core make(Arguments& a) { return Core(a.number("decision_threshold")); }
    static std::optional<Error> update(Core& core, std::mutex* guard, Arguments& a, PyObject* const*) {
        return update_logistic(core, guard, a.object("y_pred"), a.object("y_true"), nullptr, a.count("threads"));
    }
    static std::optional<std::string> difference(const Core& a, const Core& b) {
        const float x = a.decision_threshold(), y = b.decision_threshold();
        if (std::memcmp(&x, &y, sizeof x) == 0) return std::nullopt;
        return std::string("decision_threshold differs");
    }
};

struct Regression : PerformanceFamily<engine::RegressionCore> {
    static constexpr const char* name = "RegressionStats";
    static constexpr Declaration init{"RegressionStats", {}};
    static Core make(Arguments&) { return Core(); }
    static std::optional<Error> update(Core& core, std::mutex* guard, Arguments& a, PyObject* const*) {
        return update_regression(core, guard, a.object("y_pred"), a.object("y_true"), nullptr, a.count("threads"));
    }
    static std::optional<std::string> difference(const Core&, const Core&) { return std::nullopt; }
};

// ---- the objects ---------------------------------------------------------

// A core and the lock that guards it while an update runs without the
// interpreter lock.
template <class Core>
struct Guarded {
    Core core;
    std::mutex guard;
    explicit Guarded(Core c) : core(std::move(c)) {}
};

template <class Family>
struct StatsObject {
    PyObject_HEAD
    Guarded<typename Family::Core>* state;
    // The label objects, converted for each batch's column kinds.
    PyObject* label_objects[Family::labels > 0 ? Family::labels : 1];
};

template <class Family>
PyTypeObject*& type_of() {
    static PyTypeObject* type = nullptr;
    return type;
}

template <class Family>
StatsObject<Family>* as_stats(PyObject* self) {
    return reinterpret_cast<StatsObject<Family>*>(self);
}

// A new object of the family's type holding `core`. Its label objects are
// rebuilt from the labels the core keeps (a float, an int, a str or None), so
// an object read back from bytes labels exactly like the one written, and no
// caller's object is kept alive.
template <class Family>
PyObject* new_object(typename Family::Core core) {
    PyTypeObject* type = type_of<Family>();
    py::Ref object = py::Ref::steal(type->tp_alloc(type, 0));
    if (!object) return nullptr;
    StatsObject<Family>* self = as_stats<Family>(object.get());
    if constexpr (Family::labels > 0) {
        const auto values = Family::label_values(core);
        for (std::size_t i = 0; i < Family::labels; ++i) {
            PyObject* label = label_object(values[i]);
            if (label == nullptr) return nullptr;
            self->label_objects[i] = label;
        }
    }
    self->state = new Guarded<typename Family::Core>(std::move(core));
    return object.release();
}

template <class Family>
PyObject* stats_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        // The constructor binds like the raw functions: positional then keyword.
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        std::vector<PyObject*> values(args ? &PyTuple_GET_ITEM(args, 0) : nullptr,
                                      args ? &PyTuple_GET_ITEM(args, 0) + nargs : nullptr);
        py::Ref names;
        if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
            names = py::Ref::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
            if (!names) return nullptr;
            Py_ssize_t position = 0, index = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &position, &key, &value)) {
                Py_INCREF(key);
                PyTuple_SET_ITEM(names.get(), index++, key);
                values.push_back(value);
            }
        }
        std::optional<Arguments> bound = bind(Family::init, values.data(), nargs, names.get());
        if (!bound) return nullptr;
        if constexpr (Family::labels > 0) {
            std::array<engine::LabelValue, Family::labels> labels;
            for (std::size_t i = 0; i < Family::labels; ++i) {
                auto value = label_value(bound->object(Family::init.parameters[i].name));
                if (!value) return nullptr;
                labels[i] = std::move(*value);
            }
            return new_object<Family>(Family::make(labels));
        } else {
            return new_object<Family>(Family::make(*bound));
        }
    });
}

template <class Family>
void stats_dealloc(PyObject* self) {
    StatsObject<Family>* stats = as_stats<Family>(self);
    delete stats->state;
    if constexpr (Family::labels > 0)
        for (PyObject*& label : stats->label_objects) Py_CLEAR(label);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Family>
PyObject* stats_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        std::optional<Arguments> bound = bind(Family::update_declaration, args, nargs, kwnames);
        if (!bound) return nullptr;
        StatsObject<Family>* stats = as_stats<Family>(self);
        if (auto error = Family::update(stats->state->core, &stats->state->guard, *bound, stats->label_objects))
            return raise(*error);
        Py_RETURN_NONE;
    });
}

// A copy of the core, taken under its lock.
template <class Family>
typename Family::Core snapshot(PyObject* self) {
    auto* state = as_stats<Family>(self)->state;
    std::lock_guard<std::mutex> lock(state->guard);
    return state->core;
}

template <class Family>
PyObject* stats_merge(PyObject* self, PyObject* other) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        if (Py_TYPE(other) != type_of<Family>()) {
            PyTypeObject* other_type = Py_TYPE(other);
            const bool statistics = other_type == type_of<DataBias>() || other_type == type_of<ModelBias>() ||
                                    other_type == type_of<Classification>() || other_type == type_of<Logistic>() ||
                                    other_type == type_of<Regression>();
            PyErr_Format(statistics ? PyExc_ValueError : PyExc_TypeError, "cannot merge %s with %s", Family::name,
                         other_type->tp_name);
            return nullptr;
        }
        typename Family::Core merged = snapshot<Family>(self);
        const typename Family::Core theirs = snapshot<Family>(other);
        if (auto difference = Family::difference(merged, theirs))
            return raise(Error{ErrorCode::StatisticsDiffer, "cannot merge: " + *difference});
        merged.merge(theirs);
        return new_object<Family>(std::move(merged));
    });
}

template <class Family>
PyObject* stats_metrics(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        return metric_dict(Family::metrics(snapshot<Family>(self)));
    });
}

template <class Family>
PyObject* stats_to_bytes(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        const std::string bytes = Family::encode(snapshot<Family>(self));
        return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    });
}

template <class Family>
PyObject* stats_from_bytes(PyObject*, PyObject* data) {
    return guarded([&]() -> PyObject* {
        if (!in_owner_interpreter()) return nullptr;
        Py_buffer view;
        if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
        typename Family::Core core;
        const bool ok =
            Family::decode(std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)),
                           core);
        PyBuffer_Release(&view);
        if (!ok) return raise(Error{ErrorCode::StatisticsEncoding, Family::name});
        return new_object<Family>(std::move(core));
    });
}

template <class Family>
PyObject* stats_reduce(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        py::Ref from_bytes = py::Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytes"));
        if (!from_bytes) return nullptr;
        py::Ref bytes = py::Ref::steal(stats_to_bytes<Family>(self, nullptr));
        if (!bytes) return nullptr;
        return Py_BuildValue("O(O)", from_bytes.get(), bytes.get());
    });
}

template <class Family>
PyMethodDef methods[] = {
    {"update", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(stats_update<Family>)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"merge", stats_merge<Family>, METH_O, "merge($self, other, /)\n--\n\nA new object holding the rows of both."},
    {"metrics", stats_metrics<Family>, METH_NOARGS, "metrics($self, /)\n--\n\nThe metrics of every row added."},
    {"to_bytes", stats_to_bytes<Family>, METH_NOARGS, "to_bytes($self, /)\n--\n\nThe versioned byte encoding."},
    {"from_bytes", stats_from_bytes<Family>, METH_O | METH_CLASS,
     "from_bytes($type, data, /)\n--\n\nThe object that to_bytes encoded."},
    {"__reduce__", stats_reduce<Family>, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// "name($self, a, b)\n--\n\n": a method's text signature from its declaration.
std::string method_signature(const Declaration& declaration) {
    std::string text = text_signature(declaration);
    const std::size_t open = text.find('(') + 1;
    return text.insert(open, declaration.count() > 0 ? "$self, " : "$self");
}

template <class Family>
bool add_type(PyObject* module) {
    static const std::string update_text = method_signature(Family::update_declaration) +
        "Adds one batch of rows; with threads=n, a batch of arrays in memory in up to n parts at once.";
    methods<Family>[0].ml_doc = update_text.c_str();
    static const std::string qualified = std::string("zentrova._engine.") + Family::name;
    static const std::string doc = text_signature(Family::init) + "Mergeable statistics of all rows added.";
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(stats_new<Family>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(stats_dealloc<Family>)},
        {Py_tp_methods, methods<Family>},
        {Py_tp_doc, const_cast<char*>(doc.c_str())},
        {0, nullptr},
    };
    static PyType_Spec type_slots = {qualified.c_str(), sizeof(StatsObject<Family>), 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* type = PyType_FromSpec(&type_slots);
    if (type == nullptr) return false;
    type_of<Family>() = reinterpret_cast<PyTypeObject*>(type);
    Py_INCREF(type);  // the module-wide reference kept in type_of
    return PyModule_AddObject(module, Family::name, type) == 0;
}

// ---- test hooks ----------------------------------------------------------

// The vector paths this CPU runs, narrowest ("scalar": the C library's calls) first.
PyObject* kernel_paths(PyObject*, PyObject*) {
    return guarded([]() -> PyObject* {
        py::Ref names = py::Ref::steal(PyList_New(0));
        if (!names) return nullptr;
        for (const numeric::KernelPath path : numeric::supported_paths()) {
            py::Ref name = py::Ref::steal(PyUnicode_FromString(numeric::path_name(path)));
            if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
        }
        return names.release();
    });
}

// Pins every kernel to the named path (None: back to the widest). True when
// log10f now runs that path, False when it fell back to the library's calls.
PyObject* force_kernel_path(PyObject*, PyObject* name) {
    return guarded([&]() -> PyObject* {
        if (name == Py_None) {
            numeric::reset_path();
            Py_RETURN_TRUE;
        }
        const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
        if (text == nullptr) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a path name or None is needed");
            return nullptr;
        }
        for (const numeric::KernelPath path : numeric::supported_paths())
            if (std::string_view(numeric::path_name(path)) == text) return PyBool_FromLong(numeric::force_path(path));
        PyErr_Format(PyExc_ValueError, "this CPU does not run the path %R", name);
        return nullptr;
    });
}

// ---- the package's entry points -----------------------------------------
// The measuring calls of `_zentrova` (same binding, ingest, engine and errors),
// returning (metrics, counts): each array's NaN rows and rows outside its
// values, counted in the engine's pass so the package need not read them.

constexpr Declaration package_data_bias{"_data_bias", data_bias_parameters};
constexpr Declaration package_model_bias{"_model_bias", model_bias_parameters};
constexpr Declaration package_classification{"_classification", performance_parameters};
constexpr Declaration package_logistic{"_logistic", logistic_parameters};
constexpr Declaration package_regression{"_regression", performance_parameters};

PyObject* counted_data_bias(Arguments& a) { return measure_data_bias(a, true); }
PyObject* counted_model_bias(Arguments& a) { return measure_model_bias(a, true); }
PyObject* counted_classification(Arguments& a) { return measure_classification(a, true); }
PyObject* counted_logistic(Arguments& a) { return measure_logistic(a, true); }
PyObject* counted_regression(Arguments& a) { return measure_regression(a, true); }

template <const Declaration& declaration, PyObject* (*body)(Arguments&)>
PyMethodDef package_entry() {
    return {declaration.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&exported<declaration, body>)),
            METH_FASTCALL | METH_KEYWORDS, nullptr};
}

PyMethodDef module_functions[] = {
    {"_kernel_paths", kernel_paths, METH_NOARGS, "_kernel_paths()\n--\n\nThe vector paths this CPU runs."},
    {"_force_kernel_path", force_kernel_path, METH_O,
     "_force_kernel_path(name, /)\n--\n\nPins every kernel to one path (None: the widest again)."},
    package_entry<package_data_bias, counted_data_bias>(),
    package_entry<package_model_bias, counted_model_bias>(),
    package_entry<package_classification, counted_classification>(),
    package_entry<package_logistic, counted_logistic>(),
    package_entry<package_regression, counted_regression>(),
    {nullptr, nullptr, 0, nullptr},
};
constexpr std::size_t first_package_entry = 2, package_entries = 5;

// The entry points' text signatures, derived from their declarations.
void document_package_entries() {
    static std::array<std::string, package_entries> docs;
    for (std::size_t i = 0; i < package_entries; ++i) {
        static constexpr std::array<const Declaration*, package_entries> declarations = {
            &package_data_bias, &package_model_bias, &package_classification, &package_logistic,
            &package_regression};
        docs[i] = text_signature(*declarations[i]) + "Private to the zentrova package: (metrics, counts).";
        module_functions[first_package_entry + i].ml_doc = docs[i].c_str();
    }
}

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "zentrova._engine",
    "Mergeable statistics: add rows batch by batch, merge, and read the metrics of all rows.",
    -1,
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* module_object = nullptr;

bool add_types(PyObject* module) {
    document_package_entries();
    return add_type<DataBias>(module) && add_type<ModelBias>(module) && add_type<Classification>(module) &&
           add_type<Logistic>(module) && add_type<Regression>(module);
}

PyObject* initialise() { return initialise_module(module_object, module_definition, &add_types); }

}  // namespace
}  // namespace zentrova::python

PyMODINIT_FUNC PyInit__engine(void) {
    return zentrova::python::guarded([] { return zentrova::python::initialise(); });
}
