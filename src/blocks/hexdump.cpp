#include "hexdump.h"

namespace x45::hexdump {

qsizetype rowCount(qsizetype size) {
    return size <= 0 ? 0 : (size + RowBytes - 1) / RowBytes;
}

int rowLength(qsizetype size, qsizetype row) {
    if (row < 0) return 0;
    const qsizetype left = size - rowOffset(row);
    return left <= 0 ? 0 : static_cast<int>(qMin<qsizetype>(left, RowBytes));
}

QString offsetText(qsizetype offset) {
    return QStringLiteral("%1").arg(offset, 8, 16, QLatin1Char('0')).toUpper();
}

QString byteText(quint8 value) {
    static const char digits[] = "0123456789ABCDEF";
    const QChar text[2] = {QLatin1Char(digits[value >> 4]), QLatin1Char(digits[value & 0xF])};
    return QString(text, 2);
}

QChar asciiChar(quint8 value) {
    return value >= 0x20 && value <= 0x7E ? QLatin1Char(static_cast<char>(value))
                                          : QLatin1Char('.');
}

QString rowHexText(const ByteStr& bytes, qsizetype row) {
    return rangeHexText(bytes, rowOffset(row), rowLength(bytes.size(), row));
}

QString rowAsciiText(const ByteStr& bytes, qsizetype row) {
    const int n = rowLength(bytes.size(), row);
    QString text;
    text.reserve(n);
    for (int i = 0; i < n; ++i)
        text.append(asciiChar(byteAt(bytes, rowOffset(row) + i)));
    return text;
}

QString rangeHexText(const ByteStr& bytes, qsizetype from, qsizetype count) {
    const qsizetype size = bytes.size();
    if (count <= 0 || from >= size) return {};
    const qsizetype begin = qMax<qsizetype>(from, 0);
    const qsizetype end = count >= size - from ? size : from + count;
    QString text;
    text.reserve((end - begin) * 3);
    for (qsizetype i = begin; i < end; ++i) {
        if (i > begin)
            text.append((i - begin) % RowBytes == 0 ? QLatin1Char('\n') : QLatin1Char(' '));
        text.append(byteText(byteAt(bytes, i)));
    }
    return text;
}

QString dumpLine(const ByteStr& bytes, qsizetype row) {
    constexpr int HexWidth = RowBytes * 3 - 1;
    return offsetText(rowOffset(row)) + QLatin1String("  ") +
           rowHexText(bytes, row).leftJustified(HexWidth) + QLatin1String("  ") +
           rowAsciiText(bytes, row);
}

} // namespace x45::hexdump
