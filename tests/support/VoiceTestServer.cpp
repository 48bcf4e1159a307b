#include "support/VoiceTestServer.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk::test {

VoiceTestServer::VoiceTestServer(QObject* parent) : QObject(parent) {
    connect(&m_tcp, &QTcpServer::newConnection, this, &VoiceTestServer::onNewConnection);
    connect(&m_udp, &QUdpSocket::readyRead, this, &VoiceTestServer::onDatagrams);
}

VoiceTestServer::~VoiceTestServer() {
    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
    }
    for (const int socket : m_heldSockets) {
        ::close(socket);
    }
}

bool VoiceTestServer::listen() {
    return m_tcp.listen(QHostAddress::LocalHost, 0) && startUdp();
}

bool VoiceTestServer::startUdp() {
    if (!m_udp.bind(QHostAddress::LocalHost, m_udpPort)) {
        return false;
    }
    m_udpPort = m_udp.localPort();
    return true;
}

void VoiceTestServer::stopUdp() {
    m_udp.close();
}

QString VoiceTestServer::setting() const {
    return QStringLiteral("127.0.0.1:%1:%2").arg(m_tcp.serverPort()).arg(m_udpPort);
}

bool VoiceTestServer::waitForClient(int timeoutMs) {
    return waitUntil([this] { return m_client && m_client->state() == QAbstractSocket::ConnectedState; },
                     timeoutMs);
}

bool VoiceTestServer::waitForClientGone(int timeoutMs) {
    return waitUntil([this] { return m_clientGone; }, timeoutMs);
}

bool VoiceTestServer::waitForUdpPeer(int timeoutMs) {
    return waitUntil([this] { return m_peerPort != 0; }, timeoutMs);
}

bool VoiceTestServer::waitForLines(int count, int timeoutMs) {
    return waitUntil([this, count] { return m_hasAuth && m_lines.size() >= count; }, timeoutMs);
}

bool VoiceTestServer::waitForDatagrams(int count, int timeoutMs) {
    return waitUntil([this, count] { return m_datagrams.size() >= count; }, timeoutMs);
}

VoiceTestServer::Datagram VoiceTestServer::parse(const QByteArray& bytes) {
    Datagram d;
    if (bytes.size() < 11 || bytes.back() != '\n') {
        return d;
    }
    const auto byte = [&](int i) { return quint32(quint8(bytes[i])); };
    const int nameLength = int(byte(9));
    if (10 + nameLength > bytes.size() - 1) {
        return d;
    }
    d.valid = true;
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
    for (int shift = 0; shift < 32; shift += 8) {
        out.append(char(cid >> shift));
    }
    out.append(char(transmitter));
    for (int shift = 0; shift < 32; shift += 8) {
        out.append(char(quint32(frequency) >> shift));
    }
    out.append(char(callsign.size()));
    return out + callsign + audio + '\n';
}

void VoiceTestServer::sendWelcome(const QByteArray& callsign) {
    sendMessage("message", "SERVER:" + callsign + ":Welcome to the voice server");
}

void VoiceTestServer::sendMessage(const QByteArray& type, const QByteArray& data) {
    const QJsonObject object{{"type", QString::fromUtf8(type)},
                             {"cid", 0},
                             {"callsign", QString()},
                             {"transmitter", 0},
                             {"data", QString::fromUtf8(data)}};
    sendRaw(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void VoiceTestServer::sendRaw(const QByteArray& bytes) {
    if (m_client) {
        m_client->write(bytes);
        m_client->flush();
    }
}

void VoiceTestServer::sendDatagram(const QByteArray& bytes) {
    m_udp.writeDatagram(bytes, m_peerAddress, m_peerPort);
}

void VoiceTestServer::sendVoice(quint32 cid, qint8 transmitter, qint32 frequency, const QByteArray& callsign,
                                const QByteArray& audio) {
    sendDatagram(encode(cid, transmitter, frequency, callsign, audio));
}

void VoiceTestServer::closeClient() {
    if (m_client) {
        m_client->disconnectFromHost();
    }
}

void VoiceTestServer::resetClient() {
    if (m_client) {
        resetConnection(*m_client);
    }
}

void VoiceTestServer::stopListening() {
    m_tcp.close();
}

QString VoiceTestServer::holdUnaccepted() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_heldSockets.push_back(listener);
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

void VoiceTestServer::onNewConnection() {
    while (QTcpSocket* socket = m_tcp.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { m_clientGone = m_clientGone || socket == m_client; });
    }
}

void VoiceTestServer::onReadyRead(QTcpSocket* socket) {
    // The client is whoever last started talking: an abandoned connect may
    // be accepted after the one that goes on.
    if (socket != m_client) {
        if (m_client) {
            m_client->disconnect(this);
            m_client->abort();
        }
        m_client = socket;
        m_clientGone = false;
        m_pending.clear();
        m_hasAuth = false;
        m_auth.clear();
        m_lines.clear();
    }
    m_pending += socket->readAll();
    for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (!m_hasAuth) {
            m_hasAuth = true;
            m_auth = line;
        } else {
            m_lines.append(line);
        }
    }
}

void VoiceTestServer::onDatagrams() {
    while (m_udp.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp.receiveDatagram();
        m_peerAddress = datagram.senderAddress();
        m_peerPort = quint16(datagram.senderPort());
        m_datagrams.append(datagram.data());
        const Datagram voice = parse(datagram.data());
        if (voice.valid && !voice.audio.isEmpty() && !m_relayCallsign.isEmpty()) {
            sendVoice(voice.cid + 1, qint8(voice.transmitter), voice.frequency, m_relayCallsign, voice.audio);
        }
    }
}

} // namespace velk::test
