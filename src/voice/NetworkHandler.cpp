#include "voice/NetworkHandler.h"

#include "voice/ControlLineReader.h"
#include "voice/LogThrottle.h"

#include <QDebug>
#include <QMetaObject>

#include <exception>

namespace velk::voice {

namespace {

// Control lines arrive one at a time, not as a datagram flood: a few more of
// them are worth seeing before the log is thinned.
constexpr quint64 kWarnedControlLines = 10;

QString utf8(const std::string& text) {
    return QString::fromStdString(text);
}

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

QString connectionLost(int error) {
    return QStringLiteral("Voice server connection lost: %1 (errno=%2)")
        .arg(utf8(sockets::errorText(error)))
        .arg(error);
}

} // namespace

NetworkHandler::NetworkHandler(QObject* parent) : QObject(parent) {
    sockets::startup();
    m_anchor->handler = this;
    m_resolver = &sockets::resolve;
    connect(this, &NetworkHandler::errorOccurred, this, &NetworkHandler::logError, Qt::DirectConnection);
}

NetworkHandler::~NetworkHandler() {
    {
        // A connect thread may sit in a name look-up that nothing can wake: it
        // is not waited for. Its socket is woken and forgotten under the
        // anchor's lock, so the thread closes it only after that.
        std::lock_guard lock(m_anchor->mutex);
        ++m_anchor->generation;
        cancelPendingConnects();
        std::lock_guard pending(m_pendingMutex);
        m_pending.clear();
        m_anchor->handler = nullptr;
    }
    stop();
    sockets::cleanup();
}

void NetworkHandler::setServer(const deployment::VoiceServer& server) {
    std::lock_guard lock(m_configMutex);
    m_server = server;
}

void NetworkHandler::setPingInterval(std::chrono::milliseconds interval) {
    m_pingIntervalMs = interval.count();
}

void NetworkHandler::setConnectTimeout(std::chrono::milliseconds timeout) {
    m_connectTimeoutMs = timeout.count();
}

void NetworkHandler::setSendTimeout(std::chrono::milliseconds timeout) {
    m_sendTimeoutMs = timeout.count();
}

void NetworkHandler::setResolver(Resolver resolver) {
    std::lock_guard lock(m_configMutex);
    m_resolver = std::move(resolver);
}

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
            error = sockets::setSendTimeout(tcp, plan.sendTimeout);
            if (error == 0) {
                error = sockets::sendAll(tcp, line.data(), line.size());
            }
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
        m_socketGeneration = generation;
    }
    qDebug() << "NetworkHandler: Authentication information sent";

    m_connected = true;
    m_tcpRunning = true;
    m_udpRunning = true;
    // Posted before the readers start, so it precedes everything they report.
    post({generation, Event::Kind::State, true, {}, {}});
    m_tcpThread = std::thread(&NetworkHandler::tcpReceiveLoop, this, generation, tcp);
    m_udpThread = std::thread(&NetworkHandler::udpReceiveLoop, this, generation, udp);
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

void NetworkHandler::disconnectFromServer() {
    ControlMessage goodbye;
    goodbye.type = ControlMessageType::Disconnect;
    {
        std::lock_guard lock(m_identityMutex);
        goodbye.cid = static_cast<std::int32_t>(m_cid);
    }
    sendControlMessage(goodbye);
    ++m_anchor->generation;
    cancelPendingConnects();
    emit socketStateChanged(false);
    {
        std::lock_guard lock(m_lifecycleMutex);
        stopThreads();
    }
    qInfo() << "NetworkHandler: disconnected";
}

void NetworkHandler::stop() {
    ++m_anchor->generation;
    cancelPendingConnects();
    std::lock_guard lock(m_lifecycleMutex);
    stopThreads();
}

void NetworkHandler::haltLoops() {
    m_tcpRunning = false;
    m_udpRunning = false;
    wakePingThread();
    // Closing alone does not wake a thread blocked in recv or send: shut the
    // sockets down first; they are closed only once the threads are joined.
    std::lock_guard lock(m_handleMutex);
    sockets::shutdown(m_tcpSocket);
    sockets::shutdown(m_udpSocket);
}

void NetworkHandler::stopThreads() {
    m_connected = false;
    haltLoops();
    for (std::thread* thread : {&m_pingThread, &m_tcpThread, &m_udpThread}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    std::scoped_lock lock(m_controlSendMutex, m_datagramMutex, m_handleMutex);
    closeSockets(m_tcpSocket, m_udpSocket);
    m_tcpSocket = m_udpSocket = sockets::kInvalidHandle;
}

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

void NetworkHandler::loseConnection(quint64 generation, const QString& error) {
    // Whoever clears the flag reports the loss, so it is reported once.
    if (!m_connected.exchange(false)) {
        return;
    }
    haltLoops();
    if (!error.isEmpty()) {
        qWarning().noquote() << "NetworkHandler:" << error;
        post({generation, Event::Kind::Error, false, {}, error});
    }
    post({generation, Event::Kind::State, false, {}, {}});
}

void NetworkHandler::setCid(quint32 cid) {
    {
        std::lock_guard lock(m_identityMutex);
        m_cid = cid;
    }
    rebuildHello();
}

void NetworkHandler::setCallsign(const std::string& callsign) {
    {
        std::lock_guard lock(m_identityMutex);
        m_callsign = callsign;
    }
    rebuildHello();
}

void NetworkHandler::rebuildHello() {
    std::lock_guard lock(m_identityMutex);
    try {
        m_hello = encodeVoicePacket(m_cid, 0, 0, m_callsign, {});
    } catch (const std::exception& e) {
        m_hello.clear();
        qWarning() << "NetworkHandler: no voice hello:" << e.what();
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

void NetworkHandler::tcpReceiveLoop(quint64 generation, sockets::Handle socket) {
    ControlLineReader reader;
    QString reason;
    while (m_tcpRunning) {
        const std::span<char> space = reader.writable();
        const sockets::IoResult got = sockets::receive(socket, space.data(), space.size());
        if (got.bytes < 0 && sockets::isInterrupted(got.error)) {
            continue;
        }
        if (got.bytes <= 0) {
            reason = got.bytes == 0 ? QStringLiteral("Voice server closed the connection")
                                    : connectionLost(got.error);
            break;
        }
        reader.commit(
            static_cast<std::size_t>(got.bytes),
            [&](std::string_view line) {
                // Nothing more once the connection is given up.
                if (m_tcpRunning) {
                    parseControlMessage(generation, line);
                }
            },
            [](std::size_t dropped) {
                qWarning() << "NetworkHandler: control line longer than" << ControlLineReader::kMaxPendingLine
                           << "bytes dropped after" << dropped << "bytes";
            });
    }
    // Reported only when the loss is not our own stop.
    loseConnection(generation, reason);
}

void NetworkHandler::parseControlMessage(quint64 generation, std::string_view line) {
    try {
        if (!post({generation, Event::Kind::Control, false, readControlMessage(line), {}},
                  kMaxQueuedControlEvents)) {
            loseConnection(generation,
                           QStringLiteral("Voice server sent control messages faster than they can be "
                                          "handled (%1 waiting); disconnected")
                               .arg(kMaxQueuedControlEvents));
        }
    } catch (const std::exception& e) {
        // A control line is up to 64 KB and its text may be in the message: the start is enough.
        if (worthWarning(++m_badControlLines, kWarnedControlLines)) {
            qWarning().noquote() << "NetworkHandler: failed to parse control message:"
                                 << QString::fromUtf8(e.what()).left(200);
        }
    }
}

void NetworkHandler::udpReceiveLoop(quint64 generation, sockets::Handle socket) {
    std::vector<std::uint8_t> buffer(kDatagramBufferSize);
    bool failing = false;
    while (m_udpRunning) {
        const sockets::IoResult got = sockets::receive(socket, buffer.data(), buffer.size());
        if (!m_udpRunning) {
            break;
        }
        if (got.bytes >= 0) {
            failing = false;
            handleDatagram(generation, buffer.data(), static_cast<std::size_t>(got.bytes));
            continue;
        }
        // Refused: an earlier send found the server's voice side not up yet.
        if (sockets::isInterrupted(got.error) || sockets::isRefused(got.error)) {
            continue;
        }
        if (!failing) {
            failing = true;
            const QString text = QStringLiteral("Voice path receive failed: %1 (errno=%2)")
                                     .arg(utf8(sockets::errorText(got.error)))
                                     .arg(got.error);
            qWarning().noquote() << "NetworkHandler:" << text;
            post({generation, Event::Kind::Error, false, {}, text});
        }
        std::unique_lock lock(m_pingMutex);
        m_pingWake.wait_for(lock, std::chrono::milliseconds(100), [this] { return !m_udpRunning; });
    }
}

void NetworkHandler::handleDatagram(quint64 generation, const std::uint8_t* data, std::size_t length) {
    VoiceDecodeError error = VoiceDecodeError::None;
    std::optional<VoicePacket> packet = decodeVoicePacket(data, length, &error);
    if (packet) {
        postVoicePacket(generation, std::move(*packet));
        return;
    }
    const quint64 dropped = ++m_droppedDatagrams;
    if (worthWarning(dropped)) {
        qWarning().noquote() << QStringLiteral(
                                    "NetworkHandler: voice datagram of %1 bytes dropped: %2 (%3 so far)")
                                    .arg(length)
                                    .arg(QLatin1String(voiceDecodeErrorText(error)))
                                    .arg(dropped);
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

void NetworkHandler::logError(const QString& text) {
    qCritical().noquote() << text;
}

bool NetworkHandler::post(Event event, std::size_t limit) {
    bool drain = false;
    {
        std::lock_guard lock(m_inboxMutex);
        if (m_events.size() >= limit) {
            return false;
        }
        m_events.push_back(std::move(event));
        drain = !std::exchange(m_drainPosted, true);
    }
    if (drain) {
        QMetaObject::invokeMethod(this, &NetworkHandler::drainInbox, Qt::QueuedConnection);
    }
    return true;
}

void NetworkHandler::postVoicePacket(quint64 generation, VoicePacket packet) {
    bool drain = false;
    quint64 dropped = 0;
    {
        std::lock_guard lock(m_inboxMutex);
        if (m_voicePackets.size() >= kMaxQueuedVoicePackets) {
            m_voicePackets.pop_front(); // late voice is worth less than current voice
            dropped = ++m_droppedVoicePackets;
        }
        m_voicePackets.emplace_back(generation, std::move(packet));
        drain = !std::exchange(m_drainPosted, true);
    }
    if (dropped && worthWarning(dropped)) {
        qWarning() << "NetworkHandler: voice packets arrive faster than they are handled;" << dropped
                   << "dropped so far";
    }
    if (drain) {
        QMetaObject::invokeMethod(this, &NetworkHandler::drainInbox, Qt::QueuedConnection);
    }
}

void NetworkHandler::drainInbox() {
    std::deque<Event> events;
    std::deque<std::pair<quint64, VoicePacket>> packets;
    {
        std::lock_guard lock(m_inboxMutex);
        events.swap(m_events);
        packets.swap(m_voicePackets);
        m_drainPosted = false;
    }
    // A receiver may disconnect or reconnect while handling one of these, so
    // the generation is checked for each.
    for (const Event& event : events) {
        if (!isCurrent(event.generation)) {
            continue;
        }
        switch (event.kind) {
        case Event::Kind::State:
            emit socketStateChanged(event.connected);
            break;
        case Event::Kind::Control:
            emit controlMessageReceived(event.message);
            break;
        case Event::Kind::Error:
            emit errorOccurred(event.error);
            break;
        }
    }
    for (const auto& [generation, packet] : packets) {
        if (isCurrent(generation)) {
            emit voicePacketReceived(packet);
        }
    }
}

} // namespace velk::voice
