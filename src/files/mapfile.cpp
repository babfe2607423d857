#include "files/mapfile.h"

#include "blocks/number.h"
#include "files/blockfile.h"
#include "files/hexlines.h"

#include <QDir>

#include <functional>
#include <optional>

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

// The bytes of a DATA block, from the line after "DATA = {" on; `next` moves past its closing
// line. nullopt when the file ends inside the block: the closing line must be there and must not
// be the file's last. A line that is not pairs of hex digits goes to `problem`.
std::optional<ByteStr> readDataLines(const QByteArrayList& lines, qsizetype& next, Progress& ui,
                                     const std::function<void(qsizetype, QString)>& problem) {
    ByteStr data;
    for (;;) {
        if (next >= lines.size()) return std::nullopt;
        const QByteArray& dataLine = lines[next++];
        ui.readProgress(next, lines.size());
        if (next >= lines.size()) return std::nullopt;
        if (TrimBlanks(dataLine) == "}") return data;
        // Comments are not stripped here: a line with one contributes no bytes.
        const QByteArray compact = RemoveSpaces(RemoveHexPrefix(dataLine));
        if (const QString fault = hexLineFault(compact); !fault.isEmpty())
            problem(next, QStringLiteral("data line: %1").arg(fault));
        data += HexToBytes(compact);
    }
}

} // namespace

namespace {

// One mapping file read line by line into a copy of the list, so that a rejected file leaves the
// list as it was.
class MapReader {
public:
    MapReader(const QByteArray& bytes, const QString& path, LoadContext& ctx)
        : ctx_(ctx), title_(FileTitleOf(path)), shownPath_(QDir::toNativeSeparators(path)),
          lines_(SplitLines(bytes)), blocks_(ctx.startingList()) {}

    StepResult run() {
        while (next_ < lines_.size()) {
            const QByteArray line = withoutComment(TrimBlanks(lines_[next_++]));
            ctx_.ui.readProgress(next_, lines_.size());
            if (line.isEmpty()) continue;
            if (auto step = lineStep(line)) return std::move(*step);
        }
        ctx_.blocks = blocks_;
        ctx_.hwid = hwid_;
        return FileStep::Continue;
    }

private:
    // What one line makes of the load: nullopt to go on with the next line.
    std::optional<StepResult> lineStep(const QByteArray& line) {
        if (line.size() >= 2 && line.startsWith('[') && line.endsWith(']')) {
            const QByteArray numberText = line.mid(1, line.size() - 2);
            if (ReadNumber(textOf(numberText)) > 0) return section(numberText);
        }
        const KeyValue kv = splitKeyValue(line);
        if (kv.key == "DATA" && kv.value == "{") return data();
        if (kv.key == "VERSION") return version(kv);
        if (kv.key == "OFFSET") {
            if (ReadNumber(textOf(kv.value)) > 0 && currentIsLastAndEmpty()) {
                blocks_.removeLast();
                current_ = -1;
            }
        } else if (kv.key == "SERVICE") {
            if (ReadNumber(textOf(kv.value)) == 0) service();
        } else if (kv.key == "PRODUCT") {
            checkNumber(kv);
            const auto product = toHWid(ReadNumber(textOf(kv.value)));
            if (!product)
                return reject(QStringLiteral("sets PRODUCT to \"%1\", outside -32768..65535")
                                  .arg(textOf(kv.value)));
            hwid_ = *product;
        }
        return std::nullopt;
    }

    // "[n]": block n becomes the current block, added when the list does not hold it yet.
    std::optional<StepResult> section(const QByteArray& numberText) {
        const auto blockId = toInt16(ReadNumber(textOf(numberText)));
        if (!blockId)
            return reject(QStringLiteral("names block \"%1\", outside 1..32767")
                              .arg(textOf(numberText)));
        current_ = findBlock(blocks_, *blockId);
        if (current_ < 0) {
            if (blocks_.size() >= MaxBlocks)
                return reject(QStringLiteral("adds a block beyond the %1 the User's list can hold")
                                  .arg(MaxBlocks));
            blocks_.append(EEPBlock{*blockId, {}, 0});
            current_ = blocks_.size() - 1;
        }
        return std::nullopt;
    }

    // "DATA = {": the current block's bytes; a file that ends inside them empties the list.
    std::optional<StepResult> data() {
        const auto problem = [this](qsizetype lineNo, const QString& what) {
            this->problem(lineNo, what);
        };
        const std::optional<ByteStr> bytes = readDataLines(lines_, next_, ctx_.ui, problem);
        if (bytes) {
            if (current_ >= 0) blocks_[current_].Data = *bytes;
            return std::nullopt;
        }
        ctx_.blocks.clear();
        ctx_.hwid = hwid_;
        ctx_.endReason = QStringLiteral("\"%1\" ends inside a data block (Possible corrupted "
                                        "mapping file!); the User's list was emptied")
                             .arg(shownPath_);
        ctx_.ui.message(QStringLiteral("Possible corrupted mapping file!"), QString(), Buttons::Ok,
                        Icon::Critical, Button::Ok);
        return StepResult(FileStep::EndLoad);
    }

    std::optional<StepResult> version(const KeyValue& kv) {
        checkNumber(kv);
        if (current_ < 0) return std::nullopt;
        const auto version = toUInt8(ReadNumber(textOf(kv.value)));
        if (!version)
            return reject(
                QStringLiteral("sets VERSION to \"%1\", outside 0..255").arg(textOf(kv.value)));
        blocks_[current_].BlockVer = *version;
        return std::nullopt;
    }

    // "SERVICE = 0": a block usually skipped; the person is asked once per file.
    void service() {
        if (answer_ == Answer::NotAsked) {
            const bool include = ctx_.ui.askYesNo(
                YesNoQuestion::IncludeSkipped,
                QStringLiteral("File \"%1\" contains blocks usually skipped by original InitMap "
                               "software.\rInclude them in the list?")
                    .arg(title_),
                QString(), Icon::Question);
            answer_ = include ? Answer::Yes : Answer::No;
        }
        if (answer_ == Answer::No) {
            if (currentIsLastAndEmpty()) blocks_.removeLast();
            current_ = -1;
        }
    }

    [[nodiscard]] StepResult reject(const QString& what) const {
        return StepResult::fail(
            QStringLiteral("The mapping file \"%1\" cannot be loaded: line %2 %3. The User's "
                           "list was left as it was; correct the file and load again.")
                .arg(shownPath_)
                .arg(next_)
                .arg(what));
    }
    void problem(qsizetype lineNo, const QString& what) {
        if (ctx_.problems)
            ctx_.problems->append({shownPath_, int(lineNo), textOf(lines_[lineNo - 1]), what});
    }
    // VERSION and PRODUCT take one number; "VERSION=3" (the digit eaten with the skipped
    // character) or "VERSION = three" is reported.
    void checkNumber(const KeyValue& kv) {
        if (!ReadStrictNumber(textOf(kv.value), true))
            problem(next_, QStringLiteral("%1 does not hold one number; it was read as %2")
                               .arg(textOf(kv.key))
                               .arg(ReadNumber(textOf(kv.value))));
    }
    [[nodiscard]] bool currentIsLastAndEmpty() const {
        return current_ >= 0 && current_ == blocks_.size() - 1 && blocks_[current_].Data.isEmpty();
    }

    LoadContext& ctx_;
    const QString title_;
    const QString shownPath_;
    const QByteArrayList lines_;
    BlockList blocks_;
    quint16 hwid_ = 0;
    qsizetype next_ = 0;
    qsizetype current_ = -1; // position of the current block, -1 for none
    Answer answer_ = Answer::NotAsked;
};

} // namespace

StepResult readMapText(const QByteArray& bytes, const QString& path, LoadContext& ctx) {
    return MapReader(bytes, path, ctx).run();
}

StepResult loadMapFile(const QString& path, LoadContext& ctx) {
    QByteArray bytes;
    if (auto step = readForLoad(path, bytes, ctx)) return std::move(*step);
    return readMapText(bytes, path, ctx);
}

} // namespace x45
