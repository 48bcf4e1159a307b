#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QUdpSocket;

namespace velk::test {

// X-Plane's UDP dataref interface, as far as the client sees it: records the
// datagrams it receives and answers with RREF replies.
class FakeXPlane : public QObject {
    Q_OBJECT

public:
    struct RrefRequest {
        qint32 rate = 0;
        qint32 index = 0;
        QByteArray path;
    };
    struct Dref {
        float value = 0.0f;
        QByteArray path;
    };

    explicit FakeXPlane(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                        QObject* parent = nullptr);
    ~FakeXPlane() override;

    quint16 port() const;
    QList<QByteArray> datagrams; // in arrival order

    QList<RrefRequest> rrefRequests() const;
    QList<Dref> drefs() const;
    QList<QByteArray> commands() const; // CMND paths
    void clear() { datagrams.clear(); }

    // An RREF reply of (index, value) pairs to whoever sent the last datagram.
    void sendRref(const QList<QPair<qint32, float>>& pairs);
    void sendRaw(const QByteArray& datagram);
    static QByteArray rrefReply(const QList<QPair<qint32, float>>& pairs);

signals:
    void datagramReceived();

private:
    void readPending();

    QUdpSocket* m_socket;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
};

} // namespace velk::test
