#include "python/binding.hpp"

#include <charconv>

#include "common/errors.hpp"
#include "python/numpy_api.hpp"
#include "python/values.hpp"

namespace zentrova::python {
namespace {

void raise_type_error(const std::string& message) { PyErr_SetString(PyExc_TypeError, message.c_str()); }

std::string function_name(const Declaration& signature) { return std::string(signature.name) + "()"; }

bool too_many_positional(const Declaration& signature, Py_ssize_t given) {
    std::string message = function_name(signature) + " takes ";
    if (signature.required() == signature.positional())
        message += std::to_string(signature.positional());
    else
        message += "from " + std::to_string(signature.required()) + " to " + std::to_string(signature.positional());
    message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was given" : " were given");
    raise_type_error(message);
    return false;
}

void missing_arguments(const Declaration& signature, const std::vector<const char*>& missing) {
    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        names.append(1, '\'').append(missing[i]).append(1, '\'');
    }
    raise_type_error(function_name(signature) + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() > 1 ? "s" : "") + ": " + names);
}

// Turns a TypeError of a conversion into "argument '{name}': {reason}", keeping
// the original's cause; other exceptions pass unchanged.
void wrap_conversion_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    py::Ref type_ref = py::Ref::steal(type), value_ref = py::Ref::steal(value), tb_ref = py::Ref::steal(traceback);
    py::Ref reason = py::Ref::steal(PyObject_Str(value_ref.get()));
    if (!reason) return;
    py::Ref message = py::Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, reason.get()));
    if (!message) return;
    py::Ref error = py::Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!error) return;
    if (PyObject* cause = PyException_GetCause(value_ref.get())) PyException_SetCause(error.get(), cause);
    PyErr_SetObject(PyExc_TypeError, error.get());
}

template <class T>
bool store(std::optional<T> value, Arguments::Value& out) {
    if (!value) return false;
    out = std::move(*value);
    return true;
}

bool convert(const Parameter& parameter, PyObject* object, Arguments::Value& out) {
    switch (parameter.kind) {
        case Kind::Array:
            if (!numpy::is_array(object)) {
                set_conversion_error(object, "PyUntypedArray");
                return false;
            }
            out = object;
            return true;
        case Kind::Any: out = object; return true;
        case Kind::Metrics: return store(to_metric_map(object), out);
        case Kind::TextList: return store(to_text_list(object), out);
        case Kind::Float32: return store(python::to_f32(object), out);
        case Kind::Text: return store(to_text(object), out);
        case Kind::Threads: return store(to_thread_count(object), out);
    }
    return false;
}

Arguments::Value default_value(const Parameter& parameter) {
    const std::string_view text(parameter.default_text);
    if (parameter.kind == Kind::Threads) {
        std::size_t count = 1;
        std::from_chars(text.data(), text.data() + text.size(), count);
        return count;
    }
    float value = 0.0f;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

std::string text_signature(const Declaration& declaration) {
    std::string text = std::string(declaration.name) + "(";
    for (std::size_t i = 0; i < declaration.count(); ++i) {
        const Parameter& parameter = declaration.parameters[i];
        if (i > 0) text += ", ";
        if (i == declaration.positional()) text += "*, ";
        text += parameter.name;
        if (parameter.default_text != nullptr) text.append(1, '=').append(parameter.default_text);
    }
    return text + ")\n--\n\n";
}

Arguments::Value& Arguments::at(std::string_view name) {
    for (std::size_t i = 0; i < declaration_->count(); ++i)
        if (name == declaration_->parameters[i].name) return values_[i];
    fatal(ErrorCode::Internal, "no parameter " + std::string(name));
}

std::optional<Arguments> bind(const Declaration& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    const std::size_t count = signature.count();
    if (nargs > static_cast<Py_ssize_t>(signature.positional())) {
        too_many_positional(signature, nargs);
        return std::nullopt;
    }
    std::array<PyObject*, max_parameters> slots{};
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = 0;
        while (index < count && PyUnicode_CompareWithASCIIString(keyword, signature.parameters[index].name) != 0)
            ++index;
        if (index == count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", signature.name, keyword);
            return std::nullopt;
        }
        if (slots[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", signature.name,
                         signature.parameters[index].name);
            return std::nullopt;
        }
        slots[index] = args[nargs + k];
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.required(); ++i)
        if (slots[i] == nullptr) missing.push_back(signature.parameters[i].name);
    if (!missing.empty()) {
        missing_arguments(signature, missing);
        return std::nullopt;
    }

    Arguments converted(signature);
    for (std::size_t i = 0; i < count; ++i) {
        const Parameter& parameter = signature.parameters[i];
        if (slots[i] == nullptr) {
            converted.slot(i) = default_value(parameter);
            continue;
        }
        if (!convert(parameter, slots[i], converted.slot(i))) {
            wrap_conversion_error(parameter.name);
            return std::nullopt;
        }
    }
    return converted;
}

}  // namespace zentrova::python
