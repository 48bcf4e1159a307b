#include "support/FakeXPlane.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

#include <cstring>

namespace velk::test {

FakeXPlane::FakeXPlane(const QHostAddress& address, QObject* parent)
    : QObject(parent), m_socket(new QUdpSocket(this)) {
    m_socket->bind(address, 0);
    connect(m_socket, &QUdpSocket::readyRead, this, &FakeXPlane::readPending);
}

FakeXPlane::~FakeXPlane() = default;

quint16 FakeXPlane::port() const {
    return m_socket->localPort();
}

void FakeXPlane::readPending() {
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        m_peer = d.senderAddress();
        m_peerPort = static_cast<quint16>(d.senderPort());
        datagrams.append(d.data());
        emit datagramReceived();
    }
}

QList<FakeXPlane::RrefRequest> FakeXPlane::rrefRequests() const {
    QList<RrefRequest> out;
    for (const QByteArray& d : datagrams) {
        if (!d.startsWith("RREF")) {
            continue;
        }
        RrefRequest r;
        r.rate = qFromLittleEndian<qint32>(d.constData() + 5);
        r.index = qFromLittleEndian<qint32>(d.constData() + 9);
        r.path = QByteArray(d.constData() + 13); // up to the first zero
        out.append(r);
    }
    return out;
}

QList<FakeXPlane::Dref> FakeXPlane::drefs() const {
    QList<Dref> out;
    for (const QByteArray& d : datagrams) {
        if (!d.startsWith("DREF")) {
            continue;
        }
        Dref r;
        const quint32 bits = qFromLittleEndian<quint32>(d.constData() + 5);
        std::memcpy(&r.value, &bits, sizeof r.value);
        r.path = QByteArray(d.constData() + 9);
        out.append(r);
    }
    return out;
}

QList<QByteArray> FakeXPlane::commands() const {
    QList<QByteArray> out;
    for (const QByteArray& d : datagrams) {
        if (d.startsWith("CMND")) {
            out.append(QByteArray(d.constData() + 5));
        }
    }
    return out;
}

QByteArray FakeXPlane::rrefReply(const QList<QPair<qint32, float>>& pairs) {
    QByteArray out("RREF", 4);
    out.append(',');
    for (const auto& [index, value] : pairs) {
        char pair[8];
        qToLittleEndian<qint32>(index, pair);
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        qToLittleEndian<quint32>(bits, pair + 4);
        out.append(pair, 8);
    }
    return out;
}

void FakeXPlane::sendRref(const QList<QPair<qint32, float>>& pairs) {
    sendRaw(rrefReply(pairs));
}

void FakeXPlane::sendRaw(const QByteArray& datagram) {
    m_socket->writeDatagram(datagram, m_peer, m_peerPort);
}

} // namespace velk::test
