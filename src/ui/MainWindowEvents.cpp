// The session manager's events, turned into page updates, log lines and sounds.

#include "ui/MainWindow.h"

#include "manager/NetworkManager.h"
#include "network/RadioMessageReceived.h"
#include "ui/viewmodel/DashboardViewModel.h"
#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/MessagesPageViewModel.h"
#include "ui/viewmodel/ServerPageViewModel.h"
#include "ui/viewmodel/SimulatorPageViewModel.h"

#include <QUrl>

namespace velk::ui {

void MainWindow::onNetworkConnected(const QString& callsign) {
    m_messagesViewModel->setNetworkConnected(true);
    const QString status = QStringLiteral("已连接");
    m_dashboardViewModel->setServerState(true, status);
    m_serverViewModel->setServerState(true, status);
    // The flag the session was opened with: the form may say otherwise.
    m_serverViewModel->setConnectedCallsign(callsign, m_networkManager->connectInfo().observerMode);
    const QString line = QStringLiteral("FSD 已连接：%1").arg(callsign);
    m_dashboardViewModel->appendServerLog(line);
    m_serverViewModel->appendLog(line);
    m_serverViewModel->addRecentEvent(QStringLiteral("网络已连接"), callsign, QStringLiteral("网络"));
    m_messagesViewModel->appendSystemMessage(QStringLiteral("网络已连接，当前呼号：%1").arg(callsign));
    playNotificationSound(QUrl(QString::fromLatin1(ConnectSound)), SoundVolume);
}

void MainWindow::onNetworkDisconnected(bool forced) {
    const QString status = forced ? QStringLiteral("已断开（强制）") : QStringLiteral("已断开");
    m_messagesViewModel->setNetworkConnected(false);
    m_dashboardViewModel->setServerState(false, status);
    m_serverViewModel->setServerState(false, status);
    const QString line = QStringLiteral("FSD 已断开：%1").arg(status);
    m_dashboardViewModel->appendServerLog(line);
    m_serverViewModel->appendLog(line);
    m_serverViewModel->addRecentEvent(QStringLiteral("网络已断开"), status,
                                      forced ? QStringLiteral("强制") : QStringLiteral("网络"));
    m_messagesViewModel->appendSystemMessage(QStringLiteral("网络连接已断开：%1").arg(status));
    playNotificationSound(QUrl(QString::fromLatin1(DisconnectSound)), SoundVolume);
}

void MainWindow::onVoiceConnectionLost(const QString& reason) {
    // Told beside the FSD lines: the voice page may not be open.
    const QString line = QStringLiteral("语音已断开：%1").arg(reason);
    m_dashboardViewModel->appendServerLog(line);
    m_serverViewModel->appendLog(line);
}

void MainWindow::onSimulatorConnectionStateChanged(bool connected) {
    const QString text = connected ? QStringLiteral("已连接") : QStringLiteral("未连接");
    m_dashboardViewModel->setSimulatorState(connected, text);
    m_simulatorViewModel->setSimulatorConnected(connected, text);
}

void MainWindow::onSimulatorConnectionFailed(const QString& message) {
    m_dashboardViewModel->setSimulatorState(false, message);
    m_simulatorViewModel->setSimulatorConnected(false, message);
    m_dashboardViewModel->appendServerLog(message);
    m_serverViewModel->addRecentEvent(QStringLiteral("模拟器连接失败"), message, QStringLiteral("模拟器"));
}

void MainWindow::onNotificationPosted(const QString& message, common::MessageType /*type*/) {
    m_dashboardViewModel->appendServerLog(message);
    m_serverViewModel->appendLog(message);
    m_serverViewModel->addRecentEvent(QStringLiteral("通知"), message, QStringLiteral("系统"));
}

void MainWindow::onSimulatorDataUpdated(bool simConnected, double latitude, double longitude,
                                        double altitudeMslM, double /*altitudeAglM*/,
                                        double /*altitudePressure*/, double /*pitch*/, double heading,
                                        double /*bank*/, double /*latitudeVelocity*/,
                                        double /*longitudeVelocity*/, double /*altitudeVelocity*/,
                                        double /*pitchVelocity*/, double /*headingVelocity*/,
                                        double /*bankVelocity*/, double groundSpeed) {
    const QString status = m_dashboardViewModel->simulatorStatusText();
    // Data proves the connection; a failure message stays until the back end says otherwise.
    if (simConnected && (status == u"连接中..." || status == u"未连接")) {
        m_dashboardViewModel->setSimulatorState(true, QStringLiteral("已连接"));
        m_simulatorViewModel->setSimulatorConnected(true, QStringLiteral("已连接"));
    }
    m_dashboardViewModel->setFlightData(latitude, longitude, altitudeMslM, heading, groundSpeed);
}

void MainWindow::onRadioMessageSent(const QString& message, const QList<uint>& frequencies) {
    // Marked as the pilot's own by a flag: a station may well be called "我".
    m_messagesViewModel->appendOwnRadioMessage(message, messages::frequencyTexts(frequencies));
}

void MainWindow::onRadioMessageReceived(const network::RadioMessageReceived& args) {
    m_messagesViewModel->appendRadioMessage(
        args.from, args.message, messages::frequencyTexts(frequenciesOf(args.frequencies)), args.isDirect);
}

void MainWindow::onSelcalAlertReceived(const QString& from, const QList<uint>& frequencies) {
    m_messagesViewModel->appendSelcalAlert(from, messages::frequencyTexts(frequencies));
}

QList<uint> MainWindow::frequenciesOf(const QVariant& field) {
    if (field.canConvert<QList<uint>>()) {
        return field.value<QList<uint>>();
    }
    QList<uint> out;
    if (field.canConvert<QVariantList>()) {
        for (const QVariant& v : field.toList()) {
            out << v.toUInt();
        }
    }
    return out;
}

} // namespace velk::ui
