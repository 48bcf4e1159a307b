#pragma once

#include "common/Deployment.h"
#include "voice/ControlMessage.h"
#include "voice/SocketLayer.h"
#include "voice/VoicePacket.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velk::voice {

// Transport of the voice service: a TCP control connection of JSON lines and
// a UDP path of voice datagrams, with a receive thread for each and a ping
// thread. Its signals are emitted on the owner's thread, and only for the
// current connection: each connect and disconnect starts a new generation,
// and whatever an older one still reports is dropped.
class NetworkHandler : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultPingInterval{15000};
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{10000};
    // About one second of 20 ms voice frames waiting for the event loop.
    static constexpr std::size_t kMaxQueuedVoicePackets = 50;
    // Largest UDP payload over IPv4.
    static constexpr std::size_t kDatagramBufferSize = 65507;

    explicit NetworkHandler(QObject* parent = nullptr);
    ~NetworkHandler() override;

    // Blocking connect; the voice client runs it on a pool thread. Same as
    // runConnect(auth, prepareConnect()).
    void connectToServer(const QString& auth);
    // Starts a new generation for a connect and counts it in flight; call it
    // on the owner's thread, then runConnect on any thread.
    quint64 prepareConnect();
    // Connects for `generation`; gives up quietly once it is no longer current.
    void runConnect(const QString& auth, quint64 generation);
    // Sends "disconnect", reports the socket state false at once and stops.
    void disconnectFromServer();
    // Stops threads and sockets without a message or a signal.
    void stop();

    void sendControlMessage(const ControlMessage& message);
    void sendDatagram(const std::vector<std::uint8_t>& datagram);
    void setCid(quint32 cid);
    void setCallsign(const std::string& callsign);
    void startPingThread();

    // Where to connect: the deployment's voice server unless set here.
    void setServer(const deployment::VoiceServer& server);
    void setPingInterval(std::chrono::milliseconds interval);
    void setConnectTimeout(std::chrono::milliseconds timeout);

    bool isConnected() const { return m_connected; }
    // A connect of the current generation waits for the server to answer.
    bool connectPending() const;
    int connectsInFlight() const;
    quint64 droppedDatagrams() const { return m_droppedDatagrams; }
    quint64 droppedVoicePackets() const { return m_droppedVoicePackets; }

signals:
    void socketStateChanged(bool connected);
    void controlMessageReceived(const velk::voice::ControlMessage& msg);
    void voicePacketReceived(const velk::voice::VoicePacket& pkt);
    void errorOccurred(const QString& error);

private:
    struct Event {
        enum class Kind : std::uint8_t { State, Control, Error };
        quint64 generation = 0;
        Kind kind = Kind::State;
        bool connected = false;
        ControlMessage message;
        QString error;
    };

    void stopThreads();
    void tcpReceiveLoop(quint64 generation, sockets::Handle socket);
    void udpReceiveLoop(quint64 generation, sockets::Handle socket);
    void pingLoop();
    void handleDatagram(quint64 generation, const std::uint8_t* data, std::size_t length);
    void parseControlMessage(quint64 generation, std::string_view line);
    void logError(const QString& text);

    bool isCurrent(quint64 generation) const { return m_generation == generation; }
    void cancelPendingConnects();
    void wakePingThread();
    // Clears the loop flags and wakes every thread blocked on the sockets.
    void haltLoops();
    void failConnect(quint64 generation, const QString& text);
    void loseConnection(quint64 generation, const QString& error);
    void sendHello();
    void rebuildHello();
    void closeSockets(sockets::Handle tcp, sockets::Handle udp);
    void finishConnect();

    void post(Event event);
    void postVoicePacket(quint64 generation, VoicePacket packet);
    void drainInbox();

    std::atomic<quint64> m_generation{0};

    // Connect publication and stopThreads run one at a time.
    std::mutex m_lifecycleMutex;
    std::thread m_tcpThread;
    std::thread m_udpThread;
    std::thread m_pingThread;

    // Senders hold m_sendMutex for a whole line or datagram, so lines never
    // interleave and no descriptor is closed under a send; m_handleMutex
    // guards the handle values themselves. Order: send, then handle.
    std::mutex m_sendMutex;
    mutable std::mutex m_handleMutex;
    sockets::Handle m_tcpSocket = sockets::kInvalidHandle;
    sockets::Handle m_udpSocket = sockets::kInvalidHandle;
    quint64 m_socketGeneration = 0;

    std::atomic<bool> m_tcpRunning{false};
    std::atomic<bool> m_udpRunning{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_pingRunning{false};

    std::mutex m_pingMutex;
    std::condition_variable m_pingWake;

    // Sockets of connects still waiting for the server, so that a newer
    // connect or a disconnect can wake them.
    mutable std::mutex m_pendingMutex;
    std::vector<std::pair<quint64, sockets::Handle>> m_pending;
    int m_connectsInFlight = 0;
    std::condition_variable m_connectsDone;

    mutable std::mutex m_identityMutex;
    quint32 m_cid = 0;
    std::string m_callsign;
    std::vector<std::uint8_t> m_hello;

    mutable std::mutex m_configMutex;
    std::optional<deployment::VoiceServer> m_server;
    std::atomic<std::int64_t> m_pingIntervalMs{kDefaultPingInterval.count()};
    std::atomic<std::int64_t> m_connectTimeoutMs{kDefaultConnectTimeout.count()};

    std::mutex m_inboxMutex;
    std::deque<Event> m_events;
    std::deque<std::pair<quint64, VoicePacket>> m_voicePackets;
    bool m_drainPosted = false;

    std::atomic<quint64> m_droppedDatagrams{0};
    std::atomic<quint64> m_droppedVoicePackets{0};
    std::atomic<quint64> m_failedDatagramSends{0};
    std::atomic<quint64> m_badControlLines{0};
};

} // namespace velk::voice
