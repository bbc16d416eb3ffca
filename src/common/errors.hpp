// Error values of the native core. Free of Python: an error carries a code and,
// for a few codes, a detail text; the Python layer's one error map turns the
// code into an exception class and its text.
#pragma once

#include <exception>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace zentrova {

enum class ErrorCode {
    // Reading and labelling the columns of an analyzer.
    LabelNotNumber,
    LabelNotText,
    ColumnRead,  // detail: the Python error met while reading
    NoDeviationData,
    NoDeviationModel,
    // Reading the columns of a performance function.
    PerformanceRead,  // detail: the Python error met while reading
    PerformanceItem,  // detail: the Python error of one item; abandons the call
    TextColumnUnsupported,
    TypesDiffer,
    LengthsDiffer,
    NoData,
    RegressionEmpty,
    // Drift checks.
    InvalidModelType,
    UnknownDataBiasName,
    UnknownModelBiasName,
    UnknownPerformanceName,
    BiasLatestIncomplete,
    BiasBaselineIncomplete,
    PerformanceBaselineIncomplete,
    PerformanceLatestIncomplete,
    LogLossNotForClassification,
    // Statistics objects.
    StatisticsDiffer,   // detail: what differs
    StatisticsEncoding, // detail: the class whose encoding was expected
    // A Python exception that is not an Exception (KeyboardInterrupt,
    // SystemExit, ...) is pending and must reach the caller unchanged.
    PassThrough,
    // A function called from an interpreter other than the one that imported the module.
    ForeignInterpreter,
    // Internal faults that abandon the call.
    DictChangedSize,
    DictKeysChanged,
    NumpyUnavailable,  // detail: why
    Internal,          // detail: what
};

// The failure of a fallible operation.
struct Error {
    ErrorCode code;
    std::string detail = {};
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}
    Result(ErrorCode code) : state_(std::in_place_index<1>, Error{code}) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& value() const& { return std::get<0>(state_); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const& { return std::get<1>(state_); }
    Error&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Error> state_;
};

// An error that abandons the whole call, thrown from deep inside it.
class FatalError : public std::exception {
public:
    explicit FatalError(Error error) : error_(std::move(error)) {}
    const char* what() const noexcept override { return error_.detail.c_str(); }
    const Error& error() const noexcept { return error_; }

private:
    Error error_;
};

[[noreturn]] inline void fatal(ErrorCode code, std::string detail = {}) {
    throw FatalError(Error{code, std::move(detail)});
}

// Thrown when a long loop learns that the caller wants to stop (the Python
// layer has already set the exception to raise).
struct Interrupted {};

}  // namespace zentrova
