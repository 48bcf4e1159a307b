// Voice transport: control lines, voice datagrams, the hello and the ping.
#include "voice/NetworkHandler.h"

#include "voice/LogThrottle.h"
#include "voice/NetworkHandlerText.h"

#include <QDebug>

#include <exception>

namespace velk::voice {

using detail::connectionLost;
using detail::utf8;

void NetworkHandler::startPingThread() {
    if (m_pingThread.joinable()) {
        return;
    }
    m_pingRunning = true;
    m_pingThread = std::thread(&NetworkHandler::pingLoop, this);
}

void NetworkHandler::wakePingThread() {
    // Cleared under the mutex the waits check it under: no lost wake-up.
    {
        std::lock_guard lock(m_pingMutex);
        m_pingRunning = false;
    }
    m_pingWake.notify_all();
}

void NetworkHandler::sendControlMessage(const ControlMessage& message) {
    std::string line;
    try {
        line = toJson(message);
    } catch (const std::exception& e) {
        qWarning() << "NetworkHandler: cannot write control message:" << e.what();
        return;
    }
    line.push_back('\n');
    std::lock_guard lock(m_controlSendMutex);
    sockets::Handle socket;
    quint64 generation;
    {
        std::lock_guard handles(m_handleMutex);
        socket = m_tcpSocket;
        generation = m_socketGeneration;
    }
    if (socket == sockets::kInvalidHandle) {
        return;
    }
    // The socket's send time-out bounds this: a server that stops reading
    // costs the connection, not the sender's thread.
    if (const int error = sockets::sendAll(socket, line.data(), line.size()); error != 0) {
        loseConnection(generation, connectionLost(error));
    }
}

void NetworkHandler::sendDatagram(const std::vector<std::uint8_t>& datagram) {
    std::lock_guard lock(m_datagramMutex);
    sockets::Handle socket;
    {
        std::lock_guard handles(m_handleMutex);
        socket = m_udpSocket;
    }
    if (socket == sockets::kInvalidHandle) {
        return;
    }
    // Refused while the server's voice side is not up; the ping's hello tries again.
    if (const int error = sockets::sendDatagram(socket, datagram.data(), datagram.size()); error != 0) {
        if (worthWarning(++m_failedDatagramSends)) {
            qWarning().noquote() << "NetworkHandler: voice datagram not sent:"
                                 << utf8(sockets::errorText(error))
                                 << QStringLiteral("(%1 so far)").arg(m_failedDatagramSends.load());
        }
    }
}

void NetworkHandler::sendHello() {
    std::vector<std::uint8_t> hello;
    {
        std::lock_guard lock(m_identityMutex);
        hello = m_hello;
    }
    if (!hello.empty()) {
        sendDatagram(hello);
    }
}

void NetworkHandler::pingLoop() {
    std::unique_lock lock(m_pingMutex);
    for (;;) {
        const auto interval = std::chrono::milliseconds(m_pingIntervalMs.load());
        if (m_pingWake.wait_for(lock, interval, [this] { return !m_pingRunning; }) || !m_connected) {
            return;
        }
        lock.unlock();
        ControlMessage ping;
        ping.type = ControlMessageType::Ping;
        {
            std::lock_guard identity(m_identityMutex);
            ping.cid = static_cast<std::int32_t>(m_cid);
            ping.callsign = m_callsign;
        }
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        ping.data = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count());
        sendControlMessage(ping);
        sendHello(); // keeps the server's view of our voice address fresh
        lock.lock();
    }
}

} // namespace velk::voice
