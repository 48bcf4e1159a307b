#pragma once

// The few socket calls the voice transport makes, behind an interface of our
// own so that the transport stays the same on every platform. This build
// implements it on POSIX sockets (SocketLayerPosix.cpp).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velk::voice::sockets {

// A socket descriptor; kInvalidHandle when closed.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

enum class Kind : std::uint8_t { Stream, Datagram };

// One resolved address, kept opaque so this header needs no system headers.
struct Endpoint {
    std::array<std::uint8_t, 128> address{};
    std::uint32_t length = 0;
    int family = 0;
    int type = 0;
    int protocol = 0;
};

// Result of one receive or send: bytes moved, or the error code when negative.
struct IoResult {
    long bytes = 0;
    int error = 0;
};

// Brings the socket library up and down (a no-op on POSIX).
void startup();
void cleanup();

// First address of `host` for `port`, or nothing when resolution fails.
std::optional<Endpoint> resolve(const std::string& host, std::uint16_t port, Kind kind);
// "address:port" for IPv4 and IPv6, "Unknown address family" otherwise.
std::string formatAddress(const Endpoint& endpoint);

// A new socket for the endpoint's family and type; kInvalidHandle and the
// error code in `error` on failure.
Handle open(const Endpoint& endpoint, int& error);
// Connects within `timeout`; returns 0 or the error code (ETIMEDOUT when the
// time is up). A shutdown() from another thread ends the wait early.
int connect(Handle handle, const Endpoint& endpoint, std::chrono::milliseconds timeout);

// One send that never waits and never raises SIGPIPE: the bytes taken (0 when
// the send buffer is full), or a negative count and the error code.
IoResult sendSome(Handle handle, const void* data, std::size_t size);
// Waits until a send can take bytes; returns 0, ETIMEDOUT when the time is up,
// or the error code. A shutdown() from another thread ends the wait early.
int waitWritable(Handle handle, std::chrono::milliseconds timeout);
// Sends every byte within `timeout`, however many sends that takes. Returns 0
// or the error code (ETIMEDOUT when the time ran out).
int sendAll(Handle handle, const void* data, std::size_t size, std::chrono::milliseconds timeout);
// Sends one datagram. Returns 0 or the error code.
int sendDatagram(Handle handle, const void* data, std::size_t size);
// One blocking receive.
IoResult receive(Handle handle, void* buffer, std::size_t size);

// Wakes every thread blocked on the socket; the handle stays valid.
void shutdown(Handle handle);
void close(Handle handle);

// The system's text for an error code, in US English.
std::string errorText(int code);
bool isInterrupted(int code);
bool isRefused(int code);
// The peer reset the connection.
bool isReset(int code);

} // namespace velk::voice::sockets
