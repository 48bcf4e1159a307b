#pragma once

#include "common/Deployment.h"
#include "support/FsdTestServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

#include <optional>
#include <vector>

namespace velk::test {

// A small voice server on 127.0.0.1 for tests, on ephemeral ports. Its
// control side is a line server (control() for closing, resetting and raw
// bytes); its voice side records datagrams, learns the client's address from
// the hello, and decodes with its own parser, not the client's.
class VoiceTestServer : public QObject {
    Q_OBJECT

public:
    struct Datagram {
        quint32 cid = 0;
        qint32 transmitter = 0;
        qint32 frequency = 0;
        QByteArray callsign;
        QByteArray audio;
    };

    VoiceTestServer();
    ~VoiceTestServer() override;

    bool listen();
    // "127.0.0.1:tcpPort:udpPort", the form VELK_VOICE_SERVER takes.
    QString setting() const;
    deployment::VoiceServer server() const { return deployment::parseVoiceServer(setting()); }
    FsdTestServer& control() { return m_control; }

    // Waits for the auth line and then `count` JSON lines.
    bool waitForLines(int count) { return m_control.waitForLines(count + 1); }
    bool waitForUdpPeer();
    QByteArray authLine() const { return m_control.receivedLines().value(0).toUtf8(); }
    // JSON lines after the auth line.
    QList<QByteArray> lines() const;
    QList<QByteArray> datagrams() const { return m_datagrams; }

    static std::optional<Datagram> parse(const QByteArray& datagram);
    static QByteArray encode(quint32 cid, qint8 transmitter, qint32 frequency, const QByteArray& callsign,
                             const QByteArray& audio);

    // A "message" whose data is "SERVER:<callsign>:Welcome to the voice server".
    void sendWelcome(const QByteArray& callsign);
    // One control line with the given type and data.
    void sendMessage(const QByteArray& type, const QByteArray& data);
    void sendDatagram(const QByteArray& bytes);
    // Sends every received voice datagram with audio back under `callsign`.
    void relayVoiceAs(const QByteArray& callsign) { m_relayCallsign = callsign; }
    // Whether each "ping" gets a "pong", as a live server's does; on at first.
    void answerPings(bool on) { m_answerPings = on; }
    // Closes and reopens the voice side on the same port.
    void stopUdp() { m_udp.close(); }
    bool startUdp();
    // A listener whose backlog is filled here, so that a connect to it never
    // completes; returns its setting.
    QString holdUnaccepted();
    // A control listener whose connections complete but are never accepted
    // or read, so that the client's sends back up; returns its setting.
    QString holdUnread();
    // Accepts the next connection waiting there (the one before is closed),
    // still without reading it; then sends it raw bytes.
    bool acceptUnread();
    bool sendUnread(const QByteArray& bytes);

private:
    void onDatagrams();
    void onLine(const QString& line);

    FsdTestServer m_control;
    QUdpSocket m_udp;
    quint16 m_udpPort = 0;
    QList<QByteArray> m_datagrams;
    QHostAddress m_peerAddress;
    quint16 m_peerPort = 0;
    QByteArray m_relayCallsign;
    bool m_answerPings = true;
    std::vector<int> m_heldSockets;
    int m_unreadListener = -1;
    int m_unreadPeer = -1;
};

} // namespace velk::test
