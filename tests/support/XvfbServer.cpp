#include "support/XvfbServer.h"

#include "support/HelperProcess.h"

#include <QStandardPaths>
#include <QTest>

namespace velk::test {

QString XvfbServer::skipReason() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        return QStringLiteral("Xvfb and xdotool are needed (scripts/install-deps.sh installs both)");
    }
    return {};
}

bool XvfbServer::start(const QStringList& args, QString* error) {
    endWithTest(m_process);
    // Xvfb picks a free display and writes its number to stdout.
    m_process.start(QStringLiteral("Xvfb"),
                    QStringList{QStringLiteral("-displayfd"), QStringLiteral("1")} + args);
    if (!m_process.waitForStarted() ||
        !QTest::qWaitFor(
            [this] { return m_process.canReadLine() || m_process.state() == QProcess::NotRunning; }, 30000) ||
        !m_process.canReadLine()) {
        if (error) {
            *error = QString::fromLocal8Bit(m_process.readAllStandardError());
        }
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(m_process.readLine()).trimmed();
    return true;
}

bool XvfbServer::xdotool(const QStringList& args, QString* out) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return false;
    }
    if (out) {
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    return true;
}

void XvfbServer::stop() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

} // namespace velk::test
