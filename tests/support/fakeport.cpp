#include "fakeport.h"

namespace x45::test {

bool FakePort::open(QString* error) {
    if (!openFailure_.isEmpty()) {
        if (error) *error = std::exchange(openFailure_, {});
        return false;
    }
    openLine();
    return true;
}

void FakePort::write(const QByteArray& bytes) {
    if (!isOpen()) return;
    writes << bytes;
    writeBauds << baud_;
    if (scripts_.empty()) {
        if (onWrite) onWrite(bytes);
        return;
    }
    const Script script = std::move(scripts_.front());
    scripts_.pop_front();
    int at = 0;
    for (const Chunk& c : script) {
        at += c.delayMs;
        deliver(c.bytes, at);
    }
}

} // namespace x45::test
