// Binding of positional and keyword arguments by the names of a function's text
// signature, and their conversion in parameter order.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "metric_map.hpp"
#include "py_ref.hpp"

namespace zentrova::binding {

enum class Kind {
    Array,     // a NumPy array, kept as the object
    Any,       // any object, kept as is
    Metrics,   // dict of str to float
    TextList,  // sequence of str other than a str
    Float32,   // float, with a default when not passed
    Text,      // str
};

struct Parameter {
    const char* name;
    Kind kind;
    std::optional<float> default_value = std::nullopt;
};

inline constexpr std::size_t max_parameters = 6;

struct Signature {
    const char* name;
    std::array<Parameter, max_parameters> parameters;
    std::size_t count;
    std::size_t required;
};

using Value = std::variant<std::monostate, PyObject*, MetricMap, std::vector<std::string>, float, std::string>;
using Arguments = std::array<Value, max_parameters>;

// Binds and converts the call's arguments; on failure the Python exception is
// set and nothing is returned.
std::optional<Arguments> bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

}  // namespace zentrova::binding
