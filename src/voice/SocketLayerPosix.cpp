#include "voice/SocketLayer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::voice::sockets {

namespace {

int fd(Handle handle) {
    return static_cast<int>(handle);
}

bool setNonBlocking(int socket, bool on) {
    const int flags = ::fcntl(socket, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    return ::fcntl(socket, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

// Waits until the socket is ready for `events` (reported in `revents`);
// returns 0, ETIMEDOUT when the time is up, or the error code.
int awaitReady(int socket, short events, std::chrono::milliseconds timeout, short& revents) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Rounded up, so that the time is never up before the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return ETIMEDOUT;
        }
        pollfd entry{socket, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            revents = entry.revents;
            return 0;
        }
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
    }
}

// Waits for the pending connect to finish; returns 0 or the error code.
int awaitConnect(int socket, std::chrono::milliseconds timeout) {
    short revents = 0;
    if (const int error = awaitReady(socket, POLLOUT, timeout, revents); error != 0) {
        return error;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    if (error == 0 && (revents & POLLHUP)) {
        return ECONNABORTED; // shut down by another thread while connecting
    }
    return error;
}

} // namespace

void startup() {}

void cleanup() {}

std::optional<Endpoint> resolve(const std::string& host, std::uint16_t port, Kind kind) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
        return std::nullopt;
    }
    std::optional<Endpoint> result;
    if (list->ai_addrlen <= sizeof(Endpoint::address)) {
        Endpoint endpoint;
        std::memcpy(endpoint.address.data(), list->ai_addr, list->ai_addrlen);
        endpoint.length = static_cast<std::uint32_t>(list->ai_addrlen);
        endpoint.family = list->ai_family;
        endpoint.type = list->ai_socktype;
        endpoint.protocol = list->ai_protocol;
        result = endpoint;
    }
    ::freeaddrinfo(list);
    return result;
}

std::string formatAddress(const Endpoint& endpoint) {
    char text[65] = {};
    std::uint16_t port = 0;
    if (endpoint.family == AF_INET) {
        sockaddr_in address{};
        std::memcpy(&address, endpoint.address.data(), sizeof(address));
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
        port = ntohs(address.sin_port);
    } else if (endpoint.family == AF_INET6) {
        sockaddr_in6 address{};
        std::memcpy(&address, endpoint.address.data(), sizeof(address));
        ::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof(text));
        port = ntohs(address.sin6_port);
    } else {
        return "Unknown address family";
    }
    return std::string(text) + ":" + std::to_string(port);
}

Handle open(const Endpoint& endpoint, int& error) {
    const int socket = ::socket(endpoint.family, endpoint.type | SOCK_CLOEXEC, endpoint.protocol);
    error = socket < 0 ? errno : 0;
    return socket < 0 ? kInvalidHandle : Handle(socket);
}

int connect(Handle handle, const Endpoint& endpoint, std::chrono::milliseconds timeout) {
    const int socket = fd(handle);
    if (!setNonBlocking(socket, true)) {
        return errno;
    }
    const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
    int error = 0;
    if (::connect(socket, address, endpoint.length) != 0) {
        error = errno == EINPROGRESS ? awaitConnect(socket, timeout) : errno;
    }
    if (!setNonBlocking(socket, false) && error == 0) {
        error = errno;
    }
    return error;
}

IoResult sendSome(Handle handle, const void* data, std::size_t size) {
    for (;;) {
        const ssize_t sent = ::send(fd(handle), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return {static_cast<long>(sent), 0};
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {0, 0};
        }
        if (errno != EINTR) {
            return {-1, errno};
        }
    }
}

int waitWritable(Handle handle, std::chrono::milliseconds timeout) {
    // An error or a shutdown counts as writable: the next send reports it.
    short revents = 0;
    return awaitReady(fd(handle), POLLOUT, timeout, revents);
}

int sendAll(Handle handle, const void* data, std::size_t size, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const IoResult sent = sendSome(handle, bytes, size);
        if (sent.bytes < 0) {
            return sent.error;
        }
        bytes += sent.bytes;
        size -= static_cast<std::size_t>(sent.bytes);
        if (sent.bytes == 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (const int error = waitWritable(handle, left); error != 0) {
                return error;
            }
        }
    }
    return 0;
}

int sendDatagram(Handle handle, const void* data, std::size_t size) {
    for (;;) {
        if (::send(fd(handle), data, size, MSG_NOSIGNAL) >= 0) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

IoResult receive(Handle handle, void* buffer, std::size_t size) {
    const ssize_t got = ::recv(fd(handle), buffer, size, 0);
    return got < 0 ? IoResult{-1, errno} : IoResult{static_cast<long>(got), 0};
}

void shutdown(Handle handle) {
    if (handle != kInvalidHandle) {
        ::shutdown(fd(handle), SHUT_RDWR);
    }
}

void close(Handle handle) {
    if (handle != kInvalidHandle) {
        ::close(fd(handle));
    }
}

std::string errorText(int code) {
    // The process locale may be the pilot's language; log texts stay English.
    static const locale_t english = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    const char* text = english ? ::strerror_l(code, english) : nullptr;
    return text && *text ? std::string(text) : std::string("Unknown error");
}

bool isInterrupted(int code) {
    return code == EINTR || code == EAGAIN || code == EWOULDBLOCK;
}

bool isRefused(int code) {
    return code == ECONNREFUSED;
}

bool isReset(int code) {
    return code == ECONNRESET;
}

} // namespace velk::voice::sockets
