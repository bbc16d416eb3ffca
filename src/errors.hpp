// Error values and fatal errors of the metric code. Free of Python: the module
// surface decides which Python exception an error value becomes.
#pragma once

#include <exception>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace zentrova {

// The failure of a fallible operation, carrying its message text.
struct Error {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    T* operator->() { return &value(); }
    const Error& error() const& { return std::get<1>(state_); }
    Error&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Error> state_;
};

// A failure that abandons the whole call; the module surface turns it into the
// fatal-error exception.
class FatalError : public std::exception {
public:
    explicit FatalError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

[[noreturn]] inline void fatal(std::string message) { throw FatalError(std::move(message)); }

}  // namespace zentrova
