// Conversions of Python argument values into plain values. A failing conversion
// leaves its Python exception set and reports false or an empty optional.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/errors.hpp"
#include "common/metric_map.hpp"
#include "python/py_ref.hpp"

namespace zentrova::python {

// The qualified name of an object's type.
std::string type_name(PyObject* object);

// Sets TypeError "'{type}' object cannot be converted to '{target}'".
void set_conversion_error(PyObject* object, const char* target);

// Takes the pending Python exception as the text "{type}: {str}".
std::string pending_error_text();

// The pending Python exception as an error of `code` carrying its text; an
// exception that is not an Exception stays pending, as PassThrough.
Error python_error(ErrorCode code);

// A str's UTF-8 text; TypeError for anything but a str.
std::optional<std::string> to_text(PyObject* object);
// A float's value through the float protocol (__float__, then __index__).
std::optional<double> to_double(PyObject* object);
std::optional<float> to_f32(PyObject* object);
std::optional<MetricMap> to_metric_map(PyObject* object);
// A count of threads: an int (through __index__, bool refused) of at least 1.
std::optional<std::size_t> to_thread_count(PyObject* object);
std::optional<std::vector<std::string>> to_text_list(PyObject* object);

// A metric map as a new dict of str to float, or the error raised.
PyObject* metric_dict(const Result<MetricMap>& result);

}  // namespace zentrova::python
