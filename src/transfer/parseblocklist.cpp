#include "transfer/parseblocklist.h"

#include "blocks/eepblock.h"
#include "blocks/number.h"

#include <optional>

namespace x45 {

namespace {

// Commas and semicolons become blanks, runs of hyphens and runs of blanks collapse to one, and
// the ends are trimmed of blanks.
QString normalised(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text) {
        if (c == u',' || c == u';') c = u' ';
        if ((c == u'-' || c == u' ') && !s.isEmpty() && s.back() == c) continue;
        s.append(c);
    }
    qsizetype from = 0, to = s.size();
    while (from < to && s.at(from) == u' ')
        ++from;
    while (to > from && s.at(to - 1) == u' ')
        --to;
    return s.mid(from, to - from);
}

Status outOfRange(const QString& token) {
    return Status::fail(ErrorKind::BadInput,
                        QStringLiteral("\"%1\" in the typed list is not a block number within "
                                       "%2; nothing was read. Correct the list and try again.")
                            .arg(token, blockNumberRange()));
}

Status tooMany() {
    return Status::fail(ErrorKind::BadInput, QStringLiteral("The typed list names more than %1 blocks; nothing was "
                                       "read. Shorten the list or its ranges and try again.")
                            .arg(MaxListedBlocks));
}

std::optional<qint32> blockNumber(const QString& text) {
    if (const auto value = toInt16(readNumber(text, {.exponent = true}))) return *value;
    return std::nullopt;
}

} // namespace

Result<QVector<qint32>> parseBlockList(const QString& text) {
    const QString s = normalised(text);
    QVector<qint32> found;
    qsizetype hyphen = -2; // next hyphen at or after p; -2 while not yet searched
    qsizetype p = 0;
    // The body runs at least once: a list of separators only reads as the single number 0.
    do {
        if (hyphen != -1 && hyphen < p)
            hyphen =
                s.indexOf(u'-', p); // searched again only once passed, so long lists stay linear
        const qsizetype blank = s.indexOf(u' ', p);
        const qsizetype end = blank < 0 ? s.size() : blank;
        if (hyphen >= 0 && hyphen < end) {
            const QString token = s.mid(p, end - p);
            const auto lo = blockNumber(s.mid(p, hyphen - p));
            const auto hi = blockNumber(s.mid(hyphen + 1, end - hyphen - 1));
            if (!lo || !hi) return outOfRange(token);
            if (*lo <= *hi) {
                if (found.size() + (*hi - *lo + 1) > MaxListedBlocks) return tooMany();
                for (qint32 n = *lo; n <= *hi; ++n)
                    found.append(n);
            }
        } else {
            const QString token = s.mid(p, end - p);
            const auto n = blockNumber(token);
            if (!n) return outOfRange(token);
            if (found.size() + 1 > MaxListedBlocks) return tooMany();
            found.append(*n);
        }
        p = blank < 0 ? s.size() : blank + 1;
    } while (p < s.size());
    return found;
}

namespace {

Status notABlock(const QString& token, const QString& why) {
    return Status::fail(ErrorKind::BadInput,
                        QStringLiteral("\"%1\" in the block list %2; nothing was sent. Give "
                                       "block numbers (decimal, &H hexadecimal or &O octal, "
                                       "0..%3) and ranges such as 7-9, separated by blanks, "
                                       "commas or semicolons.")
                            .arg(token, why)
                            .arg(HighestBlockNumber));
}

// One number of a strict token, or nullopt when it is none or outside 0..HighestBlockNumber.
std::optional<qint32> strictNumber(const QString& text) {
    const auto value = readStrictNumber(text, false);
    if (!value || *value > HighestBlockNumber) return std::nullopt;
    return static_cast<qint32>(*value);
}

} // namespace

Result<QVector<qint32>> parseBlockListStrict(const QString& text) {
    QString s = text;
    s.replace(u',', u' ').replace(u';', u' ');
    const QStringList tokens = s.split(u' ', Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        return Status::fail(ErrorKind::BadInput,
                            QStringLiteral("The block list \"%1\" names no block; nothing was "
                                           "sent.")
                                .arg(text));
    QVector<qint32> found;
    for (const QString& token : tokens) {
        const qsizetype hyphen = token.indexOf(u'-');
        if (hyphen < 0) {
            const auto n = strictNumber(token);
            if (!n) return notABlock(token, QStringLiteral("is not a block number"));
            if (found.size() + 1 > MaxListedBlocks) return tooMany();
            found.append(*n);
            continue;
        }
        qsizetype after = hyphen;
        while (after < token.size() && token.at(after) == u'-')
            ++after;
        const auto lo = strictNumber(token.left(hyphen));
        const auto hi = strictNumber(token.mid(after));
        if (!lo || !hi)
            return notABlock(token, QStringLiteral("is not a range of two block numbers"));
        if (*lo > *hi) return notABlock(token, QStringLiteral("is a range that runs downwards"));
        if (found.size() + (*hi - *lo + 1) > MaxListedBlocks) return tooMany();
        for (qint32 n = *lo; n <= *hi; ++n)
            found.append(n);
    }
    return found;
}

QString blockNamesText(const QVector<qint32>& ids, qsizetype most) {
    QStringList parts;
    for (qsizetype i = 0; i < ids.size() && i < most; ++i)
        parts << QString::number(ids[i]);
    QString text = parts.join(QStringLiteral(", "));
    if (ids.size() > most) text += QStringLiteral(", ... (%1 blocks)").arg(ids.size());
    return text;
}

} // namespace x45
