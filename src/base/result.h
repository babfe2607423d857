#pragma once
// The one error pattern of the core: an operation that can fail returns a Status (nothing else to
// give) or a Result<T> (a value), each carrying, on failure, a message that says what went wrong
// and what to do about it. The core only returns messages; the front ends show them.

#include <QString>
#include <optional>
#include <utility>

namespace x45 {

class [[nodiscard]] Status {
public:
    Status() = default;
    static Status ok() { return {}; }
    static Status fail(QString message) {
        Status s;
        s.failed_ = true;
        s.message_ = std::move(message);
        return s;
    }
    [[nodiscard]] bool isOk() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    [[nodiscard]] const QString& message() const { return message_; }

private:
    bool failed_ = false;
    QString message_;
};

template <class T>
class [[nodiscard]] Result {
public:
    // A value: the operation succeeded.
    Result(T value) : value_(std::move(value)) {} // NOLINT(google-explicit-constructor)
    // A failure: its Status carries the message.
    Result(Status failure) : failure_(std::move(failure)) {} // NOLINT(google-explicit-constructor)
    static Result fail(QString message) { return Result(Status::fail(std::move(message))); }

    [[nodiscard]] bool isOk() const { return value_.has_value(); }
    explicit operator bool() const { return value_.has_value(); }
    [[nodiscard]] const QString& message() const { return failure_.message(); }
    [[nodiscard]] const Status& status() const { return failure_; }

    [[nodiscard]] T& value() & { return *value_; }
    [[nodiscard]] const T& value() const& { return *value_; }
    [[nodiscard]] T&& value() && { return std::move(*value_); }
    [[nodiscard]] T* operator->() { return &*value_; }
    [[nodiscard]] const T* operator->() const { return &*value_; }
    [[nodiscard]] T& operator*() & { return *value_; }
    [[nodiscard]] const T& operator*() const& { return *value_; }

private:
    std::optional<T> value_;
    Status failure_;
};

} // namespace x45
