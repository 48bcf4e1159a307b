#pragma once

#include <QDeadlineTimer>
#include <QThread>

#include <functional>
#include <memory>

namespace velk::test {

// Runs `work` on a thread of its own and waits up to `timeoutMs` for it to
// return. When it has not, `release` is called to let it go on (for example by
// removing what it waits for; again every half second while it is still
// waiting) and false is returned, so that code that would wait for good fails
// its test instead of hanging it.
inline bool returnsWithin(int timeoutMs, const std::function<void()>& work,
                          const std::function<void()>& release) {
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    if (thread->wait(QDeadlineTimer(timeoutMs))) {
        return true;
    }
    // Some waits need letting go more than once (a FIFO opened again).
    for (int round = 0; round < 60; ++round) {
        release();
        if (thread->wait(QDeadlineTimer(500))) {
            return false;
        }
    }
    qFatal("A call the test let go of still did not return");
}

} // namespace velk::test
