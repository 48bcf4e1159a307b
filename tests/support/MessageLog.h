#pragma once

#include <QStringList>

#include <mutex>

namespace velk::test {

// Records the log messages of any thread while it lives, and passes them on.
class MessageLog {
public:
    MessageLog() : m_previous(qInstallMessageHandler(&MessageLog::handler)) { s_current = this; }
    ~MessageLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    // Messages that contain `text`.
    int count(const QString& text) const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_messages.filter(text).size());
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        MessageLog* self = s_current;
        std::lock_guard lock(self->m_mutex);
        self->m_messages.append(message);
        self->m_previous(type, context, message);
    }

    static inline MessageLog* s_current = nullptr;
    QtMessageHandler m_previous;
    mutable std::mutex m_mutex;
    QStringList m_messages;
};

} // namespace velk::test
