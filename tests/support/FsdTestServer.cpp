#include "support/FsdTestServer.h"

#include "support/TestSupport.h"

namespace velk::test {

FsdTestServer::FsdTestServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &FsdTestServer::onNewConnection);
}

FsdTestServer::~FsdTestServer() {
    if (m_client) {
        m_client->disconnect(this);
        m_client->abort();
    }
}

bool FsdTestServer::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

void FsdTestServer::stopListening() {
    m_server.close();
}

quint16 FsdTestServer::port() const {
    return m_server.serverPort();
}

bool FsdTestServer::hasClient() const {
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

bool FsdTestServer::waitForClient(int timeoutMs) {
    return waitUntil([this] { return hasClient(); }, timeoutMs);
}

bool FsdTestServer::waitForClientGone(int timeoutMs) {
    return waitUntil([this] { return m_clientGone; }, timeoutMs);
}

bool FsdTestServer::waitForLines(int count, int timeoutMs) {
    return waitUntil([this, count] { return m_lines.size() >= count; }, timeoutMs);
}

bool FsdTestServer::waitForLineStartingWith(const QString& prefix, int timeoutMs) {
    return waitUntil(
        [this, &prefix] {
            for (const QString& line : std::as_const(m_lines)) {
                if (line.startsWith(prefix)) {
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

void FsdTestServer::clearReceived() {
    m_lines.clear();
    m_data.clear();
}

void FsdTestServer::sendLine(const QString& line) {
    sendRaw(line.toUtf8() + "\r\n");
}

void FsdTestServer::sendRaw(const QByteArray& bytes) {
    if (m_client) {
        m_client->write(bytes);
        m_client->flush();
    }
}

void FsdTestServer::closeClient() {
    if (m_client) {
        m_client->disconnectFromHost();
    }
}

void FsdTestServer::resetClient() {
    if (m_client) {
        resetConnection(*m_client);
    }
}

void FsdTestServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_client) {
            m_client->disconnect(this);
            m_client->abort();
            m_client->deleteLater();
        }
        m_client = socket;
        m_clientGone = false;
        m_pending.clear();
        connect(socket, &QTcpSocket::readyRead, this, &FsdTestServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == m_client) {
                onReadyRead();
                m_clientGone = true;
                emit clientDisconnected();
            }
        });
        emit clientConnected();
    }
}

void FsdTestServer::onReadyRead() {
    if (!m_client || !m_client->isOpen()) {
        return;
    }
    const QByteArray bytes = m_client->readAll();
    m_data.append(bytes);
    m_pending.append(bytes);
    qsizetype start = 0;
    qsizetype end;
    QStringList lines;
    while ((end = m_pending.indexOf('\n', start)) >= 0) {
        qsizetype length = end - start;
        if (length > 0 && m_pending.at(end - 1) == '\r') {
            --length;
        }
        lines.append(QString::fromUtf8(m_pending.constData() + start, length));
        start = end + 1;
    }
    m_pending.remove(0, start);
    for (const QString& line : std::as_const(lines)) {
        m_lines.append(line);
        emit lineReceived(line);
    }
}

} // namespace velk::test
