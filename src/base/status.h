#pragma once
// The one error pattern: an operation that can fail returns a Status whose message says what went
// wrong and what to do about it.

#include <QString>
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

} // namespace x45
