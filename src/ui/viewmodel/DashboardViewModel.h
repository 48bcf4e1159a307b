#pragma once

#include "ui/viewmodel/StampedLog.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

namespace velk::ui {

// Behind the platform choice and the overview page: plain display values that
// the main window fills, and the page's four requests.
class DashboardViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString username READ username NOTIFY userInfoChanged)
    Q_PROPERTY(QString callsign READ callsign NOTIFY userInfoChanged)
    Q_PROPERTY(QString rating READ rating NOTIFY userInfoChanged)
    Q_PROPERTY(QString cid READ cid NOTIFY userInfoChanged)
    Q_PROPERTY(QString pilotTime READ pilotTime NOTIFY userInfoChanged)
    Q_PROPERTY(QString atcTime READ atcTime NOTIFY userInfoChanged)
    Q_PROPERTY(QString avatarUrl READ avatarUrl NOTIFY userInfoChanged)
    Q_PROPERTY(QString currentMode READ currentMode NOTIFY currentModeChanged)
    Q_PROPERTY(bool simulatorConnected READ simulatorConnected NOTIFY simulatorStateChanged)
    Q_PROPERTY(QString simulatorStatusText READ simulatorStatusText NOTIFY simulatorStateChanged)
    Q_PROPERTY(bool serverConnected READ serverConnected NOTIFY serverStateChanged)
    Q_PROPERTY(QString serverStatusText READ serverStatusText NOTIFY serverStateChanged)
    Q_PROPERTY(double latitude READ latitude NOTIFY flightDataChanged)
    Q_PROPERTY(double longitude READ longitude NOTIFY flightDataChanged)
    Q_PROPERTY(double altitude READ altitude NOTIFY flightDataChanged)
    Q_PROPERTY(double heading READ heading NOTIFY flightDataChanged)
    Q_PROPERTY(double groundSpeed READ groundSpeed NOTIFY flightDataChanged)
    Q_PROPERTY(QString serverLog READ serverLog NOTIFY serverLogChanged)
    Q_PROPERTY(QVariantList recentFlights READ recentFlights NOTIFY recentFlightsChanged)
    Q_PROPERTY(QVariantList pilotLeaderboard READ pilotLeaderboard NOTIFY leaderboardChanged)
    Q_PROPERTY(QVariantList atcLeaderboard READ atcLeaderboard NOTIFY leaderboardChanged)

public:
    // The server log keeps this many of its newest lines.
    static constexpr int MaxServerLogLines = 500;

    explicit DashboardViewModel(QObject* parent = nullptr);

    QString username() const { return m_username; }
    QString callsign() const { return m_callsign; }
    QString rating() const { return m_rating; }
    QString cid() const { return m_cid; }
    QString pilotTime() const { return m_pilotTime; }
    QString atcTime() const { return m_atcTime; }
    QString avatarUrl() const { return m_avatarUrl; }
    QString currentMode() const { return m_currentMode; }
    bool simulatorConnected() const { return m_simulatorConnected; }
    QString simulatorStatusText() const { return m_simulatorStatusText; }
    bool serverConnected() const { return m_serverConnected; }
    QString serverStatusText() const { return m_serverStatusText; }
    double latitude() const { return m_latitude; }
    double longitude() const { return m_longitude; }
    double altitude() const { return m_altitude; }
    double heading() const { return m_heading; }
    double groundSpeed() const { return m_groundSpeed; }
    QString serverLog() const;
    QVariantList recentFlights() const { return m_recentFlights; }
    QVariantList pilotLeaderboard() const { return m_pilotLeaderboard; }
    QVariantList atcLeaderboard() const { return m_atcLeaderboard; }

    void setUserInfo(const QString& username, const QString& callsign, const QString& rating,
                     const QString& cid, const QString& pilotTime, const QString& atcTime,
                     const QString& avatarUrl);
    void setCurrentMode(const QString& mode);
    void setSimulatorState(bool connected, const QString& text);
    void setServerState(bool connected, const QString& text);
    void setFlightData(double latitude, double longitude, double altitude, double heading,
                       double groundSpeed);
    // Stamps the line with the local time "[hh:mm:ss] ".
    void appendServerLog(const QString& line);
    void setRecentFlights(const QVariantList& rows);
    void setLeaderboards(const QVariantList& pilots, const QVariantList& controllers);

    // Local time for the log stamps; the system clock unless replaced.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

signals:
    void userInfoChanged();
    void currentModeChanged();
    void simulatorStateChanged();
    void serverStateChanged();
    void flightDataChanged();
    void serverLogChanged();
    void recentFlightsChanged();
    void leaderboardChanged();
    void modeChangedRequest(QString mode);
    void serverConnectRequest(QString callsign, QString typeCode, QString selcal, bool observer);
    void serverDisconnectRequest();
    void simulatorReconnectRequest();

public slots:
    void requestModeChange(QString mode);
    void requestServerConnect(QString callsign, QString typeCode, QString selcal, bool observer);
    void requestServerDisconnect();
    void requestSimulatorReconnect();

private:
    QString m_username = QStringLiteral("游客");
    QString m_callsign = QStringLiteral("--");
    QString m_rating = QStringLiteral("--");
    QString m_cid = QStringLiteral("--");
    QString m_pilotTime = QStringLiteral("0小时 0分");
    QString m_atcTime = QStringLiteral("0小时 0分");
    QString m_avatarUrl;
    QString m_currentMode = QStringLiteral("NONE");
    bool m_simulatorConnected = false;
    QString m_simulatorStatusText = QStringLiteral("未连接");
    bool m_serverConnected = false;
    QString m_serverStatusText = QStringLiteral("未连接");
    double m_latitude = 0;
    double m_longitude = 0;
    double m_altitude = 0;
    double m_heading = 0;
    double m_groundSpeed = 0;
    StampedLog m_serverLog{MaxServerLogLines};
    QVariantList m_recentFlights;
    QVariantList m_pilotLeaderboard;
    QVariantList m_atcLeaderboard;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
};

} // namespace velk::ui
