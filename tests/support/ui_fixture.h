#pragma once
// Shared set-up of the window tests: a MainForm over a simulated phone (or a port nobody answers),
// every question answered from a ScriptedInteraction, controls found by objectName, and phone
// operations waited for until the window is idle again.

#include "blockids.h"
#include "fakeport.h"
#include "scripted.h"
#include "simport.h"

#include "files/eepfile.h"
#include "ui/blocklistmodel.h"
#include "ui/blocklistview.h"
#include "ui/mainform.h"
#include "ui/widgetinteraction.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
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

inline EEPBlock block(qint16 id, QByteArray data, quint8 version = 0) {
    return EEPBlock{id, std::move(data), version};
}

// A window over a simulated phone; `silent` puts a port no phone answers in its place. The port
// is made on the engine's thread; the test looks at it only while the window is idle.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { open(); }
    void open(bool silent = false) {
        form = std::make_unique<ui::MainForm>([this, silent]() -> std::unique_ptr<SerialPort> {
            if (silent) return std::make_unique<FakePort>();
            auto made = std::make_unique<x45sim::SimPort>(phone);
            port = made.get();
            return made;
        });
        form->interaction().setAnswerer(&script);
        form->show();
    }
    void waitIdle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->busy(); }, 60000)) << "still busy";
    }
    QAbstractButton* button(const char* name) { return control<QAbstractButton>(form.get(), name); }
    // Presses the button and waits for the operation it starts, if any.
    void press(const char* name) {
        button(name)->click();
        waitIdle();
    }
    void startSession() {
        press("StartButton");
        ASSERT_EQ(button("StartButton")->text(), "Exit");
    }
    QString status() { return form->interaction().statusText(); }
    QString label(const char* name) { return control<QLabel>(form.get(), name)->text(); }
    Workspace& ws() { return form->workspace(); }
    ui::BlockListView* phoneView() { return control<ui::BlockListView>(form.get(), "PhoneEEPList"); }
    ui::BlockListView* userView() { return control<ui::BlockListView>(form.get(), "UserEEPList"); }
    // Puts a list in place and fills its view, as a load would.
    void fillUser(const BlockList& list) {
        ws().UserBlocks = list;
        form->fillUserList();
    }
    void fillPhone(const BlockList& list) {
        ws().PhoneBlocks = list;
        form->fillPhoneList();
    }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write(bytes);
        return file.fileName();
    }

    QTemporaryDir dir;
    x45sim::SimPhone phone;
    x45sim::SimPort* port = nullptr;
    ScriptedInteraction script;
    std::unique_ptr<ui::MainForm> form;
};

} // namespace x45::test
