// Text messaging: server, private, radio and broadcast texts received, and
// the radio, private and wallop texts the pilot sends.
#include "manager/NetworkManager.h"

#include "fsd/pdu/PDUFields.h"

#include <QDebug>
#include <QRegularExpression>

namespace velk::manager {

namespace {

const QString kServer = QStringLiteral("SERVER");
constexpr qint64 kServerColour = 0x85a664;
constexpr qint64 kBroadcastColour = 0xffa500;
constexpr qint64 kWallopColour = 0xeb2f06;

} // namespace

void NetworkManager::onTextMessageReceived(const fsd::pdu::TextMessage& pdu) {
    if (pdu.from.trimmed().toUpper() == kServer) {
        emit serverMessageReceived(pdu.message);
        if (m_simulator) {
            m_simulator->showNotification(pdu.message, kServerColour);
        }
        return;
    }
    emit privateMessageReceived(pdu.from, pdu.message);
    if (m_simulator) {
        m_simulator->notifyPrivateMessageReceived(pdu.from.toUpper(), pdu.message);
    }
}

void NetworkManager::onRadioMessageReceived(const fsd::pdu::RadioMessage& pdu) {
    const auto& radio = m_radioStackState;
    QList<uint> receiving;
    for (const uint frequency : pdu.frequencies) {
        if (receiving.contains(frequency)) {
            continue;
        }
        if (radio.com1ReceiveEnabled && frequency == radio.com1Frequency) {
            receiving.append(frequency);
        }
        if (radio.com2ReceiveEnabled && frequency == radio.com2Frequency) {
            receiving.append(frequency);
        }
    }
    if (receiving.isEmpty()) {
        return;
    }

    const QString from = pdu.from.toUpper();
    static const QRegularExpression selcalPattern(
        QStringLiteral("^SELCAL ([A-Za-z][A-Za-z]-?[A-Za-z][A-Za-z])$"));
    const auto selcal = selcalPattern.match(pdu.message);
    if (selcal.hasMatch()) {
        const QString code =
            QStringLiteral("SELCAL %1").arg(selcal.captured(1).remove(QLatin1Char('-'))).toUpper();
        const QString own = m_connectInfo.selcalCode;
        if (!own.isEmpty() && QStringLiteral("SELCAL ") + own.toUpper().remove(QLatin1Char('-')) == code) {
            emit selcalAlertReceived(from, receiving);
            if (m_simulator) {
                m_simulator->notifySelcal();
            }
        }
        return;
    }

    const bool isDirect = pdu.message.toUpper().startsWith(m_connectInfo.callsign.toUpper());
    network::RadioMessageReceived args;
    args.from = from;
    args.message = pdu.message;
    args.frequencies = QVariant::fromValue(receiving);
    args.isDirect = isDirect;
    args.dualReceiver = radio.com1ReceiveEnabled && radio.com2ReceiveEnabled;
    emit radioMessageReceived(args);
    if (m_simulator) {
        m_simulator->notifyRadioMessageReceived(from, pdu.message, isDirect);
    }
}

void NetworkManager::onBroadcastMessageReceived(const fsd::pdu::BroadcastMessage& pdu) {
    const QString from = pdu.from.toUpper();
    emit broadcastMessageReceived(from, pdu.message);
    if (m_simulator) {
        m_simulator->showNotification(QStringLiteral("[BROADCAST] %1: %2").arg(from, pdu.message),
                                      kBroadcastColour);
    }
}

// The three sends below echo a text (signal and simulator) only once it was
// written to the server, so that nothing unsent is shown as sent.
void NetworkManager::sendRadioMessage(QString message) {
    if (m_transmitFrequencies.isEmpty()) {
        return;
    }
    if (!send(fsd::pdu::RadioMessage(m_connectInfo.callsign, m_transmitFrequencies, message).serialize())) {
        qWarning() << "Radio message not sent: no connection to the server";
        return;
    }
    if (m_simulator) {
        m_simulator->notifyRadioMessageSent(message);
    }
    emit radioMessageSent(message, m_transmitFrequencies);
}

void NetworkManager::sendPrivateMessage(QString to, QString message) {
    if (!fsd::pdu::isAddressField(to)) {
        qWarning() << "Private message not sent: invalid recipient" << to;
        return;
    }
    if (!send(fsd::pdu::TextMessage(m_connectInfo.callsign, to.toUpper(), message).serialize())) {
        qWarning() << "Private message not sent: no connection to the server";
        return;
    }
    if (m_simulator) {
        m_simulator->notifyPrivateMessageSent(to, message);
    }
    emit privateMessageSent(to, message);
}

void NetworkManager::sendWallop(QString message) {
    if (!send(fsd::pdu::Wallop(m_connectInfo.callsign, message).serialize())) {
        qWarning() << "Wallop not sent: no connection to the server";
        return;
    }
    emit wallopSent(message);
    if (m_simulator) {
        m_simulator->showNotification(QStringLiteral("[WALLOP] %1").arg(message), kWallopColour);
    }
}

} // namespace velk::manager
