#include "fsd/FsdClient.h"

#include "fsd/PDUFormatException.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#if defined(Q_OS_LINUX)
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace velk::fsd {

using exception::PDUFormatException;

namespace {

const QString kDnsFailure =
    QStringLiteral("Network server address returned null, possibly due to a failed DNS lookup.");
const QString kInvalidPduType = QStringLiteral("Invalid PDU type.");

QString socketErrorText(const QTcpSocket* socket) {
    const QAbstractSocket::SocketError error = socket->error();
    const char* name = QMetaEnum::fromType<QAbstractSocket::SocketError>().valueToKey(error);
    return socket->errorString() + QStringLiteral(": ") +
           QLatin1StringView(name != nullptr ? name : "UnknownSocketError");
}

// A malformed login echo could carry a password; keep it out of the error
// text, which is shown and logged.
QString maskSecrets(const QString& line) {
    qsizetype passwordField = -1;
    if (line.startsWith(QLatin1StringView("#AP"))) {
        passwordField = 3;
    } else if (line.startsWith(QLatin1StringView("#AA"))) {
        passwordField = 4;
    } else {
        return line;
    }
    QStringList fields = line.sliced(3).split(u':');
    if (passwordField < fields.size() && !fields[passwordField].isEmpty()) {
        fields[passwordField] = QStringLiteral("******");
    }
    return line.first(3) + fields.join(u':');
}

// The line as one packet: its own line end removed, CR/LF/NUL inside it
// blanked, "\r\n" appended.
QString framedLine(const QString& data) {
    QString line = data;
    if (line.endsWith(u'\n')) {
        line.chop(1);
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    pdu::blankLineBreaks(line);
    line.append(QLatin1StringView("\r\n"));
    return line;
}

// Bytes the system holds for the connection that the server has not
// acknowledged, sent or not yet sent; nothing where the system does not tell.
// The system's own time-out cannot serve: a route gone on this side leaves the
// bytes unsent, and every packet that still arrives starts its count again.
std::optional<qint64> heldUnacknowledged(const QTcpSocket* socket) {
#if defined(Q_OS_LINUX)
    int bytes = 0;
    if (::ioctl(static_cast<int>(socket->socketDescriptor()), SIOCOUTQ, &bytes) == 0) {
        return bytes;
    }
    return std::nullopt;
#else
    Q_UNUSED(socket);
    return std::nullopt;
#endif
}

std::optional<QHostAddress> firstIPv4(const QList<QHostAddress>& addresses) {
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            return address;
        }
    }
    return std::nullopt;
}

} // namespace

struct FsdClient::PendingLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QList<QHostAddress> addresses;
};

FsdClient::FsdClient(QObject* parent)
    : QObject(parent), m_resolver([](const QString& host) { return QHostInfo::fromName(host).addresses(); }),
      m_acknowledgementTimer(this), m_resolveTimer(this) {
    pdu::registerMetaTypes();
    m_resolveTimer.setInterval(20);
    connect(&m_resolveTimer, &QTimer::timeout, this, &FsdClient::onResolveTick);
    connect(&m_acknowledgementTimer, &QTimer::timeout, this, &FsdClient::checkAcknowledgement);
}

FsdClient::~FsdClient() {
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
    }
    // Let closing sockets finish handing over their last bytes on their own.
    for (const QPointer<QTcpSocket>& socket : std::as_const(m_closingSockets)) {
        if (socket) {
            socket->setParent(nullptr);
        }
    }
}

void FsdClient::setHostResolver(HostResolver resolver) {
    m_resolver = std::move(resolver);
}

bool FsdClient::connectToServer(const QString& host, quint16 port) {
    if (m_state != State::Idle) {
        disconnectFromServer();
    }
    const QString name = host.trimmed();
    QHostAddress literal;
    if (literal.setAddress(name)) {
        startConnect(literal, port);
        return true;
    }
    if (name.isEmpty()) {
        raiseDnsFailure();
        return false;
    }

    // Look the name up on a worker thread and wait a little: a quick answer
    // is handled here, a slow one finishes in the background.
    auto lookup = std::make_shared<PendingLookup>();
    std::thread([lookup, resolver = m_resolver, name] {
        QList<QHostAddress> addresses = resolver(name);
        {
            std::lock_guard lock(lookup->mutex);
            lookup->addresses = std::move(addresses);
            lookup->finished = true;
        }
        lookup->done.notify_all();
    }).detach();

    std::unique_lock lock(lookup->mutex);
    if (lookup->done.wait_for(lock, std::chrono::milliseconds(kResolveWaitMs),
                              [&] { return lookup->finished; })) {
        const std::optional<QHostAddress> address = firstIPv4(lookup->addresses);
        lock.unlock();
        if (!address) {
            raiseDnsFailure();
            return false;
        }
        startConnect(*address, port);
        return true;
    }
    lock.unlock();
    m_lookup = std::move(lookup);
    m_lookupPort = port;
    m_state = State::Resolving;
    ++m_generation;
    m_resolveTimer.start();
    return true;
}

void FsdClient::onResolveTick() {
    if (!m_lookup) {
        m_resolveTimer.stop();
        return;
    }
    std::optional<QHostAddress> address;
    {
        std::lock_guard lock(m_lookup->mutex);
        if (!m_lookup->finished) {
            return;
        }
        address = firstIPv4(m_lookup->addresses);
    }
    m_resolveTimer.stop();
    m_lookup.reset();
    m_state = State::Idle;
    if (!address) {
        raiseDnsFailure();
        return;
    }
    startConnect(*address, m_lookupPort);
}

void FsdClient::raiseDnsFailure() {
    emit raiseNetworkError(kDnsFailure);
}

void FsdClient::startConnect(const QHostAddress& address, quint16 port) {
    ++m_generation;
    m_lostUnacknowledged = false;
    m_framer.clear();
    m_state = State::Connecting;
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, &FsdClient::onSocketConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onSocketError(socket); });
    connect(socket, &QTcpSocket::stateChanged, this, [this, socket] { onSocketStateChanged(socket); });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    socket->connectToHost(address, port);
}

void FsdClient::onSocketConnected() {
    if (m_state != State::Connecting || m_socket == nullptr) {
        return;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = State::Connected;
    m_connected = true;
    m_droppedPingAnswers = 0;
    m_bytesWritten = 0;
    m_bytesAcknowledged = 0;
    m_stalledChecks = 0;
    if (heldUnacknowledged(m_socket)) {
        m_acknowledgementTimer.start(std::max(1, m_unacknowledgedTimeoutMs / kAcknowledgementChecks));
    } else {
        qWarning() << "FSD connection: the system does not tell what waits unacknowledged; a dead path "
                      "ends only by its own time-out";
    }
    emit raiseNetworkConnected();
}

void FsdClient::onSocketError(QTcpSocket* socket) {
    if (socket != m_socket) {
        return;
    }
    const QString text = socketErrorText(socket);
    if (m_state == State::Connecting) {
        // The attempt failed: no connection existed, so no disconnect follows.
        closeGracefully(takeSocket());
        emit raiseNetworkError(text);
        return;
    }
    if (m_state != State::Connected) {
        return;
    }
    if (m_linkError == QAbstractSocket::UnknownSocketError) {
        m_linkError = socket->error();
    }
    if (socket->bytesAvailable() > 0) {
        onReadyRead(socket);
        if (socket != m_socket) {
            return;
        }
    }
    const quint64 generation = m_generation;
    emit raiseNetworkError(text);
    if (generation != m_generation) {
        return; // a handler ended the connection
    }
    if (socket->state() != QAbstractSocket::ConnectedState) {
        connectionLost(socket);
        return;
    }
    // Some errors leave the socket dead without a later state change: look
    // again once the socket has finished its own handling.
    QTimer::singleShot(0, this, [this, socket, generation] {
        if (socket == m_socket && generation == m_generation &&
            socket->state() != QAbstractSocket::ConnectedState) {
            connectionLost(socket);
        }
    });
}

void FsdClient::onSocketStateChanged(QTcpSocket* socket) {
    if (socket != m_socket || m_state != State::Connected) {
        return;
    }
    if (socket->state() == QAbstractSocket::ConnectedState) {
        return;
    }
    // The error, when there is one, is raised before the disconnect; Qt
    // raises it before this change, except for errors it reports later in the
    // same turn, which the queued check below leaves room for.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, socket, generation] {
        if (socket == m_socket && generation == m_generation) {
            connectionLost(socket);
        }
    });
}

void FsdClient::connectionLost(QTcpSocket* socket) {
    if (socket != m_socket || m_state != State::Connected) {
        return;
    }
    if (socket->bytesAvailable() > 0) {
        onReadyRead(socket);
        if (socket != m_socket || m_state != State::Connected) {
            return;
        }
    }
    // On a live connection the system reports anything but the server's
    // close or reset only when what was sent stayed unacknowledged until its
    // time-out; it then names the time-out or the last trouble it heard of on
    // the way (an unreachable host, a failed neighbour look-up). Either way
    // the network path is gone. The first error decides: a write after it
    // meets a closed socket and leaves an error of its own.
    const bool pathGone = m_linkError != QAbstractSocket::RemoteHostClosedError &&
                          m_linkError != QAbstractSocket::UnknownSocketError;
    QTcpSocket* lost = takeSocket();
    m_lostUnacknowledged = pathGone;
    lost->abort();
    lost->deleteLater();
    emit raiseNetworkDisconnected();
}

QTcpSocket* FsdClient::takeSocket() {
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    if (socket != nullptr) {
        socket->disconnect(this);
    }
    m_connected = false;
    m_lostUnacknowledged = false;
    m_linkError = QAbstractSocket::UnknownSocketError;
    m_acknowledgementTimer.stop();
    m_state = State::Idle;
    m_framer.clear();
    ++m_generation;
    return socket;
}

void FsdClient::disconnectFromServer() {
    if (m_state == State::Idle) {
        return;
    }
    m_resolveTimer.stop();
    m_lookup.reset();
    QTcpSocket* socket = takeSocket();
    emit raiseNetworkDisconnected();
    closeGracefully(socket);
}

void FsdClient::closeGracefully(QTcpSocket* socket) {
    if (socket == nullptr) {
        return;
    }
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // disconnectFromHost writes what is still buffered before it closes.
    m_closingSockets.removeAll(nullptr);
    m_closingSockets.append(socket);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kCloseTimeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
}

bool FsdClient::sendData(const QString& data) {
    if (!m_connected || m_socket == nullptr || data.isEmpty()) {
        return false;
    }
    const QString line = framedLine(data);
    if (line.size() <= 2) {
        return false; // nothing but a line end
    }
    const QByteArray bytes = line.toUtf8();
    const qint64 queued = m_socket->bytesToWrite() + bytes.size();
    if (queued > m_sendBufferLimit / 2 && line.startsWith(QLatin1StringView("$PO"))) {
        // A server flooding pings it does not read the answers to: answers go first.
        if (m_droppedPingAnswers++ % 1000 == 0) {
            qWarning() << "FSD send buffer filling up; ping answers dropped so far:" << m_droppedPingAnswers;
        }
        return false;
    }
    if (queued > m_sendBufferLimit) {
        endForFullSendBuffer();
        return false;
    }
    if (m_socket->write(bytes) != bytes.size()) {
        qWarning() << "FSD send failed:" << m_socket->errorString();
        return false;
    }
    m_bytesWritten += bytes.size();
    const quint64 generation = m_generation;
    m_socket->flush();
    if (generation != m_generation || !m_socket->isValid()) {
        // The socket died before or during the write; its end is still to be
        // handled, and the line is lost with it.
        return false;
    }
    emit raiseRawDataSent(line);
    return true;
}

void FsdClient::checkAcknowledgement() {
    if (m_state != State::Connected || m_socket->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    const std::optional<qint64> held = heldUnacknowledged(m_socket);
    if (!held) {
        return;
    }
    const qint64 acknowledged = m_bytesWritten - m_socket->bytesToWrite() - *held;
    if (acknowledged == m_bytesWritten || acknowledged != m_bytesAcknowledged) {
        m_bytesAcknowledged = acknowledged;
        m_stalledChecks = 0;
        return;
    }
    // The first check to find the bytes waiting may have come just after they
    // were written: the time-out runs from there.
    if (++m_stalledChecks <= kAcknowledgementChecks) {
        return;
    }
    // Nothing acknowledged for a whole time-out, whatever still arrives: the
    // end the system's own time-out would have made.
    m_linkError = QAbstractSocket::SocketTimeoutError;
    QTcpSocket* socket = m_socket;
    const quint64 generation = m_generation;
    emit raiseNetworkError(QStringLiteral("Nothing sent was acknowledged for %1 s: the network path is gone.")
                               .arg(QString::number(m_unacknowledgedTimeoutMs / 1000.0)));
    if (generation == m_generation) {
        connectionLost(socket);
    }
}

void FsdClient::endForFullSendBuffer() {
    const quint64 generation = m_generation;
    emit raiseNetworkError(QStringLiteral("The server is not reading: more than %1 bytes wait to be sent.")
                               .arg(m_sendBufferLimit));
    if (generation != m_generation || m_socket == nullptr) {
        return; // a handler ended the connection
    }
    QTcpSocket* socket = takeSocket();
    socket->abort();
    socket->deleteLater();
    emit raiseNetworkDisconnected();
}

void FsdClient::onReadyRead(QTcpSocket* socket) {
    if (socket != m_socket) {
        return;
    }
    m_framer.append(socket->readAll());
    processLines();
}

void FsdClient::processLines() {
    if (m_processing) {
        return; // re-entered from a handler: the running loop takes the new lines
    }
    m_processing = true;
    const QPointer<FsdClient> self(this);
    const quint64 generation = m_generation;
    QByteArrayView raw;
    for (;;) {
        const LineFramer::Status status = m_framer.next(raw);
        if (status == LineFramer::Status::NeedMore) {
            break;
        }
        if (status == LineFramer::Status::Overlong) {
            emit raiseNetworkError(QStringLiteral("Received line longer than %1 bytes dropped.")
                                       .arg(LineFramer::kMaxLineLength));
        } else if (!raw.isEmpty()) {
            const QString line = QString::fromUtf8(raw);
            emit raiseRawDataReceived(line + QLatin1StringView("\r\n"));
            if (self && generation == m_generation) {
                dispatchLine(line);
            }
        }
        if (!self) {
            return;
        }
        if (generation != m_generation) {
            break; // a handler ended the connection: the rest of this read is dropped
        }
    }
    m_processing = false;
    // A handler that reconnected inside a nested event loop may have left
    // lines of the new connection waiting.
    if (generation != m_generation && m_state == State::Connected && m_framer.pendingSize() > 0) {
        processLines();
    }
}

void FsdClient::dispatchLine(const QString& line) {
    pdu::Packet packet;
    try {
        packet = pdu::decode(line);
    } catch (const PDUFormatException& e) {
        emit raiseNetworkError(
            QStringLiteral("%1 (Raw packet: %2)").arg(e.error(), maskSecrets(e.rawMessage())));
        return;
    }
    dispatch(packet);
}

void FsdClient::dispatch(const pdu::Packet& packet) {
    std::visit(
        [this](const auto& pdu) {
            using T = std::decay_t<decltype(pdu)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                emit raiseNetworkError(kInvalidPduType);
            } else if constexpr (std::is_same_v<T, pdu::ServerIdentification>) {
                emit raiseServerIdentificationReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::ClientIdentification>) {
                emit raiseClientIdentificationReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::AddPilot>) {
                emit raiseAddPilotReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::AddATC>) {
                emit raiseAddATCReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::DeletePilot>) {
                emit raiseDeletePilotReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::DeleteATC>) {
                emit raiseDeleteATCReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::PilotPosition>) {
                emit raisePilotPositionReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::FastPilotPosition>) {
                emit raiseFastPilotPositionReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::ATCPosition>) {
                emit raiseATCPositionReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::SendFast>) {
                emit raiseSendFastReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::TextMessage>) {
                emit raiseTextMessageReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::RadioMessage>) {
                emit raiseRadioMessageReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::BroadcastMessage>) {
                emit raiseBroadcastMessageReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::Wallop>) {
                emit raiseWallopReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::PlaneInfoRequest>) {
                emit raisePlaneInfoRequestReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::PlaneInfoResponse>) {
                emit raisePlaneInfoResponseReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::FlightPlan>) {
                emit raiseFlightPlanReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::ClientQuery>) {
                emit raiseClientQueryReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::ClientQueryResponse>) {
                emit raiseClientQueryResponseReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::Ping>) {
                emit raisePingReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::Pong>) {
                emit raisePongReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::MetarResponse>) {
                emit raiseMetarResponseReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::KillRequest>) {
                emit raiseKillRequestReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::ProtocolError>) {
                emit raiseProtocolErrorReceived(pdu);
            } else if constexpr (std::is_same_v<T, pdu::Mute>) {
                emit raiseMuteReceived(pdu);
            } else {
                static_assert(sizeof(T) == 0, "packet type without a signal");
            }
        },
        packet);
}

} // namespace velk::fsd
