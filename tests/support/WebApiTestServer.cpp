#include "support/WebApiTestServer.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace velk::test {

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

QJsonObject WebApiTestServer::Request::json() const {
    return QJsonDocument::fromJson(body).object();
}

WebApiTestServer::WebApiTestServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &WebApiTestServer::onNewConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        qFatal("WebApiTestServer: cannot listen on 127.0.0.1: %s", qPrintable(m_server.errorString()));
    }
}

WebApiTestServer::~WebApiTestServer() {
    const auto sockets = m_connections.keys();
    for (QTcpSocket* socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
}

QUrl WebApiTestServer::url() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

quint16 WebApiTestServer::port() const {
    return m_server.serverPort();
}

QString WebApiTestServer::routeKey(const QByteArray& method, const QString& path) {
    return QString::fromLatin1(method.toUpper()) + QLatin1Char(' ') + path;
}

void WebApiTestServer::setReply(const QByteArray& method, const QString& path, const Reply& reply) {
    m_standing.insert(routeKey(method, path), reply);
}

void WebApiTestServer::queueReply(const QByteArray& method, const QString& path, const Reply& reply) {
    m_queued[routeKey(method, path)].append(reply);
}

void WebApiTestServer::clearReplies() {
    m_standing.clear();
    m_queued.clear();
}

WebApiTestServer::Reply WebApiTestServer::takeReply(const QByteArray& method, const QString& path) {
    const QString key = routeKey(method, path);
    auto queued = m_queued.find(key);
    if (queued != m_queued.end() && !queued->isEmpty()) {
        return queued->takeFirst();
    }
    return m_standing.value(key, Reply{404, QByteArray(), "text/plain", false});
}

void WebApiTestServer::releaseHeld() {
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held& h : held) {
        if (h.socket) {
            Reply reply = takeReply(h.method, h.path);
            reply.hold = false;
            respond(h.socket, reply);
        }
    }
}

int WebApiTestServer::heldCount() const {
    return static_cast<int>(m_held.size());
}

QList<WebApiTestServer::Request> WebApiTestServer::requestsTo(const QString& path) const {
    QList<Request> list;
    for (const Request& r : m_requests) {
        if (r.path == path) {
            list.append(r);
        }
    }
    return list;
}

void WebApiTestServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void WebApiTestServer::onReadyRead(QTcpSocket* socket) {
    auto it = m_connections.find(socket);
    if (it == m_connections.end()) {
        return;
    }
    it->buffer += socket->readAll();
    const qsizetype headerEnd = it->buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return;
    }
    const QList<QByteArray> lines = it->buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    const QUrl target(QString::fromUtf8(requestLine.value(1)));
    request.path = target.path();
    request.query = QUrlQuery(target.query());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) {
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (it->buffer.size() < headerEnd + 4 + length) {
        return; // body not complete yet
    }
    request.body = it->buffer.mid(headerEnd + 4, length);
    it->buffer.clear();

    m_requests.append(request);
    emit requestReceived(request);

    // The signal's receiver may have rescripted or released; look the reply up now.
    const QString key = routeKey(request.method, request.path);
    const auto queued = m_queued.constFind(key);
    const bool hold =
        (queued != m_queued.cend() && !queued->isEmpty()) ? queued->first().hold : m_standing.value(key).hold;
    if (hold) {
        m_held.append(Held{socket, request.method, request.path});
        return;
    }
    respond(socket, takeReply(request.method, request.path));
}

void WebApiTestServer::respond(QTcpSocket* socket, const Reply& reply) {
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += reply.body;
    socket->write(out);
    socket->disconnectFromHost();
}

QByteArray WebApiTestServer::envelope(const QString& code, const QString& message, const QJsonObject& data) {
    QJsonObject object{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
    object.insert(QStringLiteral("data"), data.isEmpty() ? QJsonValue() : QJsonValue(data));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString WebApiTestServer::makeJwt(qint64 exp, const QString& subject) {
    const auto part = [](const QJsonObject& o) {
        return QJsonDocument(o)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    const QByteArray header = part(
        {{QStringLiteral("alg"), QStringLiteral("HS256")}, {QStringLiteral("typ"), QStringLiteral("JWT")}});
    const QByteArray payload = part({{QStringLiteral("sub"), subject}, {QStringLiteral("exp"), exp}});
    return QString::fromLatin1(header + '.' + payload + ".c2lnbmF0dXJl");
}

QByteArray WebApiTestServer::sessionEnvelope(const QString& code, const QString& token,
                                             const QString& flushToken, const QJsonObject& user,
                                             const QString& message) {
    QJsonObject data{{QStringLiteral("token"), token}, {QStringLiteral("flush_token"), flushToken}};
    if (!user.isEmpty()) {
        data.insert(QStringLiteral("user"), user);
    }
    return envelope(code, message, data);
}

quint16 WebApiTestServer::closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace velk::test
