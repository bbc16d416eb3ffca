// Argument binding, written once: each exported function has one declaration
// that gives its parameters, their conversions and defaults; its text
// signature and argument counts are derived from it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/metric_map.hpp"
#include "python/py_ref.hpp"

namespace zentrova::python {

enum class Kind {
    Array,     // a NumPy array, kept as the object
    Any,       // any object, kept as is
    Metrics,   // dict of str to float
    TextList,  // sequence of str other than a str
    Float32,   // float
    Text,      // str
    Threads,   // int of at least 1
};

struct Parameter {
    const char* name = nullptr;
    Kind kind = Kind::Any;
    const char* default_text = nullptr;  // as the text signature shows it; a parameter with one is optional
    bool keyword_only = false;           // only after every positional one
};

inline constexpr std::size_t max_parameters = 6;

struct Declaration {
    const char* name;
    std::array<Parameter, max_parameters> parameters;

    constexpr std::size_t count() const noexcept {
        std::size_t n = 0;
        while (n < max_parameters && parameters[n].name != nullptr) ++n;
        return n;
    }
    // Parameters that may be given by position.
    constexpr std::size_t positional() const noexcept {
        std::size_t n = 0;
        while (n < count() && !parameters[n].keyword_only) ++n;
        return n;
    }
    constexpr std::size_t required() const noexcept {
        std::size_t n = 0;
        while (n < count() && parameters[n].default_text == nullptr) ++n;
        return n;
    }
};

// "name(a, b, threshold=0.10)\n--\n\n": the form CPython reads a text signature from.
std::string text_signature(const Declaration& declaration);

// The converted arguments of one call, read by parameter name.
class Arguments {
public:
    using Value =
        std::variant<std::monostate, PyObject*, MetricMap, std::vector<std::string>, float, std::string, std::size_t>;

    explicit Arguments(const Declaration& declaration) : declaration_(&declaration) {}

    PyObject* object(std::string_view name) { return std::get<PyObject*>(at(name)); }
    const MetricMap& metrics(std::string_view name) { return std::get<MetricMap>(at(name)); }
    const std::vector<std::string>& texts(std::string_view name) { return std::get<std::vector<std::string>>(at(name)); }
    float number(std::string_view name) { return std::get<float>(at(name)); }
    const std::string& text(std::string_view name) { return std::get<std::string>(at(name)); }
    std::size_t count(std::string_view name) { return std::get<std::size_t>(at(name)); }

    Value& slot(std::size_t index) { return values_[index]; }

private:
    Value& at(std::string_view name);

    const Declaration* declaration_;
    std::array<Value, max_parameters> values_;
};

// Binds and converts the call's arguments; on failure the Python exception is
// set and nothing is returned.
std::optional<Arguments> bind(const Declaration& declaration, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

}  // namespace zentrova::python
