#pragma once
// The one error type: an operation that can fail returns a Status (or a Result<T>, a value or the
// Status that says why there is none). A failed Status carries the kind of failure, for callers
// that act on it, and a message that says what went wrong and what to do about it.

#include <QString>
#include <utility>

namespace x45 {

enum class ErrorKind : unsigned char {
    Failed,      // anything the kinds below do not name
    BadInput,    // a file, a typed text or an option that does not read; the message names it
    Io,          // the system refused to open, read, write or rename a file
    Refused,     // a check refused the step before anything was done
    NoReply,     // the phone gave no acceptable reply
    NoSuchBlock, // the phone answered that the block does not exist
    PortLost,    // the serial port went away
    Stopped,     // the person stopped the run
};

class [[nodiscard]] Status {
public:
    Status() = default;
    static Status ok() { return {}; }
    static Status fail(QString message) { return fail(ErrorKind::Failed, std::move(message)); }
    static Status fail(ErrorKind kind, QString message) {
        Status s;
        s.failed_ = true;
        s.kind_ = kind;
        s.message_ = std::move(message);
        return s;
    }
    [[nodiscard]] bool isOk() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    // Only meaningful when failed.
    [[nodiscard]] ErrorKind kind() const { return kind_; }
    [[nodiscard]] bool is(ErrorKind kind) const { return failed_ && kind_ == kind; }
    [[nodiscard]] const QString& message() const { return message_; }

private:
    bool failed_ = false;
    ErrorKind kind_ = ErrorKind::Failed;
    QString message_;
};

} // namespace x45
