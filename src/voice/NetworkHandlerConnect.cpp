// Voice transport: connecting, on the caller's thread or one of its own, and
// publishing the connection.
#include "voice/NetworkHandler.h"

#include "voice/NetworkHandlerText.h"

#include <QDebug>

namespace velk::voice {

using detail::utf8;

namespace {

// The auth line is one line: a line break inside would let the rest be read
// as a control message.
std::string authLine(const QString& auth) {
    std::string line = auth.toStdString();
    std::erase_if(line, [](char c) { return c == '\n' || c == '\r'; });
    line.push_back('\n');
    return line;
}

QString connectFailure(const std::string& host, const std::string& address, int error) {
    return QStringLiteral("Failed to connect to server at %1 (ip=%2): %3 (errno=%4)")
        .arg(utf8(host), utf8(address), utf8(sockets::errorText(error)))
        .arg(error);
}

} // namespace

bool NetworkHandler::connectPending() const {
    std::lock_guard lock(m_pendingMutex);
    for (const auto& [generation, socket] : m_pending) {
        if (isCurrent(generation)) {
            return true;
        }
    }
    return false;
}

int NetworkHandler::connectsInFlight() const {
    std::lock_guard lock(m_pendingMutex);
    return m_connectsInFlight;
}

void NetworkHandler::connectToServer(const QString& auth) {
    runConnect(m_anchor, auth, prepareConnect());
}

void NetworkHandler::connectInBackground(const QString& auth) {
    std::thread([anchor = m_anchor, auth, generation = prepareConnect()] {
        runConnect(anchor, auth, generation);
    }).detach();
}

quint64 NetworkHandler::prepareConnect() {
    std::lock_guard lock(m_pendingMutex);
    ++m_connectsInFlight;
    const quint64 generation = ++m_anchor->generation;
    for (const auto& pending : m_pending) {
        sockets::shutdown(pending.second);
    }
    return generation;
}

void NetworkHandler::cancelPendingConnects() {
    std::lock_guard lock(m_pendingMutex);
    for (const auto& pending : m_pending) {
        sockets::shutdown(pending.second);
    }
}

void NetworkHandler::finishConnect() {
    std::lock_guard lock(m_pendingMutex);
    --m_connectsInFlight;
}

bool NetworkHandler::beginConnect(quint64 generation, ConnectPlan& plan) {
    {
        std::lock_guard lock(m_lifecycleMutex);
        if (!isCurrent(generation)) {
            return false;
        }
        stopThreads(); // the old connection gets no "disconnect" and no signal
    }
    std::lock_guard lock(m_configMutex);
    plan.server = m_server.value_or(deployment::voiceServer());
    plan.resolve = m_resolver;
    plan.connectTimeout = std::chrono::milliseconds(m_connectTimeoutMs.load());
    plan.sendTimeout = std::chrono::milliseconds(m_sendTimeoutMs.load());
    return true;
}

void NetworkHandler::runConnect(const std::shared_ptr<Anchor>& anchor, const QString& auth,
                                quint64 generation) {
    // Its own hold on the socket library: the handler may be gone before this ends.
    sockets::startup();
    struct Finish {
        Anchor& anchor;
        ~Finish() {
            {
                std::lock_guard lock(anchor.mutex);
                if (anchor.handler) {
                    anchor.handler->finishConnect();
                }
            }
            sockets::cleanup();
        }
    } finish{*anchor};
    const auto current = [&] { return anchor->generation == generation; };

    ConnectPlan plan;
    {
        std::lock_guard lock(anchor->mutex);
        if (!anchor->handler || !anchor->handler->beginConnect(generation, plan)) {
            return;
        }
    }
    const std::string host = plan.server.host.toStdString();

    // Blocks without a lock and without the handler: a look-up cannot be woken.
    const std::optional<sockets::Endpoint> tcpEndpoint =
        plan.resolve(host, plan.server.tcpPort, sockets::Kind::Stream);
    const std::string tcpAddress = tcpEndpoint ? sockets::formatAddress(*tcpEndpoint) : std::string();
    int error = 0;
    sockets::Handle tcp = sockets::kInvalidHandle;
    {
        std::lock_guard lock(anchor->mutex);
        NetworkHandler* handler = anchor->handler;
        if (!handler) {
            return;
        }
        if (!tcpEndpoint) {
            handler->failConnect(generation,
                                 QStringLiteral("Failed to resolve server address %1").arg(utf8(host)));
            return;
        }
        tcp = sockets::open(*tcpEndpoint, error);
        if (tcp == sockets::kInvalidHandle) {
            handler->failConnect(generation, connectFailure(host, tcpAddress, error));
            return;
        }
        // Registered until the auth line is out, so that a newer connect, a
        // disconnect or the handler's end can wake it.
        std::lock_guard pending(handler->m_pendingMutex);
        handler->m_pending.emplace_back(generation, tcp);
    }

    // Registered before this check, so a disconnect from here on wakes it.
    error = current() ? sockets::connect(tcp, *tcpEndpoint, plan.connectTimeout) : 0;
    QString failure;
    sockets::Handle udp = sockets::kInvalidHandle;
    std::string udpAddress;
    if (error != 0) {
        failure = connectFailure(host, tcpAddress, error);
    } else if (current()) {
        // Without the voice path there is no session: never report it connected.
        const auto udpEndpoint = plan.resolve(host, plan.server.udpPort, sockets::Kind::Datagram);
        if (!udpEndpoint) {
            failure = QStringLiteral("Failed to resolve voice address %1").arg(utf8(host));
        } else {
            udpAddress = sockets::formatAddress(*udpEndpoint);
            udp = sockets::open(*udpEndpoint, error);
            if (udp != sockets::kInvalidHandle) {
                error = sockets::connect(udp, *udpEndpoint, plan.connectTimeout);
            }
            if (error != 0) {
                failure = connectFailure(host, udpAddress, error);
            }
        }
        if (failure.isEmpty()) {
            // The auth line goes out before the socket is shared, so it is always first.
            const std::string line = authLine(auth);
            error = sockets::sendAll(tcp, line.data(), line.size(), plan.sendTimeout);
            if (error != 0) {
                failure = connectFailure(host, tcpAddress, error);
            }
        }
    }

    std::lock_guard lock(anchor->mutex);
    NetworkHandler* handler = anchor->handler;
    if (handler) {
        std::lock_guard pending(handler->m_pendingMutex);
        std::erase(handler->m_pending, std::pair{generation, tcp});
    }
    if (!handler || !current()) {
        closeSockets(tcp, udp);
        if (handler) {
            qDebug() << "NetworkHandler: connect abandoned";
        }
        return;
    }
    if (!failure.isEmpty()) {
        closeSockets(tcp, udp);
        handler->failConnect(generation, failure);
        return;
    }
    qDebug().noquote() << "NetworkHandler: TCP connection established with" << utf8(tcpAddress);
    qDebug().noquote() << "NetworkHandler: UDP connection established with" << utf8(udpAddress);
    handler->publishConnection(generation, tcp, udp);
}

void NetworkHandler::publishConnection(quint64 generation, sockets::Handle tcp, sockets::Handle udp) {
    std::lock_guard lock(m_lifecycleMutex);
    if (!isCurrent(generation)) {
        closeSockets(tcp, udp);
        return;
    }
    {
        std::scoped_lock guard(m_controlSendMutex, m_datagramMutex, m_handleMutex);
        m_tcpSocket = tcp;
        m_udpSocket = udp;
        m_writerRunning = true;
        m_givenUpReason.clear();
    }
    qDebug() << "NetworkHandler: Authentication information sent";

    m_writeError = 0;
    m_connected = true;
    m_tcpRunning = true;
    m_udpRunning = true;
    heard(); // the silence the ping thread watches starts now
    // Posted before the readers start, so it precedes everything they report.
    post({generation, Event::Kind::State, true, {}, {}});
    m_tcpThread = std::thread(&NetworkHandler::tcpReceiveLoop, this, generation, tcp);
    m_udpThread = std::thread(&NetworkHandler::udpReceiveLoop, this, generation, udp);
    m_writerThread = std::thread(&NetworkHandler::controlWriteLoop, this, tcp);
    rebuildHello();
    sendHello();
    startPingThread();
    qInfo() << "NetworkHandler: Voice server connected";
}

void NetworkHandler::failConnect(quint64 generation, const QString& text) {
    if (!isCurrent(generation)) {
        return;
    }
    qWarning().noquote() << "NetworkHandler:" << text;
    post({generation, Event::Kind::Error, false, {}, text});
    post({generation, Event::Kind::State, false, {}, {}});
}

void NetworkHandler::closeSockets(sockets::Handle tcp, sockets::Handle udp) {
    sockets::close(tcp);
    sockets::close(udp);
}

} // namespace velk::voice
