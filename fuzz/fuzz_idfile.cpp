// The id file reader of single-block files: any bytes give a result, a message for damaged files,
// and what reads back writes to a text that reads back the same.

#include "files/blockfile.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto parsed = parseIdFile(bytes, QStringLiteral("fuzz.bid"));
    if (!parsed) {
        fuzz::require(!parsed.message().isEmpty(), "a damaged id file gets a message");
    } else if (const auto& info = parsed.value()) {
        const auto back = parseIdFile(idFileText(*info), "again.bid");
        fuzz::require(back && back.value(), "a written id file reads");
        fuzz::require(back.value()->blockId == info->blockId &&
                          back.value()->version == info->version && back.value()->hwid == info->hwid,
                      "id values survive a round trip");
    }
    return 0;
}
