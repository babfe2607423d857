// The hex text reader of .txt block files on any bytes; and the input taken as block data
// survives writing as hex text and reading back.

#include "files/blockfile.h"
#include "files/hexlines.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ByteStr read = parseHexText(bytes);
    fuzz::require(read.size() <= bytes.size() / 2, "at most one byte per two characters");
    (void)hexToBytes(removeSpaces(removeHexPrefix(bytes)));
    fuzz::require(parseHexText(hexText(bytes)) == bytes, "block data survives hex text");
    return 0;
}
