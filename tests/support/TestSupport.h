#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>

namespace velk::test {

// Folder of the running test program: config.ini, logs/ and cache/ live here.
inline QString appDir() { return QCoreApplication::applicationDirPath(); }

// A fresh, empty sub-folder of the test program's folder.
inline QString freshDir(const QString& name) {
    QDir dir(appDir() + QStringLiteral("/") + name);
    dir.removeRecursively();
    QDir().mkpath(dir.absolutePath());
    return dir.absolutePath();
}

} // namespace velk::test
