#include "QmlWarningGuard.h"

namespace velk::test {

namespace {
QmlWarningGuard* g_guard = nullptr;
const QString ProjectQml = QStringLiteral("qrc:/src/ui/view/");
} // namespace

QmlWarningGuard::QmlWarningGuard() {
    g_guard = this;
    m_previous = qInstallMessageHandler(&QmlWarningGuard::handler);
}

QmlWarningGuard::~QmlWarningGuard() {
    qInstallMessageHandler(m_previous);
    g_guard = nullptr;
}

QStringList QmlWarningGuard::warnings() const {
    QMutexLocker lock(&m_mutex);
    return m_warnings;
}

void QmlWarningGuard::handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_guard && type != QtDebugMsg && type != QtInfoMsg) {
        const QString file = QString::fromUtf8(context.file ? context.file : "");
        if (message.contains(ProjectQml) || file.startsWith(ProjectQml)) {
            QMutexLocker lock(&g_guard->m_mutex);
            g_guard->m_warnings << (file.isEmpty() ? message : file + QStringLiteral(": ") + message);
        }
    }
    if (g_guard && g_guard->m_previous) {
        g_guard->m_previous(type, context, message);
    }
}

} // namespace velk::test
