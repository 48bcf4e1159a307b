// The session manager's events, turned into page updates, log lines and sounds.

#include "ui/MainWindow.h"

#include "ui/viewmodel/DashboardViewModel.h"

#include <QUrl>

namespace velk::ui {

void MainWindow::onNetworkConnected(const QString& callsign) {
    m_dashboardViewModel->setServerState(true, QStringLiteral("已连接"));
    m_dashboardViewModel->appendServerLog(QStringLiteral("FSD 已连接：%1").arg(callsign));
    playNotificationSound(QUrl(QString::fromLatin1(ConnectSound)), SoundVolume);
}

void MainWindow::onNetworkDisconnected(bool forced) {
    const QString status = forced ? QStringLiteral("已断开（强制）") : QStringLiteral("已断开");
    m_dashboardViewModel->setServerState(false, status);
    m_dashboardViewModel->appendServerLog(QStringLiteral("FSD 已断开：%1").arg(status));
    playNotificationSound(QUrl(QString::fromLatin1(DisconnectSound)), SoundVolume);
}

void MainWindow::onSimulatorConnectionStateChanged(bool connected) {
    m_dashboardViewModel->setSimulatorState(connected,
                                            connected ? QStringLiteral("已连接") : QStringLiteral("未连接"));
}

void MainWindow::onSimulatorConnectionFailed(const QString& message) {
    m_dashboardViewModel->setSimulatorState(false, message);
    m_dashboardViewModel->appendServerLog(message);
}

void MainWindow::onNotificationPosted(const QString& message, common::MessageType /*type*/) {
    m_dashboardViewModel->appendServerLog(message);
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
    }
    m_dashboardViewModel->setFlightData(latitude, longitude, altitudeMslM, heading, groundSpeed);
}

QStringList MainWindow::frequencyTexts(const QList<uint>& kilohertz) {
    QStringList texts;
    texts.reserve(kilohertz.size());
    for (uint khz : kilohertz) {
        texts << QString::number(khz / 1000.0, 'f', 3);
    }
    return texts;
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
