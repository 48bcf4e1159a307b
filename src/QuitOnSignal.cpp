#include "QuitOnSignal.h"

#ifndef _WIN32

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <sys/socket.h>
#include <unistd.h>

namespace velk {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// What each signal did before; SIGINT's is restored once the first has come.
struct sigaction g_previous[std::size(kSignals)];
int g_wake[2] = {-1, -1};

// Only an async-signal-safe write: the event loop does the rest. A full
// socket already holds a signal that will be handled.
void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_wake[1], &byte, 1);
    errno = saved;
}

// Ctrl+C alone: a repeated SIGTERM or SIGHUP is the same request (a logout
// sends SIGTERM with SIGHUP, a closed terminal SIGHUP from the kernel and
// again from the shell) and must not cut short the orderly end it started.
void restoreInterrupt() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (kSignals[i] == SIGINT) {
            ::sigaction(SIGINT, &g_previous[i], nullptr);
        }
    }
}

} // namespace

void quitOnTerminationSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_wake) != 0) {
        qWarning().noquote() << "Cannot watch for termination signals:" << std::strerror(errno);
        return;
    }
    auto* notifier = new QSocketNotifier(g_wake[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char number = 0;
        if (::read(g_wake[0], &number, 1) != 1) {
            return;
        }
        notifier->setEnabled(false);
        // Should the orderly end hang, a second Ctrl+C ends the process.
        restoreInterrupt();
        qInfo().noquote() << "Quitting on signal" << int(number)
                          << QStringLiteral("(%1)").arg(strsignal(number));
        QCoreApplication::quit();
        // quit() does nothing before the event loop runs (the box that refuses
        // a second client): end that box's loop too.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        // A signal ignored by whoever started the client (nohup) stays ignored.
        if (g_previous[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

} // namespace velk

#else

namespace velk {

void quitOnTerminationSignals() {}

} // namespace velk

#endif
