// The typed block list on any text: numbers stay within 16 bits, the count stays bounded, and
// a failure says why.

#include "fuzz_common.h"
#include "blocks/eepblock.h"
#include "transfer/parseblocklist.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Result<QVector<qint32>> numbers = parseBlockList(QString::fromLatin1(bytes));
    if (!numbers) {
        fuzz::require(!numbers.message().isEmpty(), "a refused list says why");
        return 0;
    }
    fuzz::require(numbers->size() >= 1 && numbers->size() <= MaxListedBlocks, "bounded count");
    for (const qint32 n : numbers.value())
        fuzz::require(n >= LowestBlockNumber && n <= HighestBlockNumber,
                      "every number fits 16 bits");
    return 0;
}
