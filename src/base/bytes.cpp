#include "bytes.h"

#include <QString>

namespace x45 {

ByteStr bytesToStr(const char* data, qsizetype size) {
    return ByteStr(data, size);
}

quint8 xorSum(const ByteStr& bytes) {
    return xorSum(bytes, bytes.size());
}

quint8 xorSum(const ByteStr& bytes, qsizetype count) {
    quint8 sum = 0;
    const qsizetype n = qMin(count, bytes.size());
    for (qsizetype i = 0; i < n; ++i)
        sum ^= static_cast<quint8>(bytes.at(i));
    return sum;
}

ByteStr wordToStr(quint16 value) {
    ByteStr out;
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
    return out;
}

QString toHex(const ByteStr& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace x45
