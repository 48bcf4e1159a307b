#pragma once

#include "simulator/xplane/PluginProtocol.h"

#include <nng/nng.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velk::simulator::xplane {

// The nng pair1 socket to the X-Plane plug-in with its receive thread.
// `onMessage` runs on the receive thread for every envelope that decodes.
//
// Closing is bounded: the receive thread wakes at least every
// kReceiveTimeoutMs to look at its stop flag, and the socket is closed on a
// helper thread that is given up after kCloseWaitMs (nng_close can hang in
// some nng releases while the peer is sending). A thread given up keeps what
// it uses alive on its own and never calls `onMessage` again: the socket
// leaks rather than the caller hanging.
class PluginChannel {
public:
    using Handler = std::function<void(PluginMessage)>;

    static constexpr int kReceiveTimeoutMs = 100;
    static constexpr int kCloseWaitMs = 300;

    explicit PluginChannel(Handler onMessage);
    ~PluginChannel();

    PluginChannel(const PluginChannel&) = delete;
    PluginChannel& operator=(const PluginChannel&) = delete;

    // Each returns 0 or an nng error code (nng_strerror gives its text).
    int open();
    // Non-blocking: nng completes and retries the dial in the background.
    int dial(const std::string& url);
    // Starts the receive thread; does nothing unless the socket is open.
    void startReceiving();
    // Queues one message without blocking; false when it could not be queued.
    bool send(std::string_view bytes);
    // Stops receiving and closes the socket, waiting at most about
    // kCloseWaitMs. After it returns `onMessage` is not called again.
    void close();

    bool isOpen() const { return m_open; }
    bool isReceiving() const { return m_receiving; }

private:
    struct Shared;

    std::shared_ptr<Shared> m_shared;
    bool m_open = false;
    bool m_receiving = false;
};

} // namespace velk::simulator::xplane
