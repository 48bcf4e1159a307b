#pragma once

#include "support/HelperProcess.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

namespace velk::test {

// Runs `testFunction` of this test program again, in a child whose store finds
// a folder in place of config.key (VELK_TEST_KEY_IS_A_FOLDER is set there), so
// that its key lives in memory; the key file is put back after. Empty when the
// child passed, else its failures.
inline QString failuresOfChildWithKeyFolder(const QString& testFunction) {
    const QString keyPath = appDir() + QStringLiteral("/config.key");
    QFile key(keyPath);
    if (!key.open(QIODevice::ReadOnly)) {
        return QStringLiteral("no key file to set aside");
    }
    const QByteArray keyBytes = key.readAll();
    key.close();
    key.remove();
    const auto restore = qScopeGuard([&] {
        QDir(keyPath).removeRecursively();
        QFile back(keyPath);
        back.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        back.write(keyBytes);
    });
    QDir().mkpath(keyPath);
    QProcess child;
    endWithTest(child);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELK_TEST_KEY_IS_A_FOLDER"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {testFunction});
    if (!child.waitForFinished(120000)) {
        return QStringLiteral("the child run did not end");
    }
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0) {
        return {};
    }
    // The child's failures, without the rest of its output.
    const QStringList failures =
        QString::fromUtf8(child.readAll())
            .split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^(FAIL!|   Actual|   Expected|   Loc)")));
    return failures.isEmpty() ? QStringLiteral("the child run failed") : failures.join(QLatin1Char('\n'));
}

} // namespace velk::test
