#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

namespace velk::test {

// Collects every warning that names one of the project's QML files
// ("qrc:/src/ui/view/...") while it lives, and passes all messages on to the
// previous handler. One guard at a time.
class QmlWarningGuard {
public:
    QmlWarningGuard();
    ~QmlWarningGuard();
    QmlWarningGuard(const QmlWarningGuard&) = delete;
    QmlWarningGuard& operator=(const QmlWarningGuard&) = delete;

    QStringList warnings() const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_warnings;
};

} // namespace velk::test
