#include "support/PrivateNetwork.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <linux/fib_rules.h>
#include <linux/if_tun.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::test {

namespace {

constexpr char kDeadLink[] = "velkdead";
constexpr unsigned char kDeadTable = 100;
// The cuts' rules come ahead of the local table's, which moves behind them.
constexpr __u32 kUnreachableRulePriority = 4;
constexpr __u32 kDeadRulePriority = 5;
constexpr __u32 kLocalRulePriority = 10;

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool setLinkUp(const char* name, bool up) {
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    bool done = ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        request.ifr_flags = static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        done = ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(control);
    return done;
}

bool writeSetting(const QString& path, const char* value) {
    const int file = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    const auto size = static_cast<ssize_t>(std::strlen(value));
    const bool done = ::write(file, value, static_cast<size_t>(size)) == size;
    ::close(file);
    return done;
}

struct Attribute {
    unsigned short type;
    const void* data;
    size_t size;
};

// One routing request to the kernel, and its answer waited for at most two seconds.
bool routingRequest(unsigned short type, unsigned short flags, const void* header, size_t headerSize,
                    std::initializer_list<Attribute> attributes) {
    alignas(nlmsghdr) char buffer[256]{};
    auto* message = reinterpret_cast<nlmsghdr*>(buffer);
    message->nlmsg_type = type;
    message->nlmsg_flags = static_cast<unsigned short>(NLM_F_REQUEST | NLM_F_ACK | flags);
    message->nlmsg_len = NLMSG_LENGTH(headerSize);
    std::memcpy(NLMSG_DATA(message), header, headerSize);
    for (const Attribute& attribute : attributes) {
        const size_t at = NLMSG_ALIGN(message->nlmsg_len);
        if (at + RTA_SPACE(attribute.size) > sizeof(buffer)) {
            return false;
        }
        auto* rta = reinterpret_cast<rtattr*>(buffer + at);
        rta->rta_type = attribute.type;
        rta->rta_len = static_cast<unsigned short>(RTA_LENGTH(attribute.size));
        std::memcpy(RTA_DATA(rta), attribute.data, attribute.size);
        message->nlmsg_len = static_cast<__u32>(at + RTA_SPACE(attribute.size));
    }

    const int link = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (link < 0) {
        return false;
    }
    const timeval wait{2, 0};
    ::setsockopt(link, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    bool done = ::sendto(link, buffer, message->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                         sizeof(kernel)) == static_cast<ssize_t>(message->nlmsg_len);
    if (done) {
        alignas(nlmsghdr) char answer[1024];
        const ssize_t received = ::recv(link, answer, sizeof(answer), 0);
        const auto* reply = reinterpret_cast<const nlmsghdr*>(answer);
        done = received >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) &&
               reply->nlmsg_type == NLMSG_ERROR &&
               static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error == 0;
        if (!done && received >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) &&
            reply->nlmsg_type == NLMSG_ERROR) {
            errno = -static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error; // the kernel's reason
        }
    }
    const int error = errno;
    ::close(link);
    errno = error;
    return done;
}

bool rule(unsigned short type, __u32 priority, unsigned char table, bool tcpOnly) {
    fib_rule_hdr header{};
    header.family = AF_INET;
    header.table = table;
    header.action = FR_ACT_TO_TBL;
    const unsigned short flags = type == RTM_NEWRULE ? NLM_F_CREATE | NLM_F_EXCL : 0;
    const __u8 tcp = IPPROTO_TCP;
    const Attribute byPriority{FRA_PRIORITY, &priority, sizeof(priority)};
    return tcpOnly ? routingRequest(type, flags, &header, sizeof(header),
                                    {byPriority, {FRA_IP_PROTO, &tcp, sizeof(tcp)}})
                   : routingRequest(type, flags, &header, sizeof(header), {byPriority});
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
    } else if (!rule(RTM_NEWRULE, kLocalRulePriority, RT_TABLE_LOCAL, false) ||
               !rule(RTM_DELRULE, 0, RT_TABLE_LOCAL, false)) {
        m_error = systemError("move the local routing rule");
    }
}

PrivateNetwork::~PrivateNetwork() {
    if (m_deadLink >= 0) {
        ::close(m_deadLink);
    }
    if (m_home >= 0) {
        ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
}

bool PrivateNetwork::setLoopbackUp(bool up) {
    return setLinkUp("lo", up);
}

bool PrivateNetwork::setUnreachable(quint16 port, bool cut) {
    fib_rule_hdr header{};
    header.family = AF_INET;
    header.action = FR_ACT_UNREACHABLE;
    const __u32 priority = kUnreachableRulePriority;
    const __u8 tcp = IPPROTO_TCP;
    const fib_rule_port_range ports{port, port};
    return routingRequest(cut ? RTM_NEWRULE : RTM_DELRULE, cut ? NLM_F_CREATE | NLM_F_EXCL : 0, &header,
                          sizeof(header),
                          {{FRA_PRIORITY, &priority, sizeof(priority)},
                           {FRA_IP_PROTO, &tcp, sizeof(tcp)},
                           {FRA_DPORT_RANGE, &ports, sizeof(ports)}});
}

bool PrivateNetwork::setNoRouteToHost(bool cut) {
    if (!cut) {
        return rule(RTM_DELRULE, kDeadRulePriority, kDeadTable, true);
    }
    return deadLinkError().isEmpty() && rule(RTM_NEWRULE, kDeadRulePriority, kDeadTable, true);
}

QString PrivateNetwork::deadLinkError() {
    // Tried once: a failed try keeps its reason.
    if (m_deadLink < 0 && m_deadLinkError.isEmpty() && m_home >= 0) {
        m_deadLinkError = makeDeadLink();
    }
    return m_home < 0 ? m_error : m_deadLinkError;
}

QString PrivateNetwork::makeDeadLink() {
    // A tap device nobody reads: the neighbour look-up on it never gets an answer.
    const int device = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        return systemError("open /dev/net/tun");
    }
    ifreq request{};
    std::strncpy(request.ifr_name, kDeadLink, IFNAMSIZ - 1);
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (::ioctl(device, TUNSETIFF, &request) != 0) {
        const QString reason = systemError("make a tap device");
        ::close(device);
        return reason;
    }
    const QString settings =
        QStringLiteral("/proc/sys/net/ipv4/%1/") + QLatin1String(kDeadLink) + QStringLiteral("/%2");
    const int index = static_cast<int>(::if_nametoindex(kDeadLink));
    const in_addr loopback{htonl(INADDR_LOOPBACK)};
    rtmsg route{};
    route.rtm_family = AF_INET;
    route.rtm_dst_len = 32;
    route.rtm_table = kDeadTable;
    route.rtm_protocol = RTPROT_BOOT;
    route.rtm_scope = RT_SCOPE_LINK;
    route.rtm_type = RTN_UNICAST;
    // Loopback addresses may leave by it; a neighbour is given up after three
    // tries a tenth of a second apart.
    const char* failed = nullptr;
    if (index <= 0 || !setLinkUp(kDeadLink, true)) {
        failed = "bring the tap device up";
    } else if (!writeSetting(settings.arg(QStringLiteral("conf"), QStringLiteral("route_localnet")), "1") ||
               !writeSetting(settings.arg(QStringLiteral("neigh"), QStringLiteral("retrans_time_ms")),
                             "100")) {
        failed = "set up the tap device";
    } else if (!routingRequest(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, &route, sizeof(route),
                               {{RTA_DST, &loopback, sizeof(loopback)}, {RTA_OIF, &index, sizeof(index)}})) {
        failed = "route loopback by the tap device";
    }
    if (failed != nullptr) {
        // The device, and the route by it, go with its file.
        const QString reason = systemError(failed);
        ::close(device);
        return reason;
    }
    m_deadLink = device;
    return {};
}

} // namespace velk::test
