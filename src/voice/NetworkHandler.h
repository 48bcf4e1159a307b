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
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velk::voice {

// Transport of the voice service: a TCP control connection of JSON lines and
// a UDP path of voice datagrams, with a receive thread for each, a writer
// thread for control lines and a ping thread. Its signals are emitted on the
// owner's thread, and only for the current connection: each connect and
// disconnect starts a new generation, and whatever an older one still reports
// is dropped. What the server sent before a loss is handed out before it,
// unless the server outran the inbox; its voice is dropped with the loss.
class NetworkHandler : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultPingInterval{15000};
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{10000};
    // A control line that cannot be written whole for this long means a server
    // that no longer reads: the connection counts as lost.
    static constexpr std::chrono::milliseconds kDefaultSendTimeout{5000};
    // Control lines waiting for the writer; a few are normal, more mean a
    // server that no longer reads.
    static constexpr std::size_t kMaxQueuedControlLines = 64;
    // A server that sends nothing at all, not even a pong, for this many ping
    // intervals is gone.
    static constexpr int kSilentPingIntervals = 4;
    // About one second of 20 ms voice frames waiting for the event loop.
    static constexpr std::size_t kMaxQueuedVoicePackets = 50;
    // A server sends a handful of control lines a minute; one that gets this
    // far ahead of the event loop is disconnected.
    static constexpr std::size_t kMaxQueuedControlEvents = 4096;
    // Largest UDP payload over IPv4.
    static constexpr std::size_t kDatagramBufferSize = 65507;

    explicit NetworkHandler(QObject* parent = nullptr);
    ~NetworkHandler() override;

    using Resolver = std::function<std::optional<sockets::Endpoint>(const std::string& host,
                                                                    std::uint16_t port, sockets::Kind)>;

    // Blocking connect on the calling thread.
    void connectToServer(const QString& auth);
    // The same connect on a thread of its own; returns at once. That thread
    // holds only state shared with the handler, so the handler may be
    // destroyed while a name look-up stalls: the thread then finishes alone.
    void connectInBackground(const QString& auth);
    // Tries "disconnect" once without waiting, reports the socket state false
    // at once and stops.
    void disconnectFromServer();
    // Stops threads and sockets without a message or a signal.
    void stop();

    // Queues the line for the writer thread and returns at once.
    void sendControlMessage(const ControlMessage& message);
    void sendDatagram(const std::vector<std::uint8_t>& datagram);
    void setCid(quint32 cid);
    void setCallsign(const std::string& callsign);
    void startPingThread();

    // Where to connect: the deployment's voice server unless set here.
    void setServer(const deployment::VoiceServer& server);
    void setPingInterval(std::chrono::milliseconds interval);
    void setConnectTimeout(std::chrono::milliseconds timeout);
    void setSendTimeout(std::chrono::milliseconds timeout);
    // Replaces the host-name look-up (tests use it to stall it).
    void setResolver(Resolver resolver);

    bool isConnected() const { return m_connected; }
    // A connect of the current generation waits for the server to answer.
    bool connectPending() const;
    int connectsInFlight() const;
    quint64 droppedDatagrams() const { return m_droppedDatagrams; }
    quint64 droppedVoicePackets() const { return m_droppedVoicePackets; }

signals:
    // `reason`: why a connection that was up is lost; empty when connected,
    // stopped or not connected at all. `byServer`: the server closed or reset
    // it, so that its last line may say why.
    void socketStateChanged(bool connected, const QString& reason, bool byServer);
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
        QString error;         // the error; for a lost connection, the loss's reason
        bool byServer = false; // a lost connection the server closed or reset
    };

    // What a connect thread shares with the handler. The handler is reached
    // only through it, under its mutex, and never while the thread blocks on
    // the network; it is null once the handler is destroyed.
    struct Anchor {
        std::mutex mutex;
        NetworkHandler* handler = nullptr;
        // The current connection; a connect thread checks it without the lock.
        std::atomic<quint64> generation{0};
    };
    // What a connect needs from the handler, copied when it starts.
    struct ConnectPlan {
        deployment::VoiceServer server;
        Resolver resolve;
        std::chrono::milliseconds connectTimeout{0};
        std::chrono::milliseconds sendTimeout{0};
    };

    // Starts a new generation for a connect and counts it in flight.
    quint64 prepareConnect();
    // Connects for `generation`; gives up quietly once it is no longer current.
    static void runConnect(const std::shared_ptr<Anchor>& anchor, const QString& auth, quint64 generation);
    // Stops the old connection and fills the plan; false when `generation` is stale.
    bool beginConnect(quint64 generation, ConnectPlan& plan);
    void publishConnection(quint64 generation, sockets::Handle tcp, sockets::Handle udp);

    void stopThreads();
    void tcpReceiveLoop(quint64 generation, sockets::Handle socket);
    void udpReceiveLoop(quint64 generation, sockets::Handle socket);
    void pingLoop();
    void controlWriteLoop(sockets::Handle socket);
    // Writes queued control lines until the socket takes no more, without
    // waiting; 0 or the error code. Called with m_controlSendMutex held.
    int writeQueuedLines(sockets::Handle socket);
    // Notes that something came from the server.
    void heard();
    void handleDatagram(quint64 generation, const std::uint8_t* data, std::size_t length);
    // Hands the line's message to the owner.
    void parseControlMessage(quint64 generation, std::string_view line);

    bool isCurrent(quint64 generation) const { return m_anchor->generation == generation; }
    void cancelPendingConnects();
    void wakePingThread();
    // Clears the loop flags and wakes every thread blocked on the sockets.
    void haltLoops();
    void failConnect(quint64 generation, const QString& text);
    // Reports the loss once: `reason` is logged and emitted as an error, then
    // the state change. `dropBacklog`: the control messages still waiting for
    // the owner go with it.
    void loseConnection(quint64 generation, const QString& reason, bool byServer, bool dropBacklog = false);
    // Gives the connection up on the client's own account: the writer stops
    // and the reader, woken, hands out what the server had already sent before
    // it reports the loss with `reason`. Called with m_controlSendMutex held.
    void giveUpLocked(const QString& reason);
    void sendHello();
    // Queues "disconnect" and writes what it can without waiting.
    void sendGoodbye();
    void rebuildHello();
    static void closeSockets(sockets::Handle tcp, sockets::Handle udp);
    void finishConnect();

    // Queues an event for the owner's thread; false, and nothing queued, when
    // `limit` events already wait.
    bool post(Event event, std::size_t limit = SIZE_MAX);
    void postVoicePacket(quint64 generation, VoicePacket packet);
    void drainInbox();

    const std::shared_ptr<Anchor> m_anchor = std::make_shared<Anchor>();

    // Connect publication and stopThreads run one at a time.
    std::mutex m_lifecycleMutex;
    std::thread m_tcpThread;
    std::thread m_udpThread;
    std::thread m_pingThread;
    std::thread m_writerThread;

    // m_controlSendMutex guards the control queue and is held only for sends
    // that do not wait; m_datagramMutex is held for a datagram. No descriptor
    // is closed under a send, and a control line held up by the server never
    // delays voice. m_handleMutex guards the handle values themselves. Order:
    // send, then handle.
    std::mutex m_controlSendMutex;
    std::condition_variable m_controlWake;
    // Lines for the writer; the front one may be partly written.
    std::deque<std::string> m_controlLines;
    std::size_t m_frontWritten = 0;
    // When the front line must be out; set when its writing starts.
    std::optional<std::chrono::steady_clock::time_point> m_frontDeadline;
    bool m_writerRunning = false; // guarded by m_controlSendMutex
    // Why the client gave the connection up; guarded by m_controlSendMutex.
    QString m_givenUpReason;
    std::mutex m_datagramMutex;
    mutable std::mutex m_handleMutex;
    sockets::Handle m_tcpSocket = sockets::kInvalidHandle;
    sockets::Handle m_udpSocket = sockets::kInvalidHandle;

    std::atomic<bool> m_tcpRunning{false};
    std::atomic<bool> m_udpRunning{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_pingRunning{false};
    // Steady-clock time of the last bytes from the server, in clock ticks.
    std::atomic<std::int64_t> m_lastHeardNs{0};
    // Why the writer found the connection dead; the reader reports it once it
    // has handed out what the server sent before.
    std::atomic<int> m_writeError{0};

    std::mutex m_pingMutex;
    std::condition_variable m_pingWake;

    // Sockets of connects still waiting for the server, so that a newer
    // connect or a disconnect can wake them.
    mutable std::mutex m_pendingMutex;
    std::vector<std::pair<quint64, sockets::Handle>> m_pending;
    int m_connectsInFlight = 0;

    mutable std::mutex m_identityMutex;
    quint32 m_cid = 0;
    std::string m_callsign;
    std::vector<std::uint8_t> m_hello;

    mutable std::mutex m_configMutex;
    std::optional<deployment::VoiceServer> m_server;
    std::atomic<std::int64_t> m_pingIntervalMs{kDefaultPingInterval.count()};
    std::atomic<std::int64_t> m_connectTimeoutMs{kDefaultConnectTimeout.count()};
    std::atomic<std::int64_t> m_sendTimeoutMs{kDefaultSendTimeout.count()};
    Resolver m_resolver; // guarded by m_configMutex

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
