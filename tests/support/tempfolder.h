#pragma once
// A temporary folder with small helpers to write and read whole files in it.

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace x45::test {

struct TempFolder {
    QTemporaryDir dir;

    [[nodiscard]] QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
        f.write(bytes);
        return path(name);
    }
    [[nodiscard]] QByteArray read(const QString& name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace x45::test
