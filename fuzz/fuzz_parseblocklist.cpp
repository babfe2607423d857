// The typed block list on any text: numbers stay within 16 bits, the count stays bounded, and
// a failure appends nothing.

#include "fuzz_common.h"
#include "transfer/parseblocklist.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QVector<qint32> numbers{-1};
    const Status status = ParseBlockList(QString::fromLatin1(bytes), numbers);
    if (!status) {
        fuzz::require(numbers.size() == 1 && !status.message().isEmpty(),
                      "a refused list appends nothing and says why");
        return 0;
    }
    fuzz::require(numbers.size() >= 1 && numbers.size() <= MaxListedBlocks + 1, "bounded count");
    for (const qint32 n : numbers)
        fuzz::require(n >= -32768 && n <= 32767, "every number fits 16 bits");
    return 0;
}
