#pragma once

#include "fsd/LineFramer.h"
#include "fsd/pdu/Packets.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace velk::fsd {

// The TCP connection to an FSD server: frames, sends, receives and dispatches
// packets, one signal per received packet type. Everything runs on the thread
// that owns the object; every signal is emitted synchronously on it.
//
// Life of a connection: connectToServer -> raiseNetworkConnected -> packets ->
// exactly one raiseNetworkDisconnected, whether the connection ends by
// disconnectFromServer, a remote close, a reset or a network error (the error
// is raised first). A failed attempt raises only raiseNetworkError.
class FsdClient : public QObject {
    Q_OBJECT

public:
    // Blocking host-name look-up; runs on a worker thread.
    using HostResolver = std::function<QList<QHostAddress>(const QString& host)>;

    // How long connectToServer waits for a host-name look-up before it lets
    // the look-up finish in the background.
    static constexpr int kResolveWaitMs = 300;
    // How long a closing socket may take to hand its last bytes to the server.
    static constexpr int kCloseTimeoutMs = 5000;
    // Most bytes queued for a server that does not read: past half of it ping
    // answers are dropped; a packet that would pass all of it ends the
    // connection with a network error.
    static constexpr qint64 kDefaultSendBufferLimit = 4 * 1024 * 1024;
    // What the client sends must be acknowledged within this time, or the
    // connection is lost: a dead network path ends in about a minute instead
    // of the system's quarter of an hour of retransmissions. Only bytes
    // waiting to be acknowledged are timed, so a server that is merely quiet
    // never ends it, and what the server sends meanwhile does not count.
    static constexpr int kDefaultUnacknowledgedTimeoutMs = 60000;
    // The check runs this many times per time-out. A check that finds bytes
    // waiting and nothing acknowledged since the one before starts the count;
    // the connection ends at the check this many after it.
    static constexpr int kAcknowledgementChecks = 12;

    explicit FsdClient(QObject* parent = nullptr);
    ~FsdClient() override;

    // Starts a connection. An IP literal is used as is; a host name is
    // resolved to its first IPv4 address. Returns false, after raising
    // "Network server address returned null, possibly due to a failed DNS
    // lookup.", when the name resolves to nothing within kResolveWaitMs. A
    // slower look-up continues in the background and the call returns true;
    // its failure is then raised later the same way. An open connection is
    // ended first (with its raiseNetworkDisconnected).
    bool connectToServer(const QString& host, quint16 port);

    // Ends the connection or the attempt: clears the connected flag, raises
    // raiseNetworkDisconnected, then closes the socket after the bytes already
    // written have reached the server. Nothing happens when neither a
    // connection nor an attempt is open.
    void disconnectFromServer();

    // Sends one line while connected; an empty line or a closed connection
    // sends nothing. The line is written as one packet ending in "\r\n" (a
    // missing line end is added; CR, LF or NUL inside it become spaces) and
    // raiseRawDataSent reports it as written. True when the line was written;
    // false too for a ping answer dropped, or a line refused, for a full send
    // buffer (the latter ends the connection with a network error), and for
    // a socket found dead, whose end is still to be handled (no report).
    bool sendData(const QString& data);

    // True from the socket's connection until the connection ends.
    bool isConnected() const { return m_connected; }

    // Replaces the host-name look-up (tests use it to control its timing).
    void setHostResolver(HostResolver resolver);
    void setSendBufferLimit(qint64 bytes) { m_sendBufferLimit = bytes; }
    // Applies from the next connection on.
    void setUnacknowledgedTimeout(int ms) { m_unacknowledgedTimeoutMs = ms; }
    int unacknowledgedTimeout() const { return m_unacknowledgedTimeoutMs; }
    // One check of the time-out, as its timer runs it every
    // unacknowledgedTimeout() / kAcknowledgementChecks while connected. Where
    // the system cannot tell what waits unacknowledged it does nothing.
    void checkAcknowledgement();
    // The last connection was lost because what it sent went unacknowledged:
    // by the check above, or by the system with any error but the server's
    // close or reset as its first (not an end of the client's own); read it
    // on raiseNetworkDisconnected. Cleared when a connection starts.
    bool lostUnacknowledged() const { return m_lostUnacknowledged; }

signals:
    void raiseNetworkConnected();
    void raiseNetworkDisconnected();
    // Socket errors: "<error text>: <SocketError name>"; malformed packets:
    // "<what is wrong> (Raw packet: <line>)"; unknown packets: "Invalid PDU type.".
    void raiseNetworkError(QString error);
    void raiseRawDataSent(QString data);
    // Each received line with "\r\n" appended, before it is dispatched.
    void raiseRawDataReceived(QString data);

    void raiseServerIdentificationReceived(const velk::fsd::pdu::ServerIdentification& pdu);
    void raiseClientIdentificationReceived(const velk::fsd::pdu::ClientIdentification& pdu);
    void raiseAddPilotReceived(const velk::fsd::pdu::AddPilot& pdu);
    void raiseAddATCReceived(const velk::fsd::pdu::AddATC& pdu);
    void raiseDeletePilotReceived(const velk::fsd::pdu::DeletePilot& pdu);
    void raiseDeleteATCReceived(const velk::fsd::pdu::DeleteATC& pdu);
    void raisePilotPositionReceived(const velk::fsd::pdu::PilotPosition& pdu);
    void raiseFastPilotPositionReceived(const velk::fsd::pdu::FastPilotPosition& pdu);
    void raiseATCPositionReceived(const velk::fsd::pdu::ATCPosition& pdu);
    void raiseSendFastReceived(const velk::fsd::pdu::SendFast& pdu);
    void raiseTextMessageReceived(const velk::fsd::pdu::TextMessage& pdu);
    void raiseRadioMessageReceived(const velk::fsd::pdu::RadioMessage& pdu);
    void raiseBroadcastMessageReceived(const velk::fsd::pdu::BroadcastMessage& pdu);
    void raiseWallopReceived(const velk::fsd::pdu::Wallop& pdu);
    void raisePlaneInfoRequestReceived(const velk::fsd::pdu::PlaneInfoRequest& pdu);
    void raisePlaneInfoResponseReceived(const velk::fsd::pdu::PlaneInfoResponse& pdu);
    void raiseFlightPlanReceived(const velk::fsd::pdu::FlightPlan& pdu);
    void raiseClientQueryReceived(const velk::fsd::pdu::ClientQuery& pdu);
    void raiseClientQueryResponseReceived(const velk::fsd::pdu::ClientQueryResponse& pdu);
    void raisePingReceived(const velk::fsd::pdu::Ping& pdu);
    void raisePongReceived(const velk::fsd::pdu::Pong& pdu);
    void raiseMetarResponseReceived(const velk::fsd::pdu::MetarResponse& pdu);
    void raiseKillRequestReceived(const velk::fsd::pdu::KillRequest& pdu);
    void raiseProtocolErrorReceived(const velk::fsd::pdu::ProtocolError& pdu);
    void raiseMuteReceived(const velk::fsd::pdu::Mute& pdu);

private:
    enum class State { Idle, Resolving, Connecting, Connected };
    struct PendingLookup;

    void startConnect(const QHostAddress& address, quint16 port);
    void onResolveTick();
    void onSocketConnected();
    void onSocketError(QTcpSocket* socket);
    void onSocketStateChanged(QTcpSocket* socket);
    void onReadyRead(QTcpSocket* socket);
    void connectionLost(QTcpSocket* socket);
    void processLines();
    void dispatchLine(const QString& line);
    void dispatch(const pdu::Packet& packet);
    QTcpSocket* takeSocket();
    void closeGracefully(QTcpSocket* socket);
    void raiseDnsFailure();
    void endForFullSendBuffer();

    HostResolver m_resolver;
    QTcpSocket* m_socket = nullptr;
    State m_state = State::Idle;
    bool m_connected = false;
    // Changes whenever a connection or attempt ends or starts, so that work
    // begun for one connection stops when it is gone.
    quint64 m_generation = 0;
    bool m_processing = false;
    LineFramer m_framer;
    qint64 m_sendBufferLimit = kDefaultSendBufferLimit;
    qint64 m_droppedPingAnswers = 0;
    int m_unacknowledgedTimeoutMs = kDefaultUnacknowledgedTimeoutMs;
    bool m_lostUnacknowledged = false;
    // The connection's first socket error, kept as it came: a later write
    // on the dead socket replaces the socket's own.
    QAbstractSocket::SocketError m_linkError = QAbstractSocket::UnknownSocketError;
    // Bytes handed to the socket on this connection, those of them known
    // acknowledged at the last check, and the checks since that changed.
    qint64 m_bytesWritten = 0;
    qint64 m_bytesAcknowledged = 0;
    int m_stalledChecks = 0;
    QTimer m_acknowledgementTimer;

    std::shared_ptr<PendingLookup> m_lookup;
    quint16 m_lookupPort = 0;
    QTimer m_resolveTimer;

    // Sockets still handing their last bytes to the server after disconnectFromServer.
    QList<QPointer<QTcpSocket>> m_closingSockets;
};

} // namespace velk::fsd
