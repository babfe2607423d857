#pragma once
// Small file helpers for the block-file and mapping-file tests.

#include "blocks/eepblock.h"
#include "files/loadcontext.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <ostream>

namespace x45 {
// Readable blocks in test failures.
inline void PrintTo(const EEPBlock& b, std::ostream* os) {
    *os << "{" << b.BlockId << ", v" << int(b.BlockVer) << ", " << b.Data.toHex(' ').toStdString()
        << "}";
}
} // namespace x45

namespace x45::test {

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A block with `size` bytes counting up from `seed`.
inline EEPBlock makeBlock(qint16 id, int size, quint8 version = 0, int seed = 0) {
    EEPBlock b;
    b.BlockId = id;
    b.BlockVer = version;
    for (int i = 0; i < size; ++i)
        b.Data.append(static_cast<char>((seed + i * 7) & 0xFF));
    return b;
}

// A reader's verdict as one value, so that tables of cases can name it.
enum class Step { Continue, EndLoad, Reject };
inline Step stepOf(const StepResult& r) {
    if (!r) return Step::Reject;
    return r.value() == FileStep::Continue ? Step::Continue : Step::EndLoad;
}

// The list and hardware id a load works on, with the context handed to one file's reader.
struct LoadState {
    BlockList blocks;
    quint16 hwid = 0;
    LoadContext context(int number, Interaction& ui) { return {blocks, hwid, number, ui, {}}; }
};

} // namespace x45::test
