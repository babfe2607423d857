// "Load" and "Save" of the User's list: choosing the files here, the work in the core.

#include "mainform.h"

#include "blocklistview.h"
#include "widgetinteraction.h"

#include "files/userfiles.h"

#include <QFileDialog>
#include <QFileInfo>

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

void MainForm::LoadUsersButton_Click() {
    QStringList names;
    if (openChooser_) {
        names = openChooser_();
    } else {
        names = QFileDialog::getOpenFileNames(this, QStringLiteral("Open EEPROM copy..."),
                                              lastFileName_, OpenFilter);
    }
    names.removeAll(QString());
    if (names.isEmpty()) return; // cancelled: nothing changes
    lastFileName_ = names.constFirst();

    const LoadOutcome outcome = LoadUserFiles(names, ws_, *ui_);
    // A rejected file has been reported and left the list exactly as it was: the view still
    // shows it, so it is not rebuilt.
    if (outcome != LoadOutcome::Rejected) FillUserEEPList();
}

void MainForm::SaveUsersButton_Click() {
    if (w_.UserEEPList->rowCountShown() == 0) return;
    const QList<int> rows = w_.UserEEPList->selectedRowPositions();

    QString name;
    if (saveChooser_) {
        name = saveChooser_();
    } else {
        QFileDialog dialog(this, QStringLiteral("Save EEPROM copy as..."),
                           QFileInfo(lastFileName_).path(), SaveFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("eep"));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(suffixOfFilter(filter));
        });
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            name = dialog.selectedFiles().constFirst();
    }
    if (name.isEmpty()) return; // cancelled: nothing written
    lastFileName_ = name;

    // The core reports a failed save itself; the list is not changed by saving.
    (void)SaveUserFiles(name, ws_, QVector<int>(rows.begin(), rows.end()), *ui_);
}

} // namespace x45::ui
