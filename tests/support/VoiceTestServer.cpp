#include "support/VoiceTestServer.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::test {

namespace {

// A listening socket on 127.0.0.1 with an ephemeral port, for the raw server ends.
int rawListener(int backlog, sockaddr_in& address) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, backlog);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    return listener;
}

} // namespace

VoiceTestServer::VoiceTestServer() {
    connect(&m_udp, &QUdpSocket::readyRead, this, &VoiceTestServer::onDatagrams);
    // A new connection is a new session: its auth line comes first again.
    connect(&m_control, &FsdTestServer::clientConnected, &m_control, &FsdTestServer::clearReceived);
    connect(&m_control, &FsdTestServer::lineReceived, this, &VoiceTestServer::onLine);
}

VoiceTestServer::~VoiceTestServer() {
    for (const int socket : m_heldSockets) {
        ::close(socket);
    }
    if (m_unreadPeer >= 0) {
        ::close(m_unreadPeer);
    }
}

bool VoiceTestServer::listen() {
    return m_control.listen() && startUdp();
}

bool VoiceTestServer::startUdp() {
    if (!m_udp.bind(QHostAddress::LocalHost, m_udpPort)) {
        return false;
    }
    m_udpPort = m_udp.localPort();
    return true;
}

QString VoiceTestServer::setting() const {
    return QStringLiteral("127.0.0.1:%1:%2").arg(m_control.port()).arg(m_udpPort);
}

bool VoiceTestServer::waitForUdpPeer() {
    return waitUntil([this] { return m_peerPort != 0; }, 5000);
}

QList<QByteArray> VoiceTestServer::lines() const {
    QList<QByteArray> out;
    for (const QString& line : m_control.receivedLines().mid(1)) {
        out.append(line.toUtf8());
    }
    return out;
}

std::optional<VoiceTestServer::Datagram> VoiceTestServer::parse(const QByteArray& bytes) {
    const auto byte = [&](int i) { return quint32(quint8(bytes[i])); };
    if (bytes.size() < 11 || bytes.back() != '\n' || 10 + int(byte(9)) > bytes.size() - 1) {
        return std::nullopt;
    }
    const int nameLength = int(byte(9));
    Datagram d;
    d.cid = byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    d.transmitter = qint8(bytes[4]);
    d.frequency = qint32(byte(5) | byte(6) << 8 | byte(7) << 16 | byte(8) << 24);
    d.callsign = bytes.mid(10, nameLength);
    d.audio = bytes.mid(10 + nameLength, bytes.size() - 11 - nameLength);
    return d;
}

QByteArray VoiceTestServer::encode(quint32 cid, qint8 transmitter, qint32 frequency,
                                   const QByteArray& callsign, const QByteArray& audio) {
    QByteArray out;
    const auto put32 = [&out](quint32 value) {
        for (int shift = 0; shift < 32; shift += 8) {
            out.append(char(value >> shift));
        }
    };
    put32(cid);
    out.append(char(transmitter));
    put32(quint32(frequency));
    out.append(char(callsign.size()));
    return out + callsign + audio + '\n';
}

void VoiceTestServer::sendWelcome(const QByteArray& callsign) {
    sendMessage("message", "SERVER:" + callsign + ":Welcome to the voice server");
}

void VoiceTestServer::sendMessage(const QByteArray& type, const QByteArray& data) {
    const QJsonObject object{{"type", QString::fromUtf8(type)}, {"data", QString::fromUtf8(data)}};
    m_control.sendRaw(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void VoiceTestServer::sendDatagram(const QByteArray& bytes) {
    m_udp.writeDatagram(bytes, m_peerAddress, m_peerPort);
}

QString VoiceTestServer::holdUnaccepted() {
    sockaddr_in address;
    m_heldSockets.push_back(rawListener(0, address));
    socklen_t length = sizeof(address);
    // Connect until one hangs: from then on the kernel drops every SYN.
    for (int i = 0; i < 8; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        m_heldSockets.push_back(filler);
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
        pollfd entry{filler, POLLOUT, 0};
        if (::poll(&entry, 1, 200) == 0) {
            break;
        }
    }
    return QStringLiteral("127.0.0.1:%1:%2").arg(ntohs(address.sin_port)).arg(m_udpPort);
}

QString VoiceTestServer::holdUnread() {
    sockaddr_in address;
    m_unreadListener = rawListener(4, address);
    m_heldSockets.push_back(m_unreadListener);
    return QStringLiteral("127.0.0.1:%1:%2").arg(ntohs(address.sin_port)).arg(m_udpPort);
}

bool VoiceTestServer::acceptUnread() {
    pollfd entry{m_unreadListener, POLLIN, 0};
    if (m_unreadListener < 0 || ::poll(&entry, 1, 5000) != 1) {
        return false;
    }
    if (m_unreadPeer >= 0) {
        ::close(m_unreadPeer);
    }
    m_unreadPeer = ::accept(m_unreadListener, nullptr, nullptr);
    return m_unreadPeer >= 0;
}

bool VoiceTestServer::sendUnread(const QByteArray& bytes) {
    return m_unreadPeer >= 0 && ::send(m_unreadPeer, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) ==
                                    ssize_t(bytes.size());
}

void VoiceTestServer::onLine(const QString& line) {
    if (m_answerPings && QJsonDocument::fromJson(line.toUtf8()).object().value("type") == "ping") {
        sendMessage("pong", {});
    }
}

void VoiceTestServer::onDatagrams() {
    while (m_udp.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp.receiveDatagram();
        m_peerAddress = datagram.senderAddress();
        m_peerPort = quint16(datagram.senderPort());
        m_datagrams.append(datagram.data());
        const auto voice = parse(datagram.data());
        if (voice && !voice->audio.isEmpty() && !m_relayCallsign.isEmpty()) {
            sendDatagram(encode(voice->cid + 1, qint8(voice->transmitter), voice->frequency, m_relayCallsign,
                                voice->audio));
        }
    }
}

} // namespace velk::test
