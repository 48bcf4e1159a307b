// Voice transport: lifecycle, identity, losses and the inbox that hands
// events to the owner's thread.
#include "voice/NetworkHandler.h"

#include "common/LogThrottle.h"

#include <QDebug>
#include <QMetaObject>

#include <exception>

namespace velk::voice {

NetworkHandler::NetworkHandler(QObject* parent) : QObject(parent) {
    sockets::startup();
    m_anchor->handler = this;
    m_resolver = &sockets::resolve;
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

void NetworkHandler::disconnectFromServer() {
    sendGoodbye();
    ++m_anchor->generation;
    cancelPendingConnects();
    emit socketStateChanged(false, {}, false);
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
    {
        std::lock_guard lock(m_controlSendMutex);
        m_writerRunning = false;
    }
    m_controlWake.notify_all();
    // Closing alone does not wake a thread blocked in recv or send: shut the
    // sockets down first; they are closed only once the threads are joined.
    std::lock_guard lock(m_handleMutex);
    sockets::shutdown(m_tcpSocket);
    sockets::shutdown(m_udpSocket);
}

void NetworkHandler::stopThreads() {
    m_connected = false;
    haltLoops();
    for (std::thread* thread : {&m_pingThread, &m_writerThread, &m_tcpThread, &m_udpThread}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    std::scoped_lock lock(m_controlSendMutex, m_datagramMutex, m_handleMutex);
    closeSockets(m_tcpSocket, m_udpSocket);
    m_tcpSocket = m_udpSocket = sockets::kInvalidHandle;
    m_controlLines.clear();
    m_frontWritten = 0;
    m_frontDeadline.reset();
}

void NetworkHandler::loseConnection(quint64 generation, const QString& reason, bool byServer,
                                    bool dropBacklog) {
    {
        // Whoever clears the flag reports the loss, so it is reported once,
        // after the messages already queued; post() takes no more of the
        // connection after that. Voice has nowhere to play once it is lost.
        std::lock_guard lock(m_inboxMutex);
        if (!m_connected.exchange(false)) {
            return;
        }
        if (dropBacklog) {
            std::erase_if(m_events, [generation](const Event& event) {
                return event.generation == generation && event.kind == Event::Kind::Control;
            });
        }
        std::erase_if(m_voicePackets,
                      [generation](const auto& packet) { return packet.first == generation; });
    }
    haltLoops();
    if (!reason.isEmpty()) {
        // The one log line of the loss: errorOccurred is not logged again.
        qWarning().noquote() << "NetworkHandler:" << reason;
        post({generation, Event::Kind::Error, false, {}, reason});
    }
    post({generation, Event::Kind::State, false, {}, reason, byServer});
}

void NetworkHandler::giveUpLocked(const QString& reason) {
    if (!m_writerRunning) {
        return; // already lost, failed or stopping: that report stands
    }
    m_writerRunning = false;
    m_givenUpReason = reason;
    m_controlWake.notify_all();
    // Lines the server sent before are still in the socket: the reader takes
    // them first, then finds the end there.
    std::lock_guard handles(m_handleMutex);
    sockets::shutdown(m_tcpSocket);
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

bool NetworkHandler::post(Event event, std::size_t limit) {
    bool drain = false;
    {
        std::lock_guard lock(m_inboxMutex);
        if (event.kind == Event::Kind::Control && !m_connected) {
            return true; // the connection is lost: its messages with it
        }
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
        if (!m_connected) {
            return;
        }
        if (m_voicePackets.size() >= kMaxQueuedVoicePackets) {
            m_voicePackets.pop_front(); // late voice is worth less than current voice
            dropped = ++m_droppedVoicePackets;
        }
        m_voicePackets.emplace_back(generation, std::move(packet));
        drain = !std::exchange(m_drainPosted, true);
    }
    if (dropped && common::worthWarning(dropped)) {
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
            emit socketStateChanged(event.connected, event.error, event.byServer);
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
