// "Load" and "Save" of the User's list: choosing the files here, the work in the core.

#include "mainform.h"

#include "blocklistview.h"
#include "runsummary.h"
#include "widgetinteraction.h"

#include "blocks/blocklist.h"
#include "files/userfiles.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace x45::ui {

namespace {

// The filters of the two dialogs in Qt's syntax (patterns separated by blanks, filters by ";;").
const QString OpenFilter = QStringLiteral(
    "All supported files (*.eep *.bin *.txt *.map);;EEPROM file (*.eep);;"
    "Binary block data (*.bin);;HEX text block data (*.txt);;InitMap mappings (*.map)");
const QString SaveFilter =
    QStringLiteral("EEPROM file (*.eep);;Binary block data (*.bin);;HEX text block data (*.txt)");

// The extension a save filter names, so a typed name without one gets the chosen format's.
QString suffixOfFilter(const QString& filter) {
    const qsizetype star = filter.indexOf(QLatin1String("(*."));
    const qsizetype close = filter.indexOf(QLatin1Char(')'), star);
    if (star < 0 || close < 0) return QStringLiteral("eep");
    return filter.mid(star + 3, close - star - 3);
}

} // namespace

void MainForm::whenChosen(QFileDialog* dialog,
                          const std::function<void(const QStringList&)>& chosen) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::accepted, dialog,
            [dialog, chosen] { chosen(dialog->selectedFiles()); });
    dialog->open(); // window-modal; the window goes on
}

void MainForm::chooseUserFiles() {
    if (openChooser_) {
        loadUserFiles(openChooser_());
        return;
    }
    auto* dialog =
        new QFileDialog(this, QStringLiteral("Open EEPROM copy..."), lastFileName_, OpenFilter);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    whenChosen(dialog, [this](const QStringList& names) { loadUserFiles(names); });
}

void MainForm::loadUserFiles(QStringList names) {
    names.removeAll(QString());
    if (names.isEmpty()) return; // cancelled: nothing changes
    lastFileName_ = names.constFirst();

    LoadReport report;
    const Result<LoadOutcome> loaded =
        x45::loadUserFiles(names, ws_.UserBlocks, ws_.UserHWid, *ui_, report);
    if (!loaded) {
        // A rejected file left the list exactly as it was: the view still shows it.
        ui_->informLater(loaded.message());
        return;
    }
    if (const QString text = loadReportText(report); !text.isEmpty())
        ui_->informLater(text);
    fillUserList();

    // The files the list now comes from: those of a known kind, up to the one that ended the
    // load (its blocks were not taken).
    QStringList from;
    for (const QString& name : std::as_const(names)) {
        if (loaded.value() == LoadOutcome::EndedEarly && QDir::toNativeSeparators(name) == report.endedAt)
            break;
        if (formatOfName(name) != FileFormat::Unknown) from << name;
    }
    if (!from.isEmpty()) {
        setUserOrigin(from);
        ui_->setStatus(QStringLiteral("Loaded %1 from %2")
                           .arg(blockCount(ws_.UserBlocks.size()))
                           .arg(from.size() == 1 ? QFileInfo(from.constFirst()).fileName()
                                                 : QStringLiteral("%1 files").arg(from.size())));
    }
}

namespace {

// The local files a drag carries, in its order; empty when it carries anything else too.
QStringList droppedFiles(const QMimeData* mime) {
    QStringList names;
    if (!mime || !mime->hasUrls()) return names;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) return {};
        names << url.toLocalFile();
    }
    return names;
}

} // namespace

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched != w_.userList->viewport()) return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (w_.loadUserButton->isEnabled() && !droppedFiles(drag->mimeData()).isEmpty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList names = droppedFiles(drop->mimeData());
        if (!w_.loadUserButton->isEnabled() || names.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        loadUserFiles(names);
        return true;
    }
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

void MainForm::saveUserList() {
    if (w_.userList->rowCountShown() == 0) return;
    const QList<int> rows = w_.userList->selectedRowPositions();
    if (saveChooser_) {
        saveUserListTo(saveChooser_(), rows);
        return;
    }
    auto* dialog = new QFileDialog(this, QStringLiteral("Save EEPROM copy as..."),
                                   QFileInfo(lastFileName_).path(), SaveFilter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("eep"));
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    connect(dialog, &QFileDialog::filterSelected, dialog,
            [dialog](const QString& filter) { dialog->setDefaultSuffix(suffixOfFilter(filter)); });
    whenChosen(dialog,
               [this, rows](const QStringList& names) { saveUserListTo(names.value(0), rows); });
}

void MainForm::saveUserListTo(const QString& name, const QList<int>& rows) {
    if (name.isEmpty()) return; // cancelled: nothing written
    lastFileName_ = name;
    // The list is not changed by saving.
    const Result<QVector<PlannedFile>> saved =
        saveUserFiles(name, ws_.UserBlocks, ws_.UserHWid, rows, *ui_);
    if (!saved) {
        ui_->informLater(saved.message());
        return;
    }
    showUserSaved(name, selectedOrAll(ws_.UserBlocks.size(), rows).size(), saved.value());
}

void MainForm::showUserSaved(const QString& name, qsizetype count,
                             const QVector<PlannedFile>& written) {
    if (formatOfName(name) == FileFormat::Eep) {
        ui_->setStatus(QStringLiteral("Saved %1 to %2")
                           .arg(blockCount(count))
                           .arg(QFileInfo(name).fileName()));
        // The whole list went to the file: the list now is that file.
        if (count == ws_.UserBlocks.size()) setUserOrigin({name});
    } else {
        // A data file and its id file for every block.
        const qsizetype files = written.size() / 2;
        ui_->setStatus(files == 1 ? QStringLiteral("Saved 1 block to %1")
                                        .arg(QFileInfo(written.constFirst().path).fileName())
                                  : QStringLiteral("Saved %1 blocks to %2 single-block files in %3")
                                        .arg(files)
                                        .arg(files)
                                        .arg(QDir::toNativeSeparators(QFileInfo(name).path())));
    }
}

// --- Where the User's list comes from ----------------------------------------------------------

void MainForm::setUserOrigin(const QStringList& files) {
    userOrigin_ = files;
    userChanged_ = false;
    showUserOrigin();
}

void MainForm::markUserChanged() {
    if (userChanged_) return;
    userChanged_ = true;
    showUserOrigin();
}

QString MainForm::userListName() const {
    QStringList names;
    for (const QString& file : std::as_const(userOrigin_))
        names << QFileInfo(file).fileName();
    return names.isEmpty() ? QStringLiteral("the User's list")
                           : QStringLiteral("the User's list (%1)").arg(names.join(QStringLiteral(", ")));
}

void MainForm::showUserOrigin() {
    QStringList names;
    for (const QString& file : std::as_const(userOrigin_))
        names << QFileInfo(file).fileName();
    QString text;
    if (names.size() > 2)
        text = QStringLiteral("%1 and %2 more files").arg(names.constFirst()).arg(names.size() - 1);
    else
        text = names.join(QStringLiteral(", "));
    if (userChanged_ && !text.isEmpty()) text += QStringLiteral(" (changed)");
    w_.userOriginLabel->setText(text);

    QStringList tip;
    for (const QString& file : std::as_const(userOrigin_))
        tip << QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
    if (!tip.isEmpty())
        tip.prepend(userChanged_ ? QStringLiteral("Changed since it was loaded from or saved to:")
                                 : QStringLiteral("As loaded from or saved to:"));
    w_.userOriginLabel->setToolTip(tip.join(QLatin1Char('\n')));
}

} // namespace x45::ui
