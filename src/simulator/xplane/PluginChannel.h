#pragma once

#include "simulator/xplane/PluginProtocol.h"

#include <nng/nng.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace velk::simulator::xplane {

// The nng pair1 socket to the X-Plane plug-in with its receive thread.
// `onMessage` runs on the receive thread for every envelope that decodes.
class PluginChannel {
public:
    using Handler = std::function<void(PluginMessage)>;

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
    // Stops receiving, closes the socket and joins the thread.
    void close();

    bool isOpen() const { return m_open; }
    bool isReceiving() const { return m_thread != nullptr; }

private:
    void receiveLoop();

    Handler m_onMessage;
    nng_socket m_socket = NNG_SOCKET_INITIALIZER;
    bool m_open = false;
    std::atomic<bool> m_running{false};
    std::unique_ptr<std::thread> m_thread;
};

} // namespace velk::simulator::xplane
