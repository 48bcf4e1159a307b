#include "support/PrivateNetwork.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::test {

namespace {

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PrivateNetwork::PrivateNetwork() {
    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_home < 0) {
        m_error = systemError("open the current namespace");
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        m_error = systemError("unshare");
        ::close(m_home);
        m_home = -1;
        return;
    }
    if (!setLoopbackUp(true)) {
        m_error = systemError("loopback up");
    }
}

PrivateNetwork::~PrivateNetwork() {
    if (m_home >= 0) {
        ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
}

bool PrivateNetwork::setLoopbackUp(bool up) {
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool done = ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        request.ifr_flags = static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        done = ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(control);
    return done;
}

} // namespace velk::test
