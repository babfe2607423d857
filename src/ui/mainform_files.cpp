// "Load" and "Save" of the User's list: choosing the files, then the core does the work.

#include "mainform.h"

#include "blocklistview.h"
#include "widgetinteraction.h"

#include <QFileDialog>

namespace x45::ui {

void MainForm::LoadUsersButton_Click() {}

void MainForm::SaveUsersButton_Click() {}

} // namespace x45::ui
