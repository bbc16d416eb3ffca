#include "model_perf/perf_entry.hpp"

#include <cstdint>

#include "data_handler/numpy_api.hpp"
#include "data_handler/python_values.hpp"

namespace zentrova::model_perf {

Result<PerfColumn> PerfEntry::convert_f32(PyObject* array, data_handler::ColumnType type, bool defer) {
    if (type == data_handler::ColumnType::Other) fatal("Data of type String is not supported");
    if (const auto direct = numpy::direct_array(array)) {
        PerfColumn column;
        switch (direct->kind) {
            case numpy::ElementKind::Int16:
                column = floats_in_memory<std::int16_t>(direct->data, direct->stride, direct->size);
                break;
            case numpy::ElementKind::Int32:
                column = floats_in_memory<std::int32_t>(direct->data, direct->stride, direct->size);
                break;
            case numpy::ElementKind::Int64:
                column = floats_in_memory<std::int64_t>(direct->data, direct->stride, direct->size);
                break;
            case numpy::ElementKind::Float32:
                column = floats_in_memory<float>(direct->data, direct->stride, direct->size);
                break;
            case numpy::ElementKind::Float64:
                column = floats_in_memory<double>(direct->data, direct->stride, direct->size);
                break;
            case numpy::ElementKind::Unicode: fatal("Data of type String is not supported");
        }
        return defer ? std::move(column) : materialise(column);
    }
    Values<float> values;
    values.reserve(numpy::total_size(array));
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
        values.push_back(static_cast<float>(value));
    }
    if (PyErr_Occurred()) fatal(data_handler::take_python_error().message);
    return PerfColumn(std::move(values));
}

}  // namespace zentrova::model_perf
