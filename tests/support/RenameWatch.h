#pragma once

#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <unistd.h>

namespace velk::test {

// Counts the files renamed into place at a path since the last count: each
// save of config.ini is one. Creations are watched too, as the system merges
// a run of alike events into one: each save first makes its own folder.
class RenameWatch {
public:
    explicit RenameWatch(const QString& path)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_name(QFile::encodeName(QFileInfo(path).fileName())) {
        ::inotify_add_watch(m_fd, QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                            IN_MOVED_TO | IN_CREATE);
    }
    ~RenameWatch() { ::close(m_fd); }
    RenameWatch(const RenameWatch&) = delete;
    RenameWatch& operator=(const RenameWatch&) = delete;

    int count() {
        int renames = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t length;
        while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && m_name == event->name) {
                    ++renames;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return renames;
    }

private:
    int m_fd;
    QByteArray m_name;
};

} // namespace velk::test
