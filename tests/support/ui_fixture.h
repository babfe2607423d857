#pragma once
// Shared set-up of the window tests: a MainForm over a port of the test's choosing, questions
// answered from a ScriptedInteraction, and lookups of controls by objectName.

#include "scripted.h"

#include "ui/blocklistmodel.h"
#include "ui/blocklistview.h"
#include "ui/mainform.h"
#include "ui/widgetinteraction.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace x45::test {

// The control with this objectName on the widget, failing the test when there is none.
template <class T> T* control(QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no control named " << name;
    return found;
}

inline x45::ui::MainForm* makeForm(SerialPort& port, ScriptedInteraction& script) {
    auto* form = new x45::ui::MainForm(port);
    form->interaction().setAnswerer(&script);
    form->setAttribute(Qt::WA_DeleteOnClose, false);
    form->show();
    return form;
}

// Runs `check` on the modal widget that the next action opens, once it is shown; the check must
// close it. Polls so that dialogs opened after a few event-loop turns are found too.
inline void onNextModal(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            check(modal);
        }
    });
    timer->start();
}

inline EEPBlock block(qint16 id, QByteArray data, quint8 version = 0) {
    return EEPBlock{id, std::move(data), version};
}

// Puts a list in place and fills its view, as a load would.
inline void fillUser(x45::ui::MainForm& form, const BlockList& list) {
    form.workspace().UserBlocks = list;
    form.FillUserEEPList();
}
inline void fillPhone(x45::ui::MainForm& form, const BlockList& list) {
    form.workspace().PhoneBlocks = list;
    form.FillPhoneEEPList();
}

} // namespace x45::test
