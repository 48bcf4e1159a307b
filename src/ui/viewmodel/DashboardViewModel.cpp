#include "DashboardViewModel.h"

#include "ui/viewmodel/PropertyStore.h"

namespace velk::ui {

DashboardViewModel::DashboardViewModel(QObject* parent) : QObject(parent) {}

QString DashboardViewModel::serverLog() const {
    return m_serverLog.text();
}

void DashboardViewModel::setUserInfo(const QString& username, const QString& callsign, const QString& rating,
                                     const QString& cid, const QString& pilotTime, const QString& atcTime,
                                     const QString& avatarUrl) {
    bool changed = storeIfChanged(m_username, username);
    changed |= storeIfChanged(m_callsign, callsign);
    changed |= storeIfChanged(m_rating, rating);
    changed |= storeIfChanged(m_cid, cid);
    changed |= storeIfChanged(m_pilotTime, pilotTime);
    changed |= storeIfChanged(m_atcTime, atcTime);
    changed |= storeIfChanged(m_avatarUrl, avatarUrl);
    if (changed) {
        emit userInfoChanged();
    }
}

void DashboardViewModel::setCurrentMode(const QString& mode) {
    if (storeIfChanged(m_currentMode, mode)) {
        emit currentModeChanged();
    }
}

void DashboardViewModel::setSimulatorState(bool connected, const QString& text) {
    bool changed = storeIfChanged(m_simulatorConnected, connected);
    changed |= storeIfChanged(m_simulatorStatusText, text);
    if (changed) {
        emit simulatorStateChanged();
    }
}

void DashboardViewModel::setServerState(bool connected, const QString& text) {
    bool changed = storeIfChanged(m_serverConnected, connected);
    changed |= storeIfChanged(m_serverStatusText, text);
    if (changed) {
        emit serverStateChanged();
    }
}

void DashboardViewModel::setFlightData(double latitude, double longitude, double altitude, double heading,
                                       double groundSpeed) {
    bool changed = storeIfChanged(m_latitude, latitude);
    changed |= storeIfChanged(m_longitude, longitude);
    changed |= storeIfChanged(m_altitude, altitude);
    changed |= storeIfChanged(m_heading, heading);
    changed |= storeIfChanged(m_groundSpeed, groundSpeed);
    if (changed) {
        emit flightDataChanged();
    }
}

void DashboardViewModel::appendServerLog(const QString& line) {
    m_serverLog.append(m_clock(), line);
    emit serverLogChanged();
}

void DashboardViewModel::setRecentFlights(const QVariantList& rows) {
    if (storeIfChanged(m_recentFlights, rows)) {
        emit recentFlightsChanged();
    }
}

void DashboardViewModel::setLeaderboards(const QVariantList& pilots, const QVariantList& controllers) {
    m_pilotLeaderboard = pilots;
    m_atcLeaderboard = controllers;
    emit leaderboardChanged();
}

void DashboardViewModel::requestModeChange(QString mode) {
    emit modeChangedRequest(mode);
}

void DashboardViewModel::requestServerConnect(QString callsign, QString typeCode, QString selcal,
                                              bool observer) {
    emit serverConnectRequest(callsign, typeCode, selcal, observer);
}

void DashboardViewModel::requestServerDisconnect() {
    emit serverDisconnectRequest();
}

void DashboardViewModel::requestSimulatorReconnect() {
    emit simulatorReconnectRequest();
}

} // namespace velk::ui
