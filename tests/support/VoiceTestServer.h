#pragma once

#include "common/Deployment.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <vector>

namespace velk::test {

// A small voice server on 127.0.0.1 for tests: a TCP control side and a UDP
// voice side on ephemeral ports. It records the auth line, the JSON lines and
// the datagrams it receives, learns the client's voice address from its
// hello, and sends what the test asks for. It decodes datagrams with its own
// parser, not the client's.
//
//   VoiceTestServer server;
//   QVERIFY(server.listen());
//   client.transport()->setServer(server.server());
//   client.connectToServer("token");
//   QVERIFY(server.waitForLines(0) && server.waitForUdpPeer());
//   server.sendWelcome("CES123");
class VoiceTestServer : public QObject {
    Q_OBJECT

public:
    struct Datagram {
        bool valid = false;
        quint32 cid = 0;
        qint32 transmitter = 0;
        qint32 frequency = 0;
        QByteArray callsign;
        QByteArray audio;
    };

    explicit VoiceTestServer(QObject* parent = nullptr);
    ~VoiceTestServer() override;

    bool listen();
    // "127.0.0.1:tcpPort:udpPort", the form VELK_VOICE_SERVER takes.
    QString setting() const;
    deployment::VoiceServer server() const { return deployment::parseVoiceServer(setting()); }

    // The client is the connection that last sent bytes.
    bool waitForClient(int timeoutMs = 5000);
    bool waitForClientGone(int timeoutMs = 5000);
    bool waitForUdpPeer(int timeoutMs = 5000);
    // Waits for the auth line and then `count` JSON lines.
    bool waitForLines(int count, int timeoutMs = 5000);
    bool waitForDatagrams(int count, int timeoutMs = 5000);

    QByteArray authLine() const { return m_auth; }
    // JSON lines after the auth line, without "\n".
    QList<QByteArray> lines() const { return m_lines; }
    QList<QByteArray> datagrams() const { return m_datagrams; }
    static Datagram parse(const QByteArray& datagram);
    static QByteArray encode(quint32 cid, qint8 transmitter, qint32 frequency, const QByteArray& callsign,
                             const QByteArray& audio);

    // A "message" whose data is "SERVER:<callsign>:Welcome to the voice server".
    void sendWelcome(const QByteArray& callsign);
    // One control line with the given type and data.
    void sendMessage(const QByteArray& type, const QByteArray& data);
    void sendRaw(const QByteArray& bytes);
    void sendDatagram(const QByteArray& bytes);
    void sendVoice(quint32 cid, qint8 transmitter, qint32 frequency, const QByteArray& callsign,
                   const QByteArray& audio);
    // Sends every received voice datagram with audio back under `callsign`.
    void relayVoiceAs(const QByteArray& callsign) { m_relayCallsign = callsign; }

    void closeClient();
    void resetClient();
    void stopListening();
    // Closes and reopens the voice side on the same port.
    void stopUdp();
    bool startUdp();
    // A listener whose backlog is filled here, so that a connect to it never
    // completes; returns its setting.
    QString holdUnaccepted();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void onDatagrams();

    QTcpServer m_tcp;
    QUdpSocket m_udp;
    quint16 m_udpPort = 0;
    QPointer<QTcpSocket> m_client;
    bool m_clientGone = false;
    QByteArray m_pending;
    bool m_hasAuth = false;
    QByteArray m_auth;
    QList<QByteArray> m_lines;
    QList<QByteArray> m_datagrams;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    QByteArray m_relayCallsign;
    std::vector<int> m_heldSockets;
};

} // namespace velk::test
