// Times the EEPROM file at its largest: a 32767-block dump loaded through "Load" (read, check,
// sort), its rows' texts built with descriptions, and the list saved back through "Save".

#include "blocks/descriptions.h"
#include "blocks/rowtext.h"
#include "files/eepfile.h"
#include "files/userfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

using namespace x45;

namespace {

class SilentInteraction : public Interaction {
public:
    Button message(const QString& text, const QString&, Buttons, Icon, Button b) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return b;
    }
    RewriteAnswer askRewrite(const QString&) override { return RewriteAnswer::Cancel; }
    QString askBlockList() override { return {}; }
    BlockInfoTexts askBlockInfo(const QString&) override { return {}; }
    void setStatus(const QString&) override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(int) override {}
    void setBusy(bool) override {}
};

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    // Every block number from -16384 on, shuffled, with lengths as a full phone might have them.
    std::mt19937 gen(7);
    BlockList blocks;
    blocks.reserve(MaxBlocks);
    for (int i = 0; i < MaxBlocks; ++i) {
        QByteArray data(static_cast<int>(gen() % 64), '\0');
        for (auto& c : data)
            c = static_cast<char>(gen());
        blocks.append({static_cast<qint16>(i - 16384), data, static_cast<quint8>(gen())});
    }
    std::shuffle(blocks.begin(), blocks.end(), gen);
    const QString source = dir.filePath(QStringLiteral("big.eep"));
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly) || f.write(serializeEep(blocks, 0x0451)) < 0) return 1;
    }

    Descriptions table;
    QByteArray dsc;
    for (int i = 0; i < 2000; ++i)
        dsc += QByteArray::number(i * 7 - 5000) + "\r\nDescription " + QByteArray::number(i) +
               "\r\n" + QByteArray::number(i % 3 ? 0x0451 : 0) + "\r\n";
    table.parse(dsc);

    SilentInteraction ui;
    Workspace ws;
    QElapsedTimer t;
    t.start();
    LoadReport report;
    const Result<LoadOutcome> loaded = loadUserFiles({source}, ws.UserBlocks, ws.UserHWid, ui, report);
    if (!loaded || loaded.value() != LoadOutcome::Loaded || ws.UserBlocks.size() != MaxBlocks)
        return 1;
    const double loadMs = ms(t);

    t.restart();
    qsizetype cells = 0;
    for (const EEPBlock& b : std::as_const(ws.UserBlocks))
        cells += rowTexts(b, table.describe(b.BlockId, ws.UserHWid, true)).size();
    const double rowsMs = ms(t);

    t.restart();
    if (!saveUserFiles(dir.filePath(QStringLiteral("back.eep")), ws.UserBlocks, ws.UserHWid, {}, ui)) return 1;
    const double saveMs = ms(t);

    std::printf("eep load (%lld blocks, %lld bytes, merge+sort): %.1f ms\n",
                static_cast<long long>(ws.UserBlocks.size()),
                static_cast<long long>(QFile(source).size()), loadMs);
    std::printf("rows with descriptions (%lld cells): %.1f ms\n", static_cast<long long>(cells),
                rowsMs);
    std::printf("eep save (safe replace): %.1f ms\n", saveMs);
    const bool ok = loadMs < 1000 && rowsMs < 1000 && saveMs < 1000;
    std::printf("goal: each well under a second: %s\n", ok ? "met" : "MISSED");
    return ok ? 0 : 1;
}
