#pragma once
// Text helpers shared by the block-file and mapping-file readers: hex text to bytes and back,
// blank and prefix removal, file titles and line splitting of 8-bit text files.

#include "base/bytes.h"
#include "files/loadcontext.h"

#include <QByteArrayList>
#include <QString>

namespace x45 {

// Pairs of hex digits (either case) to bytes. Any character that is not a hex digit makes the
// whole result empty; a last single character of an odd-length text is ignored.
[[nodiscard]] ByteStr hexToBytes(const QByteArray& text);

// Whether hexToBytes reads a line of hex digits (blanks already removed) in full; the failure
// (kind BadInput) says what is wrong: a character that is no hex digit, or an odd number of
// digits.
[[nodiscard]] Status checkHexLine(const QByteArray& compact);

// One line per 16 bytes, each byte as two upper-case hex digits and a blank; no line for no data.
[[nodiscard]] QByteArrayList bytesToHexLines(const ByteStr& data);

// The bytes of a .txt block file: each line with blanks removed through hexToBytes. A line that
// does not read in full is added to `problems` under `name`.
[[nodiscard]] ByteStr parseHexText(const QByteArray& text, const QString& name = {},
                                   QVector<LoadProblem>* problems = nullptr);
// The text of a .txt block file: bytesToHexLines, each line ended by CR LF.
[[nodiscard]] QByteArray hexText(const ByteStr& data);

// Removes every blank (character 32); tabs and other white space stay.
[[nodiscard]] QByteArray removeSpaces(const QByteArray& text);

// Removes every "0x" (lower-case x only).
[[nodiscard]] QByteArray removeHexPrefix(const QByteArray& text);

// The last component of a path, split at "/" as well as "\" on every platform.
[[nodiscard]] QString fileTitleOf(const QString& path);

// Lines of an 8-bit text file. CR LF, LF and a lone CR all end a line; a line end at the very end
// of the text does not start another (empty) line, so "a\r\nb\r\n" and "a\r\nb" are both two lines.
[[nodiscard]] QByteArrayList splitLines(const QByteArray& text);

// Blanks (character 32 only) trimmed at both ends, or at one.
[[nodiscard]] QByteArray trimBlanks(const QByteArray& text);
[[nodiscard]] QByteArray trimLeadingBlanks(const QByteArray& text);
[[nodiscard]] QByteArray trimTrailingBlanks(const QByteArray& text);

// The start of a line for a message: its first characters, control characters escaped, and
// "..." when the line goes on.
[[nodiscard]] QString lineExcerpt(const QByteArray& line);

// An 8-bit text as a QString (each byte one character), for number reading and messages.
[[nodiscard]] inline QString textOf(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

} // namespace x45
