#pragma once
// Helpers shared by the tests of blocks, files and the command line: blocks built in one line,
// lists compared by their numbers, whole files written and read, and a reader's verdict as one
// value for tables.

#include "blocks/eepblock.h"
#include "files/loadcontext.h"

#include <QFile>
#include <QString>
#include <algorithm>
#include <ostream>

namespace x45 {
// Readable blocks in test failures.
inline void PrintTo(const EEPBlock& b, std::ostream* os) {
    *os << "{" << b.BlockId << ", v" << int(b.BlockVer) << ", " << b.Data.toHex(' ').toStdString()
        << "}";
}
} // namespace x45

namespace x45::test {

inline EEPBlock blk(qint16 id, const QByteArray& data = {}, quint8 version = 0) {
    return {id, data, version};
}

// A block with `size` bytes counting up from `seed`.
inline EEPBlock makeBlock(qint16 id, int size, quint8 version = 0, int seed = 0) {
    EEPBlock b{id, {}, version};
    for (int i = 0; i < size; ++i)
        b.Data.append(static_cast<char>((seed + i * 7) & 0xFF));
    return b;
}

inline BlockList sorted(BlockList list) {
    std::sort(list.begin(), list.end(),
              [](const EEPBlock& a, const EEPBlock& b) { return a.BlockId < b.BlockId; });
    return list;
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A reader's verdict as one value, so that tables of cases can name it.
enum class Step { Continue, EndLoad, Reject };
inline Step stepOf(const StepResult& r) {
    if (!r) return Step::Reject;
    return r->endsLoad ? Step::EndLoad : Step::Continue;
}
// What the verdict says: the failure's message, or why the load ended.
inline QString wordsOf(const StepResult& r) {
    return r ? r->why : r.message();
}

// The list and hardware id a load works on, with the context handed to one file's reader.
struct LoadState {
    BlockList blocks;
    quint16 hwid = 0;
    QVector<LoadProblem> problems;
    LoadContext context(int number, Interaction& ui) { return {blocks, hwid, number, ui, &problems}; }
};

} // namespace x45::test
