#include "DashboardViewModel.h"

namespace velk::ui {

namespace {

// Stores `value` when it differs; a NaN on either side always counts as a change.
bool assign(double& stored, double value) {
    if (stored == value) {
        return false;
    }
    stored = value;
    return true;
}

template <typename T> bool assign(T& stored, const T& value) {
    if (stored == value) {
        return false;
    }
    stored = value;
    return true;
}

} // namespace

DashboardViewModel::DashboardViewModel(QObject* parent) : QObject(parent) {}

QString DashboardViewModel::serverLog() const {
    return m_serverLog.join(QString());
}

void DashboardViewModel::setUserInfo(const QString& username, const QString& callsign, const QString& rating,
                                     const QString& cid, const QString& pilotTime, const QString& atcTime,
                                     const QString& avatarUrl) {
    bool changed = assign(m_username, username);
    changed |= assign(m_callsign, callsign);
    changed |= assign(m_rating, rating);
    changed |= assign(m_cid, cid);
    changed |= assign(m_pilotTime, pilotTime);
    changed |= assign(m_atcTime, atcTime);
    changed |= assign(m_avatarUrl, avatarUrl);
    if (changed) {
        emit userInfoChanged();
    }
}

void DashboardViewModel::setCurrentMode(const QString& mode) {
    if (assign(m_currentMode, mode)) {
        emit currentModeChanged();
    }
}

void DashboardViewModel::setSimulatorState(bool connected, const QString& text) {
    bool changed = assign(m_simulatorConnected, connected);
    changed |= assign(m_simulatorStatusText, text);
    if (changed) {
        emit simulatorStateChanged();
    }
}

void DashboardViewModel::setServerState(bool connected, const QString& text) {
    bool changed = assign(m_serverConnected, connected);
    changed |= assign(m_serverStatusText, text);
    if (changed) {
        emit serverStateChanged();
    }
}

void DashboardViewModel::setFlightData(double latitude, double longitude, double altitude, double heading,
                                       double groundSpeed) {
    bool changed = assign(m_latitude, latitude);
    changed |= assign(m_longitude, longitude);
    changed |= assign(m_altitude, altitude);
    changed |= assign(m_heading, heading);
    changed |= assign(m_groundSpeed, groundSpeed);
    if (changed) {
        emit flightDataChanged();
    }
}

void DashboardViewModel::appendServerLog(const QString& line) {
    m_serverLog << m_clock().toString(QStringLiteral("[hh:mm:ss] ")) + line + QLatin1Char('\n');
    // A long session would otherwise grow the log, and every page rebinding it, without end.
    if (m_serverLog.size() > MaxServerLogLines) {
        m_serverLog.remove(0, m_serverLog.size() - MaxServerLogLines);
    }
    emit serverLogChanged();
}

void DashboardViewModel::setRecentFlights(const QVariantList& rows) {
    if (assign(m_recentFlights, rows)) {
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
