#include "files/hexlines.h"

#include "files/syspath.h"

namespace x45 {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr qsizetype BytesPerLine = 16;
// Characters of a line quoted in a message.
constexpr qsizetype ExcerptLength = 60;

} // namespace

ByteStr hexToBytes(const QByteArray& text) {
    ByteStr out;
    out.reserve(text.size() / 2);
    for (qsizetype i = 0; i + 1 < text.size(); i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return {}; // one bad character spoils the whole line
        out.append(static_cast<char>(high * 16 + low));
    }
    return out;
}

Status checkHexLine(const QByteArray& compact) {
    for (const char c : compact)
        if (hexValue(c) < 0) {
            const auto u = static_cast<unsigned char>(c);
            const QString shownChar = u >= 0x20 && u < 0x7F
                                          ? QStringLiteral("\"%1\"").arg(QLatin1Char(c))
                                          : QStringLiteral("the character 0x%1")
                                                .arg(QString::number(u, 16).toUpper().rightJustified(
                                                    2, QLatin1Char('0')));
            return Status::fail(
                ErrorKind::BadInput,
                QStringLiteral("%1 is not a hex digit; the line gave no bytes").arg(shownChar));
        }
    if (compact.size() % 2 != 0)
        return Status::fail(ErrorKind::BadInput,
                            QStringLiteral("an odd number of hex digits; the last one was dropped"));
    return Status::ok();
}

QByteArrayList bytesToHexLines(const ByteStr& data) {
    QByteArrayList lines;
    for (qsizetype start = 0; start < data.size(); start += BytesPerLine) {
        const qsizetype end = qMin(start + BytesPerLine, data.size());
        QByteArray line;
        line.reserve((end - start) * 3);
        for (qsizetype i = start; i < end; ++i) {
            const auto value = static_cast<quint8>(data[i]);
            line.append(HexDigits[value >> 4]);
            line.append(HexDigits[value & 0x0F]);
            line.append(' ');
        }
        lines.append(line);
    }
    return lines;
}

ByteStr parseHexText(const QByteArray& text, const QString& name,
                     QVector<LoadProblem>* problems) {
    ByteStr data;
    const QByteArrayList lines = splitLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray compact = removeSpaces(lines[i]);
        if (problems)
            if (const Status fault = checkHexLine(compact); !fault)
                noteProblem(problems, {name, int(i + 1), lineExcerpt(lines[i]), fault.message()});
        data += hexToBytes(compact);
    }
    return data;
}

QByteArray hexText(const ByteStr& data) {
    QByteArray text;
    for (const QByteArray& line : bytesToHexLines(data))
        text += line + QByteArrayLiteral("\r\n");
    return text;
}

QByteArray removeSpaces(const QByteArray& text) {
    QByteArray out = text;
    out.replace(' ', QByteArray());
    return out;
}

QByteArray removeHexPrefix(const QByteArray& text) {
    QByteArray out = text;
    out.replace(QByteArrayLiteral("0x"), QByteArray()); // one pass, left to right
    return out;
}

QString fileTitleOf(const QString& path) {
    const qsizetype cut =
        qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

QByteArrayList splitLines(const QByteArray& text) {
    QByteArrayList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.append(text.mid(start, i - start));
            i += (c == '\r' && i + 1 < size && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < size) lines.append(text.mid(start));
    return lines;
}

QString lineExcerpt(const QByteArray& line) {
    const QString start = escapedText(textOf(line.left(ExcerptLength)));
    return line.size() > ExcerptLength ? start + QStringLiteral("...") : start;
}

QByteArray trimLeadingBlanks(const QByteArray& text) {
    qsizetype from = 0;
    while (from < text.size() && text[from] == ' ')
        ++from;
    return text.mid(from);
}

QByteArray trimTrailingBlanks(const QByteArray& text) {
    qsizetype to = text.size();
    while (to > 0 && text[to - 1] == ' ')
        --to;
    return text.left(to);
}

QByteArray trimBlanks(const QByteArray& text) {
    return trimLeadingBlanks(trimTrailingBlanks(text));
}

} // namespace x45
