#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

class QTcpSocket;

namespace velk::test {

// A small HTTP/1.1 web API on 127.0.0.1 with an ephemeral port. Replies are
// scripted per method and path; every request is recorded with its headers.
// Unscripted paths get a 404 with an empty body. Each reply closes its
// connection.
class WebApiTestServer : public QObject {
    Q_OBJECT

public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        // Held replies are sent only by releaseHeld(); a held reply that is
        // never released lets the client time out.
        bool hold = false;
    };

    struct Request {
        QByteArray method;
        QString path; // without the query
        QUrlQuery query;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;

        QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
        QJsonObject json() const;
    };

    explicit WebApiTestServer(QObject* parent = nullptr);
    ~WebApiTestServer() override;

    // "http://127.0.0.1:<port>"
    QUrl url() const;
    quint16 port() const;

    // The reply for every request to `method path` from now on.
    void setReply(const QByteArray& method, const QString& path, const Reply& reply);
    // One-shot replies, used in order before the standing reply of the route.
    void queueReply(const QByteArray& method, const QString& path, const Reply& reply);
    void clearReplies();
    // Sends the scripted replies to every held request.
    void releaseHeld();
    int heldCount() const;

    const QList<Request>& requests() const { return m_requests; }
    QList<Request> requestsTo(const QString& path) const;
    void clearRequests() { m_requests.clear(); }

    // {"code": code, "message": message, "data": data}
    static QByteArray envelope(const QString& code, const QString& message = {},
                               const QJsonObject& data = {});
    static Reply json(int status, const QByteArray& body) {
        return Reply{status, body, "application/json", false};
    }
    // An unsigned token whose payload carries the given "exp" (Unix seconds).
    static QString makeJwt(qint64 exp, const QString& subject = QStringLiteral("pilot"));
    // A sign-in or refresh envelope carrying token, flush_token and user.
    static QByteArray sessionEnvelope(const QString& code, const QString& token, const QString& flushToken,
                                      const QJsonObject& user = {}, const QString& message = {});
    // A port on 127.0.0.1 with nothing listening (connections are refused).
    static quint16 closedPort();

signals:
    void requestReceived(const velk::test::WebApiTestServer::Request& request);

private:
    struct Connection {
        QByteArray buffer;
    };
    struct Held {
        QPointer<QTcpSocket> socket;
        QByteArray method;
        QString path;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Reply& reply);
    Reply takeReply(const QByteArray& method, const QString& path);
    static QString routeKey(const QByteArray& method, const QString& path);

    QTcpServer m_server;
    QHash<QTcpSocket*, Connection> m_connections;
    QHash<QString, Reply> m_standing;
    QHash<QString, QList<Reply>> m_queued;
    QList<Held> m_held;
    QList<Request> m_requests;
};

} // namespace velk::test
