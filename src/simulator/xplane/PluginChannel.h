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
// Nothing sent is kept for a plug-in that comes later: a message meant for
// the attached plug-in is refused while none is attached, and once a plug-in
// that was sent something goes away the socket takes no other: what was
// still queued for it dies with the channel. Only messages sent to be queued
// (a greeting a plug-in must get whenever it comes) wait for one.
//
// `onPeer(true)` runs when a plug-in attaches, `onPeer(false)` when one that
// was sent something goes away; both on an nng thread, and must not block.
// An attached plug-in is refused messages for it until the owner takes it
// with takePeer(), so that what the owner sends it first comes first.
//
// Closing is bounded: the receive thread wakes at least every
// kReceiveTimeoutMs to look at its stop flag, and the socket is closed on a
// helper thread that the caller waits for at most kCloseWaitMs. A close that
// takes longer goes on in the background: its thread keeps what it uses
// alive on its own, never calls a handler, and ends once the socket is closed.
class PluginChannel {
public:
    using Handler = std::function<void(PluginMessage)>;
    using PeerHandler = std::function<void(bool attached)>;

    enum class Delivery {
        // Refused while no plug-in is attached.
        ToAttachedPeer,
        // Queued until a plug-in attaches when none is.
        QueueForPeer,
    };

    static constexpr int kReceiveTimeoutMs = 100;
    static constexpr int kCloseWaitMs = 300;

    explicit PluginChannel(Handler onMessage, PeerHandler onPeer = {});
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
    bool send(std::string_view bytes, Delivery delivery = Delivery::ToAttachedPeer);
    // Stops receiving and closes the socket, waiting at most about
    // kCloseWaitMs. After it returns neither handler is called again.
    void close();

    bool isOpen() const { return m_open; }
    bool isReceiving() const { return m_receiving; }
    // A plug-in is attached and taken.
    bool hasPeer() const;
    void takePeer();
    // Sockets of this process opened and not yet closed, background closes included.
    static int openSocketCount();
    // A plug-in that was sent something went away: the socket takes no other.
    bool isSpent() const;

private:
    struct Shared;

    std::shared_ptr<Shared> m_shared;
    bool m_open = false;
    bool m_receiving = false;
};

} // namespace velk::simulator::xplane
