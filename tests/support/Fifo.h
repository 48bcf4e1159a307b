#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velk::test {

// Time within which a call must come back from a FIFO at a path it reads: far
// above what it needs, so that only a wait for a writer runs into it.
inline constexpr int kPromptMs = 10000;

// A FIFO at `path`, its folder made as needed.
inline bool makeFifo(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

inline bool isFifo(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Runs `work` on this thread and tells whether it came back within `ms`. Past
// that, a watchdog keeps opening the FIFOs for writing until it does, so that
// an open waiting on one for a writer ends: the test then fails, not hangs.
inline bool returnsPromptly(const QStringList& fifos, int ms, const std::function<void()>& work) {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    bool stalled = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done; })) {
            return;
        }
        stalled = true;
        while (!done) {
            for (const QString& fifo : fifos) {
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
            changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; });
        }
    });
    work();
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    changed.notify_all();
    watchdog.join();
    return !stalled;
}

} // namespace velk::test
