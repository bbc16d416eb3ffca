#include "python/error_map.hpp"

#include <array>
#include <string>
#include <string_view>

namespace zentrova::python {
namespace {

enum class Raised { TypeError, ValueError, ImportError, Panic, Pending };

// An error's exception class and text: the text, then the error's detail.
struct Mapping {
    ErrorCode code;
    Raised raised;
    std::string_view text;
};

constexpr std::string_view invalid_arrays = "Invalid arrays for y_pred and y_true: ";

constexpr std::array mappings = {
    Mapping{ErrorCode::LabelNotNumber, Raised::TypeError, "float"},
    Mapping{ErrorCode::LabelNotText, Raised::TypeError, "string"},
    Mapping{ErrorCode::ColumnRead, Raised::TypeError, ""},
    Mapping{ErrorCode::NoDeviationData, Raised::TypeError, "No deviation"},
    Mapping{ErrorCode::NoDeviationModel, Raised::TypeError, "no deviaton"},
    Mapping{ErrorCode::PerformanceRead, Raised::ValueError, invalid_arrays},
    Mapping{ErrorCode::PerformanceItem, Raised::Panic, ""},
    Mapping{ErrorCode::TextColumnUnsupported, Raised::Panic, "Data of type String is not supported"},
    Mapping{ErrorCode::TypesDiffer, Raised::ValueError,
            "Invalid arrays for y_pred and y_true: Type between y_true and y_pred do not match"},
    Mapping{ErrorCode::LengthsDiffer, Raised::ValueError,
            "Invalid arrays for y_pred and y_true: Arrays have different lengths"},
    Mapping{ErrorCode::NoData, Raised::ValueError, "Invalid arrays for y_pred and y_true: Arrays have no data"},
    Mapping{ErrorCode::RegressionEmpty, Raised::ValueError, "Invalid arrays for y_pred and y_true: Arrays are emtpy"},
    Mapping{ErrorCode::InvalidModelType, Raised::ValueError, "Invalid model type"},
    Mapping{ErrorCode::UnknownDataBiasName, Raised::ValueError, "Invalid DataBias metric passed"},
    Mapping{ErrorCode::UnknownModelBiasName, Raised::ValueError, "Invalid ModelBias metric passed"},
    Mapping{ErrorCode::UnknownPerformanceName, Raised::ValueError, "Invalid metric name passed"},
    Mapping{ErrorCode::BiasLatestIncomplete, Raised::ValueError, "Invalid metrics body passed"},
    Mapping{ErrorCode::BiasBaselineIncomplete, Raised::ValueError, "Invalid baseline body passed"},
    Mapping{ErrorCode::PerformanceBaselineIncomplete, Raised::ValueError,
            "Invalid baseline report: Invalid regression report"},
    Mapping{ErrorCode::PerformanceLatestIncomplete, Raised::ValueError,
            "Invalid latest report: Invalid regression report"},
    Mapping{ErrorCode::LogLossNotForClassification, Raised::ValueError,
            "Invalid metric name passed: LogLoss is not valid for Binary Classification"},
    Mapping{ErrorCode::StatisticsDiffer, Raised::ValueError, ""},
    Mapping{ErrorCode::StatisticsEncoding, Raised::ValueError, "not an intact encoding of "},
    Mapping{ErrorCode::PassThrough, Raised::Pending, ""},
    Mapping{ErrorCode::ForeignInterpreter, Raised::ImportError,
            "_zentrova does not support sub-interpreters: it can only be imported by the interpreter that imported "
            "it first"},
    Mapping{ErrorCode::DictChangedSize, Raised::Panic, "dictionary changed size during iteration"},
    Mapping{ErrorCode::DictKeysChanged, Raised::Panic, "dictionary keys changed during iteration"},
    Mapping{ErrorCode::NumpyUnavailable, Raised::Panic, "Failed to access NumPy array API capsule: "},
    Mapping{ErrorCode::Internal, Raised::Panic, ""},
};

const Mapping& mapping_of(ErrorCode code) noexcept {
    for (const Mapping& mapping : mappings)
        if (mapping.code == code) return mapping;
    return mappings.back();
}

// Created on first use and kept for the life of the process.
PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc(
            "_zentrova.PanicException",
            "An internal fault that abandoned the call. Derives from BaseException.", PyExc_BaseException,
            nullptr);
    }
    return type;
}

void set_error(PyObject* type, std::string_view message) {
    py::Ref text = py::Ref::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

}  // namespace

PyObject* raise(const Error& error) {
    const Mapping& mapping = mapping_of(error.code);
    std::string message(mapping.text);
    message += error.detail;
    switch (mapping.raised) {
        case Raised::TypeError: set_error(PyExc_TypeError, message); break;
        case Raised::ValueError: set_error(PyExc_ValueError, message); break;
        case Raised::ImportError: set_error(PyExc_ImportError, message); break;
        case Raised::Pending: break;
        case Raised::Panic: {
            PyErr_Clear();
            PyObject* type = panic_exception_type();
            if (type == nullptr) return nullptr;  // the class could not be made; its error is set
            set_error(type, message.empty() ? std::string_view("internal fault without a message") : message);
            break;
        }
    }
    return nullptr;
}

}  // namespace zentrova::python
