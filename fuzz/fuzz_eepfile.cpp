// The .eep reader: any bytes either parse or fail with a message; what parses writes back to
// bytes that parse to the same blocks and hardware id.

#include "files/eepfile.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    EepContents contents;
    const Status status = parseEep(bytes, QStringLiteral("fuzz.eep"), contents);
    if (!status) {
        fuzz::require(!status.message().isEmpty(), "a failure carries a message");
        return 0;
    }
    EepContents again;
    fuzz::require(parseEep(serializeEep(contents.blocks, contents.hwid), "again.eep", again).isOk(),
                  "a written file parses");
    fuzz::require(again.blocks == contents.blocks, "blocks survive a round trip");
    fuzz::require(again.hwid == contents.hwid, "the hardware id survives a round trip");
    return 0;
}
