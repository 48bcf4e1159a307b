#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace velk::test {

// Records the log messages of any thread while it lives and passes them on.
class MessageLog {
public:
    MessageLog() {
        s_current = this;
        m_previous = qInstallMessageHandler(&MessageLog::handler);
    }
    ~MessageLog() {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // Messages that contain `text`.
    int count(const QString& text) const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_messages.filter(text).size());
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (MessageLog* self = s_current) {
            std::lock_guard lock(self->m_mutex);
            self->m_messages.append(message);
        }
        if (s_current && s_current->m_previous) {
            s_current->m_previous(type, context, message);
        }
    }

    static inline MessageLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_messages;
};

} // namespace velk::test
