#pragma once

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

// Holds the global thread pool's only thread, so that a task started now stays
// pending until the pool is released (at the latest when this goes away).
class BlockedPool {
public:
    BlockedPool() {
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        QThreadPool::globalInstance()->start([this] { m_release.acquire(); });
    }
    ~BlockedPool() { release(); }

    void release() {
        if (!m_released) {
            m_released = true;
            m_release.release();
            QThreadPool::globalInstance()->waitForDone();
            QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
        }
    }

private:
    QSemaphore m_release;
    bool m_released = false;
};
