#include "simulator/xplane/PluginChannel.h"

#include <nng/protocol/pair1/pair.h>

#include <QDebug>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace velk::simulator::xplane {

namespace {

constexpr int kQueueDepth = 8192;
// Larger messages make nng drop the pipe before anything is allocated for them.
constexpr size_t kReceiveLimit = 1024 * 1024;
// How long a closing socket waits for the plug-in's message under way.
constexpr int kLastMessageWaitMs = 50;

std::atomic<int> openSockets{0};

} // namespace

// What the receive and close threads use: held by them too, so that a thread
// given up by close() outlives the channel safely.
struct PluginChannel::Shared {
    Shared(Handler handler, PeerHandler peer) : onMessage(std::move(handler)), onPeer(std::move(peer)) {}

    nng_socket socket = NNG_SOCKET_INITIALIZER;
    std::atomic<bool> running{false};
    // Held while onMessage runs; close() takes it to know no call is under way.
    std::mutex handlerMutex;
    Handler onMessage;

    // The plug-in's pipe: a dialling pair socket has at most one. The mutex
    // orders a send against the pipe going away, so that nothing is queued
    // for the plug-in that left without the socket being spent.
    std::mutex peerMutex;
    uint32_t attachedPipe = 0;
    bool taken = false;
    bool carried = false;
    // Sent while no plug-in was attached: the next one to attach takes it.
    bool queuedForNext = false;
    std::atomic<bool> spent{false};
    // Held while onPeer runs, as handlerMutex is for onMessage.
    std::mutex peerHandlerMutex;
    PeerHandler onPeer;

    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool receiverDone = true;
    bool closerDone = true;

    void markDone(bool Shared::*flag) {
        {
            std::lock_guard lock(doneMutex);
            this->*flag = true;
        }
        doneChanged.notify_all();
    }

    bool waitDone(bool Shared::*flag, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(doneMutex);
        return doneChanged.wait_until(lock, deadline, [&] { return this->*flag; });
    }

    // Under peerMutex: true when this is the loss that spends the socket.
    bool dropPeer() {
        attachedPipe = 0;
        const bool spends = carried && !spent;
        spent = spent || carried;
        return spends;
    }

    void receiveLoop();
    void closeSocket();
    static void pipeEvent(nng_pipe pipe, nng_pipe_ev event, void* self);
};

PluginChannel::PluginChannel(Handler onMessage, PeerHandler onPeer)
    : m_shared(std::make_shared<Shared>(std::move(onMessage), std::move(onPeer))) {}

PluginChannel::~PluginChannel() {
    close();
}

int PluginChannel::open() {
    if (m_open) {
        return 0;
    }
    const int rv = nng_pair1_open(&m_shared->socket);
    if (rv != 0) {
        return rv;
    }
    m_open = true;
    ++openSockets;
    // Pipe events can come until nng_close returns; the closer thread keeps
    // the shared state alive until then.
    for (const nng_pipe_ev event : {NNG_PIPE_EV_ADD_PRE, NNG_PIPE_EV_ADD_POST, NNG_PIPE_EV_REM_POST}) {
        nng_pipe_notify(m_shared->socket, event, &Shared::pipeEvent, m_shared.get());
    }
    nng_socket_set_int(m_shared->socket, NNG_OPT_RECVBUF, kQueueDepth);
    nng_socket_set_int(m_shared->socket, NNG_OPT_SENDBUF, kQueueDepth);
    nng_socket_set_size(m_shared->socket, NNG_OPT_RECVMAXSZ, kReceiveLimit);
    // The receive thread must come back to look at its stop flag.
    nng_socket_set_ms(m_shared->socket, NNG_OPT_RECVTIMEO, kReceiveTimeoutMs);
    return 0;
}

int PluginChannel::dial(const std::string& url) {
    if (!m_open) {
        return NNG_ECLOSED;
    }
    return nng_dial(m_shared->socket, url.c_str(), nullptr, NNG_FLAG_NONBLOCK);
}

void PluginChannel::startReceiving() {
    if (!m_open || m_receiving) {
        return;
    }
    m_receiving = true;
    m_shared->running = true;
    m_shared->receiverDone = false;
    std::thread([shared = m_shared] { shared->receiveLoop(); }).detach();
}

bool PluginChannel::send(std::string_view bytes, Delivery delivery) {
    if (!m_open) {
        return false;
    }
    std::lock_guard lock(m_shared->peerMutex);
    const bool attached = m_shared->attachedPipe != 0;
    if (m_shared->spent || (delivery == Delivery::ToAttachedPeer && !(attached && m_shared->taken))) {
        return false;
    }
    if (nng_send(m_shared->socket, const_cast<char*>(bytes.data()), bytes.size(), NNG_FLAG_NONBLOCK) != 0) {
        return false;
    }
    m_shared->carried = m_shared->carried || attached;
    m_shared->queuedForNext = m_shared->queuedForNext || !attached;
    return true;
}

bool PluginChannel::hasPeer() const {
    std::lock_guard lock(m_shared->peerMutex);
    return m_shared->attachedPipe != 0 && m_shared->taken;
}

void PluginChannel::takePeer() {
    std::lock_guard lock(m_shared->peerMutex);
    m_shared->taken = m_shared->attachedPipe != 0;
}

bool PluginChannel::isSpent() const {
    return m_shared->spent;
}

int PluginChannel::openSocketCount() {
    return openSockets.load();
}

void PluginChannel::close() {
    const std::shared_ptr<Shared> shared = m_shared;
    shared->running = false;
    {
        // Waits out a handler call under way; none starts after this.
        std::lock_guard lock(shared->handlerMutex);
        shared->onMessage = nullptr;
    }
    {
        std::lock_guard lock(shared->peerHandlerMutex);
        shared->onPeer = nullptr;
    }
    if (!m_open && !m_receiving) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMs);
    bool clean = true;
    if (m_open) {
        shared->closerDone = false;
        std::thread([shared] { shared->closeSocket(); }).detach();
        clean = shared->waitDone(&Shared::closerDone, deadline);
    }
    // Returns at once when the receiver is already done.
    if (m_receiving) {
        clean = shared->waitDone(&Shared::receiverDone, deadline) && clean;
    }
    m_open = false;
    m_receiving = false;
    if (!clean) {
        qWarning() << "PluginChannel: the plug-in socket did not close within" << kCloseWaitMs
                   << "ms; it is closed in the background";
    }
}

// On the closer thread, which keeps the shared state until the socket is closed.
void PluginChannel::Shared::closeSocket() {
    // A receive under way would take the plug-in's next message and keep its
    // pipe reading. The receiver sees its stop flag within one receive
    // time-out; a busy machine may take longer than the caller waits.
    waitDone(&Shared::receiverDone, std::chrono::steady_clock::now() + std::chrono::seconds(1));
    // nng 1.5 hangs for good, and every later close and redial in the process
    // with it, when a pipe is closed while it reads a message. With no room
    // left to receive, the pipe stops reading after the message under way and
    // the socket turns readable; a quiet plug-in has no message under way.
    nng_socket_set_int(socket, NNG_OPT_RECVBUF, 0);
    int fd = -1;
    if (nng_socket_get_int(socket, NNG_OPT_RECVFD, &fd) == 0) {
        pollfd readable{fd, POLLIN, 0};
        ::poll(&readable, 1, kLastMessageWaitMs);
    }
    nng_close(socket);
    --openSockets;
    markDone(&Shared::closerDone);
}

void PluginChannel::Shared::pipeEvent(nng_pipe pipe, nng_pipe_ev event, void* self) {
    auto* shared = static_cast<Shared*>(self);
    const auto id = static_cast<uint32_t>(nng_pipe_id(pipe));
    bool lost = false;
    bool reject = false;
    bool attached = false;
    {
        std::lock_guard lock(shared->peerMutex);
        if (event == NNG_PIPE_EV_ADD_PRE) {
            // A dialling pair socket has one pipe at a time: a new one means
            // the one still recorded is gone, whenever its removal is told.
            if (shared->attachedPipe != 0) {
                lost = shared->dropPeer();
            }
            // What is still queued was meant for the plug-in that left.
            reject = shared->spent;
        } else if (event == NNG_PIPE_EV_ADD_POST) {
            shared->attachedPipe = id;
            shared->taken = false;
            shared->carried = shared->carried || shared->queuedForNext;
            shared->queuedForNext = false;
            attached = true;
        } else if (event == NNG_PIPE_EV_REM_POST && id == shared->attachedPipe) {
            lost = shared->dropPeer();
        }
    }
    if (reject) {
        nng_pipe_close(pipe);
    }
    if (lost || attached) {
        std::lock_guard lock(shared->peerHandlerMutex);
        if (shared->onPeer) {
            shared->onPeer(attached);
        }
    }
}

void PluginChannel::Shared::receiveLoop() {
    quint64 undecodable = 0;
    while (running) {
        void* buffer = nullptr;
        size_t size = 0;
        const int rv = nng_recv(socket, &buffer, &size, NNG_FLAG_ALLOC);
        if (rv == NNG_ECLOSED) {
            break;
        }
        if (rv == NNG_ETIMEDOUT) {
            continue;
        }
        if (rv != 0) {
            // Anything else is transient (memory, interrupted): do not spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        // Undecodable messages are dropped and the loop goes on; the log notes
        // the first few and then every thousandth, so a flood cannot fill it.
        std::optional<PluginMessage> message = decodePluginMessage(static_cast<const char*>(buffer), size);
        nng_free(buffer, size);
        if (!message) {
            ++undecodable;
            if (undecodable <= 5 || undecodable % 1000 == 0) {
                qWarning().noquote() << "PluginChannel: dropped an undecodable plug-in message of" << size
                                     << "bytes; dropped so far:" << undecodable;
            }
            continue;
        }
        std::lock_guard lock(handlerMutex);
        if (!running || !onMessage) {
            break;
        }
        try {
            onMessage(std::move(*message));
        } catch (...) {
            // A failing handler must not end the loop.
        }
    }
    markDone(&Shared::receiverDone);
}

} // namespace velk::simulator::xplane
