#include "files/mapfile.h"

#include "blocks/blocklist.h"
#include "blocks/number.h"
#include "files/hexlines.h"
#include "files/inputfile.h"
#include "files/syspath.h"

#include <optional>

namespace x45 {

namespace {

struct KeyValue {
    QByteArray key; // upper case
    QByteArray value;
    QByteArray skipped; // "KEY=value": the character after "=" that was passed over, if any
};

// "KEY = value" skips exactly one character after "=" (a blank in files InitMap writes, so
// "KEY=value" loses the first character of its value); otherwise the first blank, then the
// first tab, separates key and value.
KeyValue splitKeyValue(const QByteArray& line) {
    qsizetype cut = line.indexOf('=');
    if (cut >= 0)
        return {trimTrailingBlanks(line.left(cut)).toUpper(), trimLeadingBlanks(line.mid(cut + 2)),
                line.mid(cut + 1, 1)};
    cut = line.indexOf(' ');
    if (cut < 0) cut = line.indexOf('\t');
    if (cut < 0) return {};
    return {trimTrailingBlanks(line.left(cut)).toUpper(), trimLeadingBlanks(line.mid(cut + 1)), {}};
}

// A line without its comment: everything from the first ";" and the blanks before it.
QByteArray withoutComment(const QByteArray& line) {
    const qsizetype at = line.indexOf(';');
    return at < 0 ? line : trimTrailingBlanks(line.left(at));
}

enum class Answer { NotAsked, Yes, No };


// One mapping file read line by line into a copy of the list, so that a rejected file leaves the
// list as it was.
class MapReader {
public:
    MapReader(const QByteArray& bytes, const QString& path, LoadContext& ctx)
        : ctx_(ctx), title_(fileTitleOf(path)), shownPath_(shownName(path)),
          lines_(splitLines(bytes)), blocks_(ctx.startingList()) {
        checkText(bytes);
    }

    StepResult run() {
        qsizetype firstContent = 0;
        while (next_ < lines_.size()) {
            const QByteArray line = withoutComment(trimBlanks(lines_[next_++]));
            ctx_.ui.readProgress(next_, lines_.size());
            if (line.isEmpty()) continue;
            if (firstContent == 0) firstContent = next_;
            if (auto step = lineStep(line)) return std::move(*step);
        }
        if (firstContent > 0 && !sectionSeen_)
            problem(firstContent, QStringLiteral("the file holds no block: no line \"[n]\" names "
                                                 "a block number above 0, so nothing was taken "
                                                 "from it"));
        ctx_.blocks = blocks_;
        ctx_.hwid = hwid_;
        return nextFile();
    }

private:
    // A byte-order mark or NUL bytes (a UTF-16 or binary file): the lines are not 8-bit text and
    // read as something else than was meant.
    void checkText(const QByteArray& bytes) {
        if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") ||
            bytes.startsWith("\xEF\xBB\xBF")) {
            problem(1, QStringLiteral("the file starts with a Unicode byte-order mark; it is not "
                                      "8-bit text and its lines do not read as they were meant"));
            return;
        }
        for (qsizetype i = 0; i < lines_.size(); ++i)
            if (lines_[i].contains('\0')) {
                problem(i + 1, QStringLiteral("NUL bytes: the file is not 8-bit text (binary, or "
                                              "UTF-16) and its lines do not read as they were "
                                              "meant"));
                return;
            }
    }

    // What one line makes of the load: nullopt to go on with the next line.
    std::optional<StepResult> lineStep(const QByteArray& line) {
        if (line.size() >= 2 && line.startsWith('[') && line.endsWith(']')) {
            const QByteArray numberText = line.mid(1, line.size() - 2);
            if (readNumber(textOf(numberText)) > 0) return section(numberText);
            // Names no block, so the block of the section before stays current.
            strayHeader_ = next_;
        }
        const KeyValue kv = splitKeyValue(line);
        if (kv.key == "DATA") {
            if (kv.value == "{") return data();
            problem(next_, QStringLiteral("a data block starts with \"DATA = {\" (a blank after "
                                          "\"=\"); this line starts none, so the lines up to "
                                          "\"}\" gave no bytes"));
        }
        if (kv.key == "VERSION") return version(kv);
        if (kv.key == "OFFSET") {
            checkSkipped(kv);
            if (readNumber(textOf(kv.value)) > 0 && currentIsLastAndEmpty()) {
                changingCurrent();
                blocks_.removeLast();
                current_ = -1;
            }
        } else if (kv.key == "SERVICE") {
            checkSkipped(kv);
            if (readNumber(textOf(kv.value)) == 0) service();
        } else if (kv.key == "PRODUCT") {
            if (checkSkipped(kv)) checkNumber(kv);
            const auto product = toHWid(readNumber(textOf(kv.value)));
            if (!product)
                return reject(QStringLiteral("sets PRODUCT to \"%1\", outside -32768..65535")
                                  .arg(textOf(kv.value)));
            hwid_ = *product;
        }
        return std::nullopt;
    }

    // "[n]": block n becomes the current block, added when the list does not hold it yet.
    std::optional<StepResult> section(const QByteArray& numberText) {
        const auto blockId = toInt16(readNumber(textOf(numberText)));
        if (!blockId)
            return reject(QStringLiteral("names block \"%1\", outside 1..%2")
                              .arg(textOf(numberText))
                              .arg(HighestBlockNumber));
        current_ = findBlock(blocks_, *blockId);
        if (current_ < 0) {
            const Result<PutBlock> put = putBlock(blocks_, EEPBlock{*blockId, {}, 0});
            if (!put)
                return reject(QStringLiteral("adds a block beyond the %1 the User's list can hold")
                                  .arg(MaxBlocks));
            current_ = put->row;
        }
        sectionSeen_ = true;
        strayHeader_ = 0;
        return std::nullopt;
    }

    // The bytes of a DATA block, from the line after "DATA = {" on, up to and past its closing
    // line. nullopt when the file ends inside the block: the closing line must be there and must
    // not be the file's last. A line that is not pairs of hex digits is reported.
    std::optional<ByteStr> dataLines() {
        ByteStr data;
        for (;;) {
            if (next_ >= lines_.size()) return std::nullopt;
            const QByteArray& dataLine = lines_[next_++];
            ctx_.ui.readProgress(next_, lines_.size());
            if (next_ >= lines_.size()) return std::nullopt;
            if (trimBlanks(dataLine) == "}") return data;
            // Comments are not stripped here: a line with one contributes no bytes.
            const QByteArray compact = removeSpaces(removeHexPrefix(dataLine));
            if (const Status fault = checkHexLine(compact); !fault)
                problem(next_, QStringLiteral("data line: %1").arg(fault.message()));
            data += hexToBytes(compact);
        }
    }

    // "DATA = {": the current block's bytes; a file that ends inside them empties the list.
    std::optional<StepResult> data() {
        const qsizetype dataLine = next_;
        const std::optional<ByteStr> bytes = dataLines();
        if (bytes) {
            if (current_ >= 0) {
                changingCurrent();
                blocks_[current_].Data = *bytes;
            } else if (strayHeader_ > 0 && !bytes->isEmpty()) {
                problem(strayHeader_, QStringLiteral("names no block number above 0, so the data "
                                                     "of line %1 went to no block")
                                          .arg(dataLine));
                strayHeader_ = 0;
            }
            return std::nullopt;
        }
        ctx_.blocks.clear();
        ctx_.hwid = hwid_;
        ctx_.ui.message(QStringLiteral("Possible corrupted mapping file!"), QString(), Buttons::Ok,
                        Icon::Critical, Button::Ok);
        return StepResult(endLoad(QStringLiteral("\"%1\" ends inside a data block (Possible "
                                                 "corrupted mapping file!); the User's list was "
                                                 "emptied")
                                      .arg(shownPath_)));
    }

    std::optional<StepResult> version(const KeyValue& kv) {
        if (checkSkipped(kv)) checkNumber(kv);
        if (current_ < 0) return std::nullopt;
        const auto version = toUInt8(readNumber(textOf(kv.value)));
        if (!version)
            return reject(
                QStringLiteral("sets VERSION to \"%1\", outside 0..255").arg(textOf(kv.value)));
        changingCurrent();
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
            if (currentIsLastAndEmpty()) {
                changingCurrent();
                blocks_.removeLast();
            }
            current_ = -1;
        }
    }

    [[nodiscard]] StepResult reject(const QString& what) const {
        return StepResult::fail(
            ErrorKind::BadInput,
            QStringLiteral("The mapping file \"%1\" cannot be loaded: line %2 %3. The User's "
                           "list was left as it was; correct the file and load again.")
                .arg(shownPath_)
                .arg(next_)
                .arg(what));
    }
    void problem(qsizetype lineNo, const QString& what) {
        noteProblem(ctx_.problems, {shownPath_, int(lineNo), lineExcerpt(lines_[lineNo - 1]), what});
    }
    // A line is about to change the current block: after a header that named no block, that is
    // the block of an earlier section, which is reported.
    void changingCurrent() {
        if (strayHeader_ == 0) return;
        problem(strayHeader_, QStringLiteral("names no block number above 0, so the lines after "
                                             "it changed block %1 of the section before it")
                                  .arg(blocks_[current_].BlockId));
        strayHeader_ = 0;
    }
    // "KEY=value" passes over the character after "=", a blank in the files InitMap writes;
    // any other character is part of the value and lost ("VERSION=13" reads as 3). False when
    // reported.
    bool checkSkipped(const KeyValue& kv) {
        if (kv.skipped.isEmpty() || kv.skipped == " " || kv.skipped == "\t") return true;
        problem(next_, QStringLiteral("the \"%1\" right after \"=\" is passed over, so %2 was "
                                      "read as %3")
                           .arg(lineExcerpt(kv.skipped), textOf(kv.key))
                           .arg(readNumber(textOf(kv.value))));
        return false;
    }
    // VERSION and PRODUCT take one number; "VERSION =" or "VERSION = three" is reported.
    void checkNumber(const KeyValue& kv) {
        if (!readStrictNumber(textOf(kv.value), true))
            problem(next_, QStringLiteral("%1 does not hold one number; it was read as %2")
                               .arg(textOf(kv.key))
                               .arg(readNumber(textOf(kv.value))));
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
    qsizetype strayHeader_ = 0; // line of a "[...]" naming no block since the last section, or 0
    bool sectionSeen_ = false;
    Answer answer_ = Answer::NotAsked;
};

} // namespace

StepResult readMapText(const QByteArray& bytes, const QString& path, LoadContext& ctx) {
    return MapReader(bytes, path, ctx).run();
}

StepResult loadMapFile(const QString& path, LoadContext& ctx) {
    const Result<InputFile> file = readInputFile(path);
    if (!file) return file.status();
    if (file->bytes.isEmpty()) return absentFileStep(path);
    return readMapText(file->bytes, path, ctx);
}

} // namespace x45
