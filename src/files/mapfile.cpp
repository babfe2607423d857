#include "files/mapfile.h"

#include "blocks/number.h"
#include "files/blockfile.h"
#include "files/hexlines.h"

#include <QDir>

namespace x45 {

namespace {

struct KeyValue {
    QByteArray key; // upper case
    QByteArray value;
};

// "KEY = value" skips exactly one character after "=" (a blank in files InitMap writes, so
// "KEY=value" loses the first character of its value); otherwise the first blank, then the
// first tab, separates key and value.
KeyValue splitKeyValue(const QByteArray& line) {
    qsizetype cut = line.indexOf('=');
    qsizetype skip = 2;
    if (cut < 0) {
        skip = 1;
        cut = line.indexOf(' ');
        if (cut < 0) cut = line.indexOf('\t');
    }
    if (cut < 0) return {};
    return {TrimTrailingBlanks(line.left(cut)).toUpper(), TrimLeadingBlanks(line.mid(cut + skip))};
}

// A line without its comment: everything from the first ";" and the blanks before it.
QByteArray withoutComment(const QByteArray& line) {
    const qsizetype at = line.indexOf(';');
    return at < 0 ? line : TrimTrailingBlanks(line.left(at));
}

enum class Answer { NotAsked, Yes, No };

} // namespace

StepResult readMapText(const QByteArray& bytes, const QString& path, LoadContext& ctx) {
    const QString title = FileTitleOf(path);
    // Work on copies so that a rejected file leaves the list as it was.
    BlockList blocks = ctx.startingList();
    quint16 hwid = 0;
    qsizetype current = -1; // position of the current block, -1 for none
    Answer answer = Answer::NotAsked;

    const QByteArrayList lines = SplitLines(bytes);
    qsizetype next = 0;
    const auto reject = [&](const QString& what) {
        return StepResult::fail(
            QStringLiteral("The mapping file \"%1\" cannot be loaded: line %2 %3. The User's "
                           "list was left as it was; correct the file and load again.")
                .arg(QDir::toNativeSeparators(path))
                .arg(next)
                .arg(what));
    };
    const QString shownPath = QDir::toNativeSeparators(path);
    const auto problem = [&](qsizetype lineNo, const QString& what) {
        if (ctx.problems)
            ctx.problems->append({shownPath, int(lineNo), textOf(lines[lineNo - 1]), what});
    };
    // VERSION and PRODUCT take one number; "VERSION=3" (the digit eaten with the skipped
    // character) or "VERSION = three" is reported.
    const auto checkNumber = [&](const KeyValue& kv) {
        if (!ReadStrictNumber(textOf(kv.value), true))
            problem(next, QStringLiteral("%1 does not hold one number; it was read as %2")
                              .arg(textOf(kv.key))
                              .arg(ReadNumber(textOf(kv.value))));
    };
    const auto currentIsLastAndEmpty = [&] {
        return current >= 0 && current == blocks.size() - 1 && blocks[current].Data.isEmpty();
    };

    while (next < lines.size()) {
        const QByteArray line = withoutComment(TrimBlanks(lines[next++]));
        ctx.ui.readProgress(next, lines.size());
        if (line.isEmpty()) continue;

        if (line.size() >= 2 && line.startsWith('[') && line.endsWith(']')) {
            const QByteArray numberText = line.mid(1, line.size() - 2);
            const double number = ReadNumber(textOf(numberText));
            if (number > 0) {
                const auto blockId = toInt16(number);
                if (!blockId)
                    return reject(QStringLiteral("names block \"%1\", outside 1..32767")
                                      .arg(textOf(numberText)));
                current = findBlock(blocks, *blockId);
                if (current < 0) {
                    if (blocks.size() >= MaxBlocks)
                        return reject(QStringLiteral("adds a block beyond the %1 the User's list "
                                                     "can hold")
                                          .arg(MaxBlocks));
                    blocks.append(EEPBlock{*blockId, {}, 0});
                    current = blocks.size() - 1;
                }
                continue;
            }
        }

        const KeyValue kv = splitKeyValue(line);
        if (kv.key == "DATA" && kv.value == "{") {
            if (current >= 0) blocks[current].Data.clear();
            for (;;) {
                // A data block must be closed, and the closing line must not be the file's last.
                if (next >= lines.size()) break;
                const QByteArray& dataLine = lines[next++];
                ctx.ui.readProgress(next, lines.size());
                if (next >= lines.size()) break;
                if (TrimBlanks(dataLine) == "}") break;
                // Comments are not stripped here: a line with one contributes no bytes.
                const QByteArray compact = RemoveSpaces(RemoveHexPrefix(dataLine));
                if (const QString fault = hexLineFault(compact); !fault.isEmpty())
                    problem(next, QStringLiteral("data line: %1").arg(fault));
                if (current >= 0) blocks[current].Data += HexToBytes(compact);
            }
            if (next >= lines.size()) {
                ctx.blocks.clear();
                ctx.hwid = hwid;
                ctx.endReason = QStringLiteral("\"%1\" ends inside a data block (Possible corrupted "
                                           "mapping file!); the User's list was emptied")
                                .arg(shownPath);
                ctx.ui.message(QStringLiteral("Possible corrupted mapping file!"), QString(),
                               Buttons::Ok, Icon::Critical, Button::Ok);
                return FileStep::EndLoad;
            }
        } else if (kv.key == "VERSION") {
            checkNumber(kv);
            if (current >= 0) {
                const auto version = toUInt8(ReadNumber(textOf(kv.value)));
                if (!version)
                    return reject(QStringLiteral("sets VERSION to \"%1\", outside 0..255")
                                      .arg(textOf(kv.value)));
                blocks[current].BlockVer = *version;
            }
        } else if (kv.key == "OFFSET") {
            if (ReadNumber(textOf(kv.value)) > 0 && currentIsLastAndEmpty()) {
                blocks.removeLast();
                current = -1;
            }
        } else if (kv.key == "SERVICE") {
            if (ReadNumber(textOf(kv.value)) == 0) {
                if (answer == Answer::NotAsked) {
                    const bool include = ctx.ui.askYesNo(
                        YesNoQuestion::IncludeSkipped,
                        QStringLiteral("File \"%1\" contains blocks usually skipped by original "
                                       "InitMap software.\rInclude them in the list?")
                            .arg(title),
                        QString(), Icon::Question);
                    answer = include ? Answer::Yes : Answer::No;
                }
                if (answer == Answer::No) {
                    if (currentIsLastAndEmpty()) blocks.removeLast();
                    current = -1;
                }
            }
        } else if (kv.key == "PRODUCT") {
            checkNumber(kv);
            const auto product = toHWid(ReadNumber(textOf(kv.value)));
            if (!product)
                return reject(QStringLiteral("sets PRODUCT to \"%1\", outside -32768..65535")
                                  .arg(textOf(kv.value)));
            hwid = *product;
        }
    }

    ctx.blocks = blocks;
    ctx.hwid = hwid;
    return FileStep::Continue;
}

StepResult loadMapFile(const QString& path, LoadContext& ctx) {
    QByteArray bytes;
    if (auto step = readForLoad(path, bytes, ctx)) return std::move(*step);
    return readMapText(bytes, path, ctx);
}

} // namespace x45
