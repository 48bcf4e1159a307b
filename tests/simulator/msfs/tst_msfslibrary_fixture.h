#pragma once

#include "AppConfig.h"
#include "ConfigKeys.h"
#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <condition_variable>
#include <mutex>

namespace velk::test {

using simulator::msfs::MsfsAircraftLibrary;
using simulator::msfs::MsfsRuntimeProfile;

inline bool writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// The MSFS settings of one generation.
inline void setInstall(MsfsRuntimeProfile simulator, const QString& packages, const QString& community = {},
                       const QStringList& custom = {}) {
    AppConfig* config = AppConfig::instance();
    if (simulator == MsfsRuntimeProfile::Msfs2020) {
        config->setValues(ConfigKeys::MSFSPackagesPath2020, packages, ConfigKeys::MSFSCommunityPath2020,
                          community, ConfigKeys::MSFSCustomMappingPaths2020, custom);
    } else {
        config->setValues(ConfigKeys::MSFSPackagesPath2024, packages, ConfigKeys::MSFSCommunityPath2024,
                          community, ConfigKeys::MSFSCustomMappingPaths2024, custom);
    }
}

// Drops the library's data, scans again and waits for the scan to finish.
inline bool rescan() {
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    library->reload();
    return QTest::qWaitFor([library] { return library->isReady(); }, 20000);
}

// Collects log messages from any thread; can hold the logging thread at a
// chosen message until released, to pin a scan in the middle.
class LogCapture {
public:
    LogCapture() {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() {
        release();
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    int count(const QString& text) const {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const QString& m : m_messages) {
            n += m.contains(text) ? 1 : 0;
        }
        return n;
    }
    QStringList messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    // The next message containing `text` blocks its thread until release().
    void holdAt(const QString& text) {
        std::lock_guard lock(m_mutex);
        m_holdAt = text;
        m_holding = false;
    }
    bool isHolding() const {
        std::lock_guard lock(m_mutex);
        return m_holding;
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_holdAt.clear();
        m_released.notify_all();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        LogCapture* self = s_current;
        if (!self) {
            return;
        }
        {
            std::unique_lock lock(self->m_mutex);
            self->m_messages.append(message);
            if (!self->m_holdAt.isEmpty() && message.contains(self->m_holdAt)) {
                self->m_holding = true;
                self->m_released.wait(lock, [self] { return self->m_holdAt.isEmpty(); });
                self->m_holding = false;
            }
        }
        if (self->m_previous) {
            self->m_previous(type, context, message);
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    QStringList m_messages;
    QString m_holdAt;
    bool m_holding = false;
    QtMessageHandler m_previous = nullptr;
    static inline LogCapture* s_current = nullptr;
};

} // namespace velk::test
