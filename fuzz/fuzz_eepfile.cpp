// The .eep reader: any bytes either parse or fail with a message; what parses writes back to
// bytes that parse to the same blocks and hardware id.

#include "files/eepfile.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Result<EepContents> contents = parseEep(bytes, QStringLiteral("fuzz.eep"));
    if (!contents) {
        fuzz::require(!contents.message().isEmpty(), "a failure carries a message");
        return 0;
    }
    const Result<EepContents> again =
        parseEep(serializeEep(contents->blocks, contents->hwid), "again.eep");
    fuzz::require(again.isOk(), "a written file parses");
    fuzz::require(again->blocks == contents->blocks, "blocks survive a round trip");
    fuzz::require(again->hwid == contents->hwid, "the hardware id survives a round trip");
    return 0;
}
