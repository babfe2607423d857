#include "transfer/parseblocklist.h"

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
    return Status::fail(QStringLiteral("\"%1\" in the typed list is not a block number within "
                                       "-32768..32767; nothing was read. Correct the list and try "
                                       "again.")
                            .arg(token));
}

Status tooMany() {
    return Status::fail(QStringLiteral("The typed list names more than %1 blocks; nothing was "
                                       "read. Shorten the list or its ranges and try again.")
                            .arg(MaxListedBlocks));
}

std::optional<qint32> blockNumber(const QString& text) {
    if (const auto value = toInt16(ReadNumber(text, {.exponent = true}))) return *value;
    return std::nullopt;
}

} // namespace

Status ParseBlockList(const QString& text, QVector<qint32>& numbers) {
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

    numbers += found;
    return Status::ok();
}

} // namespace x45
