#include "model_perf/perf_entry.hpp"

#include <cstdint>

#include "data_handler/numpy_api.hpp"
#include "data_handler/python_values.hpp"

namespace zentrova::model_perf {
namespace {

// Every value goes through a double first, as the float protocol would take it.
template <class T>
void convert_directly(const numpy::DirectArray& array, std::vector<float>& out) {
    const data_handler::Strided<T> view{array.data, array.stride, array.size};
    out.resize(array.size);
    for (std::size_t i = 0; i < array.size; ++i) out[i] = static_cast<float>(static_cast<double>(view[i]));
}

}  // namespace

Result<std::vector<float>> PerfEntry::convert_f32(PyObject* array, data_handler::ColumnType type) {
    if (type == data_handler::ColumnType::Other) fatal("Data of type String is not supported");
    std::vector<float> column;
    if (const auto direct = numpy::direct_array(array)) {
        switch (direct->kind) {
            case numpy::ElementKind::Int16: convert_directly<std::int16_t>(*direct, column); break;
            case numpy::ElementKind::Int32: convert_directly<std::int32_t>(*direct, column); break;
            case numpy::ElementKind::Int64: convert_directly<std::int64_t>(*direct, column); break;
            case numpy::ElementKind::Float32: convert_directly<float>(*direct, column); break;
            case numpy::ElementKind::Float64: convert_directly<double>(*direct, column); break;
            case numpy::ElementKind::Unicode: fatal("Data of type String is not supported");
        }
        return column;
    }
    column.reserve(numpy::total_size(array));
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(array));
    if (!iterator) return data_handler::take_python_error();
    while (py::Ref item = py::Ref::steal(PyIter_Next(iterator.get()))) {
        double value;
        if (PyFloat_CheckExact(item.get())) {
            value = PyFloat_AS_DOUBLE(item.get());
        } else {
            value = PyFloat_AsDouble(item.get());
            if (value == -1.0 && PyErr_Occurred()) fatal(data_handler::take_python_error().message);
        }
        column.push_back(static_cast<float>(value));
    }
    if (PyErr_Occurred()) fatal(data_handler::take_python_error().message);
    return column;
}

}  // namespace zentrova::model_perf
