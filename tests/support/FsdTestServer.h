#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace velk::test {

// A small FSD server on 127.0.0.1 for tests: accepts one client at a time,
// records every line it receives and sends whatever the test asks for.
//
//   FsdTestServer server;
//   QVERIFY(server.listen());
//   client.connectToServer(server.host(), server.port());
//   QVERIFY(server.waitForClient());
//   server.sendLine("$DISERVER:CLIENT:VATSIM FSD V3.13:abc");
//   QVERIFY(server.waitForLines(1));
class FsdTestServer : public QObject {
    Q_OBJECT

public:
    explicit FsdTestServer(QObject* parent = nullptr);
    ~FsdTestServer() override;

    // Listens on 127.0.0.1, on an ephemeral port unless one is given.
    bool listen(quint16 port = 0);
    void stopListening();
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const;

    bool hasClient() const;
    bool waitForClient(int timeoutMs = 5000);
    // Waits until the current client's connection has ended.
    bool waitForClientGone(int timeoutMs = 5000);

    // Lines received from the client, without their line ends.
    QStringList receivedLines() const { return m_lines; }
    // Every byte received, exactly as sent.
    QByteArray receivedData() const { return m_data; }
    bool waitForLines(int count, int timeoutMs = 5000);
    // Waits for a received line that starts with `prefix`.
    bool waitForLineStartingWith(const QString& prefix, int timeoutMs = 5000);
    void clearReceived();

    // Sends `line` followed by "\r\n".
    void sendLine(const QString& line);
    // Sends bytes exactly as given (partial lines, garbage, several lines).
    void sendRaw(const QByteArray& bytes);

    // Orderly close (FIN) after the queued bytes are written.
    void closeClient();
    // Abortive close: the client sees a connection reset (RST).
    void resetClient();

signals:
    void clientConnected();
    void lineReceived(const QString& line);
    void clientDisconnected();

private:
    void onNewConnection();
    void onReadyRead();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_pending;
    QByteArray m_data;
    QStringList m_lines;
    bool m_clientGone = false;
};

} // namespace velk::test
