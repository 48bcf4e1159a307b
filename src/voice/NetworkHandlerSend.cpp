// Voice transport: control lines, voice datagrams, the hello and the ping.
#include "voice/NetworkHandler.h"

#include "common/LogThrottle.h"
#include "voice/NetworkHandlerText.h"

#include <QDebug>

#include <algorithm>
#include <exception>

namespace velk::voice {

using detail::utf8;

namespace {

using Clock = std::chrono::steady_clock;

// A time in seconds for the loss texts: "5", "0.3".
QString secondsText(std::chrono::milliseconds time) {
    return QString::number(double(time.count()) / 1000.0);
}

std::optional<std::string> controlLine(const ControlMessage& message) {
    try {
        return toJson(message) + '\n';
    } catch (const std::exception& e) {
        qWarning() << "NetworkHandler: cannot write control message:" << e.what();
        return std::nullopt;
    }
}

} // namespace

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
    std::optional<std::string> line = controlLine(message);
    if (!line) {
        return;
    }
    std::lock_guard lock(m_controlSendMutex);
    if (!m_writerRunning) {
        return; // not connected, or the connection is lost
    }
    if (m_controlLines.size() < kMaxQueuedControlLines) {
        m_controlLines.push_back(std::move(*line));
        m_controlWake.notify_one();
        return;
    }
    giveUpLocked(QStringLiteral("Voice server connection lost: %1 control messages could not be sent")
                     .arg(kMaxQueuedControlLines));
}

void NetworkHandler::sendGoodbye() {
    ControlMessage goodbye;
    goodbye.type = ControlMessageType::Disconnect;
    {
        std::lock_guard lock(m_identityMutex);
        goodbye.cid = static_cast<std::int32_t>(m_cid);
    }
    std::optional<std::string> line = controlLine(goodbye);
    std::lock_guard lock(m_controlSendMutex);
    if (!line || !m_writerRunning) {
        return;
    }
    sockets::Handle socket;
    {
        std::lock_guard handles(m_handleMutex);
        socket = m_tcpSocket;
    }
    // After what is queued, once and without waiting: a server that does not
    // read gets no goodbye.
    m_controlLines.push_back(std::move(*line));
    writeQueuedLines(socket);
}

int NetworkHandler::writeQueuedLines(sockets::Handle socket) {
    while (!m_controlLines.empty()) {
        const std::string& line = m_controlLines.front();
        if (!m_frontDeadline) {
            m_frontDeadline = Clock::now() + std::chrono::milliseconds(m_sendTimeoutMs.load());
        }
        const sockets::IoResult sent =
            sockets::sendSome(socket, line.data() + m_frontWritten, line.size() - m_frontWritten);
        if (sent.bytes <= 0) {
            return sent.error;
        }
        m_frontWritten += static_cast<std::size_t>(sent.bytes);
        if (m_frontWritten == line.size()) {
            m_controlLines.pop_front();
            m_frontWritten = 0;
            m_frontDeadline.reset();
        }
    }
    return 0;
}

void NetworkHandler::controlWriteLoop(sockets::Handle socket) {
    std::unique_lock lock(m_controlSendMutex);
    for (;;) {
        m_controlWake.wait(lock, [this] { return !m_writerRunning || !m_controlLines.empty(); });
        if (!m_writerRunning) {
            return;
        }
        int error = writeQueuedLines(socket);
        if (error == 0 && !m_controlLines.empty()) {
            // The server is behind: wait for room without the lock, never past
            // the front line's deadline however many sends the line has taken.
            const auto deadline = *m_frontDeadline;
            lock.unlock();
            error = sockets::waitWritable(
                socket, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
            lock.lock();
            if (!m_writerRunning) {
                return;
            }
            if (error != 0 && Clock::now() >= deadline) {
                giveUpLocked(QStringLiteral("Voice server connection lost: a control message could not be "
                                            "sent within %1 s")
                                 .arg(secondsText(std::chrono::milliseconds(m_sendTimeoutMs.load()))));
                return;
            }
        }
        if (error != 0) {
            // The connection is dead: the reader reports it once it has read
            // what the server sent before; the shutdown wakes it.
            m_writeError = error;
            m_writerRunning = false;
            lock.unlock();
            sockets::shutdown(socket);
            return;
        }
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
        if (common::worthWarning(++m_failedDatagramSends)) {
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

void NetworkHandler::heard() {
    m_lastHeardNs = Clock::now().time_since_epoch().count();
}

void NetworkHandler::pingLoop() {
    const auto lastHeard = [this] { return Clock::time_point(Clock::duration(m_lastHeardNs.load())); };
    std::unique_lock lock(m_pingMutex);
    auto nextPing = Clock::now() + std::chrono::milliseconds(m_pingIntervalMs.load());
    for (;;) {
        const auto interval = std::chrono::milliseconds(m_pingIntervalMs.load());
        const auto silence = interval * kSilentPingIntervals;
        if (m_pingWake.wait_until(lock, std::min(nextPing, lastHeard() + silence),
                                  [this] { return !m_pingRunning; }) ||
            !m_connected) {
            return;
        }
        const auto now = Clock::now();
        if (now >= lastHeard() + silence) {
            lock.unlock();
            std::lock_guard send(m_controlSendMutex);
            giveUpLocked(QStringLiteral("Voice server did not answer for %1 s").arg(secondsText(silence)));
            return;
        }
        if (now < nextPing) {
            continue;
        }
        nextPing = now + interval;
        lock.unlock();
        ControlMessage ping;
        ping.type = ControlMessageType::Ping;
        {
            std::lock_guard identity(m_identityMutex);
            ping.cid = static_cast<std::int32_t>(m_cid);
            ping.callsign = m_callsign;
        }
        const auto epoch = std::chrono::system_clock::now().time_since_epoch();
        ping.data = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(epoch).count());
        sendControlMessage(ping);
        sendHello(); // keeps the server's view of our voice address fresh
        lock.lock();
    }
}

} // namespace velk::voice
