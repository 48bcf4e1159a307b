#pragma once

#include <QProcess>

#include <csignal>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace velk::test {

// A process the test starts ends with the test, also when the test fails,
// crashes or is killed by CTest's time-out: the kernel kills it when the
// thread that started it exits. Start it from the main thread. `keepOpen`, a
// descriptor of the test's opened close-on-exec, stays open in the process.
inline void endWithTest(QProcess& process, int keepOpen = -1) {
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test, keepOpen] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The test may have gone before the line above took effect.
        if (::getppid() != test) {
            ::_exit(1);
        }
        if (keepOpen >= 0) {
            ::fcntl(keepOpen, F_SETFD, 0);
        }
    });
}

} // namespace velk::test
