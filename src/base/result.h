#pragma once
// A value, or the Status that says why there is none: the one error pattern for operations that
// give something back.

#include "base/status.h"

#include <optional>
#include <utility>

namespace x45 {

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {} // NOLINT(google-explicit-constructor)
    // A failed Status; an ok one would carry no value, so it is taken as a failure without words.
    Result(Status error) // NOLINT(google-explicit-constructor)
        : error_(error.isOk() ? Status::fail(QString()) : std::move(error)) {}
    static Result fail(QString message) { return Result(Status::fail(std::move(message))); }
    static Result fail(ErrorKind kind, QString message) {
        return Result(Status::fail(kind, std::move(message)));
    }

    [[nodiscard]] bool isOk() const { return value_.has_value(); }
    explicit operator bool() const { return isOk(); }
    // Only when isOk().
    [[nodiscard]] const T& value() const& { return *value_; }
    [[nodiscard]] T& value() & { return *value_; }
    [[nodiscard]] T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    // Empty when isOk().
    [[nodiscard]] const QString& message() const { return error_.message(); }
    [[nodiscard]] const Status& status() const { return error_; }
    [[nodiscard]] ErrorKind kind() const { return error_.kind(); }
    [[nodiscard]] bool is(ErrorKind kind) const { return !isOk() && error_.is(kind); }

private:
    std::optional<T> value_;
    Status error_;
};

} // namespace x45
