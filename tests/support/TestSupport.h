#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>
#include <thread>

#include <sys/socket.h>

namespace velk::test {

// Folder of the running test program: config.ini, logs/ and cache/ live here.
inline QString appDir() {
    return QCoreApplication::applicationDirPath();
}

// A fresh, empty sub-folder of the test program's folder.
inline QString freshDir(const QString& name) {
    QDir dir(appDir() + QStringLiteral("/") + name);
    dir.removeRecursively();
    QDir().mkpath(dir.absolutePath());
    return dir.absolutePath();
}

// Runs the event loop until `predicate` holds or the time is up. Unlike
// QTest::qWaitFor it never sleeps between rounds, so bulk transfers run at
// full speed.
inline bool waitUntil(const std::function<bool()>& predicate, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // bounds each blocking round
    wake.start(10);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// Keeps this thread from its events until `predicate` holds or the time is
// up, as a window's thread does while it is busy.
inline bool waitWithoutEvents(const std::function<bool()>& predicate, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Closes a connection abortively: the peer sees a reset (RST), not a FIN.
inline void resetConnection(QTcpSocket& socket) {
    // Linger with a zero timeout makes close() send a reset instead of a FIN.
    const linger option{1, 0};
    ::setsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &option, sizeof(option));
    socket.abort();
}

} // namespace velk::test
