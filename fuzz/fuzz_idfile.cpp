// The id file reader of single-block files: any bytes give a result, a message for damaged files,
// and what reads back writes to a text that reads back the same.

#include "files/blockfile.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    BlockIdInfo info;
    QString error;
    switch (parseIdFile(bytes, QStringLiteral("fuzz.bid"), info, error)) {
    case IdFileResult::Invalid:
        fuzz::require(!error.isEmpty(), "a damaged id file gets a message");
        break;
    case IdFileResult::MissingKeyWord:
        break;
    case IdFileResult::Ok: {
        BlockIdInfo back;
        QString again;
        fuzz::require(parseIdFile(idFileText(info), "again.bid", back, again) == IdFileResult::Ok,
                      "a written id file reads");
        fuzz::require(back.blockId == info.blockId && back.version == info.version &&
                          back.hwid == info.hwid,
                      "id values survive a round trip");
        break;
    }
    }
    return 0;
}
