#include "simulator/xplane/PluginChannel.h"

#include <nng/protocol/pair1/pair.h>

#include <QDebug>

#include <chrono>

namespace velk::simulator::xplane {

namespace {

constexpr int kQueueDepth = 8192;
// Larger messages make nng drop the pipe before anything is allocated for them.
constexpr size_t kReceiveLimit = 1024 * 1024;

} // namespace

PluginChannel::PluginChannel(Handler onMessage) : m_onMessage(std::move(onMessage)) {}

PluginChannel::~PluginChannel() {
    close();
}

int PluginChannel::open() {
    const int rv = nng_pair1_open(&m_socket);
    if (rv != 0) {
        return rv;
    }
    m_open = true;
    nng_socket_set_int(m_socket, NNG_OPT_RECVBUF, kQueueDepth);
    nng_socket_set_int(m_socket, NNG_OPT_SENDBUF, kQueueDepth);
    nng_socket_set_size(m_socket, NNG_OPT_RECVMAXSZ, kReceiveLimit);
    return 0;
}

int PluginChannel::dial(const std::string& url) {
    if (!m_open) {
        return NNG_ECLOSED;
    }
    return nng_dial(m_socket, url.c_str(), nullptr, NNG_FLAG_NONBLOCK);
}

void PluginChannel::startReceiving() {
    if (!m_open || m_thread) {
        return;
    }
    m_running = true;
    m_thread = std::make_unique<std::thread>([this] { receiveLoop(); });
}

bool PluginChannel::send(std::string_view bytes) {
    if (!m_open) {
        return false;
    }
    return nng_send(m_socket, const_cast<char*>(bytes.data()), bytes.size(), NNG_FLAG_NONBLOCK) == 0;
}

void PluginChannel::close() {
    m_running = false;
    if (m_open) {
        nng_close(m_socket); // wakes a blocked nng_recv with NNG_ECLOSED
        m_open = false;
    }
    if (m_thread) {
        m_thread->join();
        m_thread.reset();
    }
}

void PluginChannel::receiveLoop() {
    quint64 undecodable = 0;
    while (m_running) {
        void* buffer = nullptr;
        size_t size = 0;
        const int rv = nng_recv(m_socket, &buffer, &size, NNG_FLAG_ALLOC);
        if (rv == NNG_ECLOSED) {
            break;
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
        try {
            m_onMessage(std::move(*message));
        } catch (...) {
            // A failing handler must not end the loop.
        }
    }
}

} // namespace velk::simulator::xplane
