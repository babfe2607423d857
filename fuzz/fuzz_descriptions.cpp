// The description file reader on any bytes, and look-ups in what it read.

#include "blocks/descriptions.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Descriptions table;
    table.parse(bytes);
    for (const DescriptionEntry& entry : table.entries()) {
        fuzz::require(table.describe(entry.blockId, entry.hwid, true).size() >= 0, "look-up");
        (void)table.describe(entry.blockId, 0, false);
    }
    (void)table.describe(20, 7, true);
    return 0;
}
