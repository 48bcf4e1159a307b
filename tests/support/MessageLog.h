#pragma once

#include <QStringList>

#include <mutex>

namespace velk::test {

// Records the log messages of any thread while it lives, and passes them on
// to the handler installed before (so QTest::ignoreMessage still works).
class MessageLog {
public:
    MessageLog() : m_previous(qInstallMessageHandler(&MessageLog::handler)) { s_current = this; }
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
    bool contains(const QString& text) const { return count(text) > 0; }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        MessageLog* self = s_current;
        if (!self) {
            return;
        }
        std::lock_guard lock(self->m_mutex);
        self->m_messages.append(message);
        if (self->m_previous) {
            self->m_previous(type, context, message);
        }
    }

    static inline MessageLog* s_current = nullptr;
    QtMessageHandler m_previous;
    mutable std::mutex m_mutex;
    QStringList m_messages;
};

} // namespace velk::test
