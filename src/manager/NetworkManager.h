#pragma once

#include "common/MessageType.h"
#include "fsd/FsdClient.h"
#include "manager/HeldRecordEvents.h"
#include "manager/PilotTableEvents.h"
#include "manager/RemoteAircraft.h"
#include "model/AircraftConfig.h"
#include "model/AircraftState.h"
#include "model/ConnectInfo.h"
#include "network/RadioMessageReceived.h"
#include "simulator/Simulator.h"
#include "voice/VoiceClient.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#include <QVariantList>

#include <functional>
#include <memory>
#include <utility>

namespace velk {
class AppConfig;
namespace network {
class ApiService;
}
} // namespace velk

namespace velk::manager {

// The FSD session: connects the pilot or observer, logs in, reports the user's
// aircraft, answers queries, carries messages and keeps the other pilots.
class NetworkManager : public QObject {
    Q_OBJECT

public:
    enum SessionState : int { Idle = 0, Connecting = 1, Connected = 2, Disconnecting = 3 };

    explicit NetworkManager(QObject* parent = nullptr);
    ~NetworkManager() override;

    NetworkManager(const NetworkManager&) = delete;
    NetworkManager& operator=(const NetworkManager&) = delete;

signals:
    void networkConnected(QString callsign);
    void networkDisconnected(bool forced);
    void notificationPosted(QString message, velk::common::MessageType type);
    void controllerDeleted(QString from);
    void pilotDeleted(QString from);
    void disableVoiceTransmit();
    void serverMessageReceived(QString message);
    void privateMessageReceived(QString from, QString message);
    void privateMessageSent(QString from, QString message);
    void broadcastMessageReceived(QString from, QString message);
    void radioMessageSent(QString message, QList<uint> frequencies);
    void wallopSent(QString message);
    void radioMessageReceived(velk::network::RadioMessageReceived args);
    void selcalAlertReceived(QString from, QList<uint> frequencies);
    void aircraftConfigurationInfoReceived(QString from, QString json);
    void capabilitiesRequestReceived(QString callsign);
    void capabilitiesResponseReceived(QString callsign, QString data);
    void controllerUpdateReceived(QString from, uint frequency, double lat, double lon);
    void isValidAtcReceived(QString callsign);
    void realNameReceived(QString callsign, QString name);
    void controllerAtisReceived(QString callsign, QStringList atis);
    void slowPositionUpdateReceived(QString callsign, velk::model::AircraftVisualState visualState,
                                    double groundSpeed);
    void fastPositionUpdateReceived(QString callsign, velk::model::AircraftVisualState visualState,
                                    velk::model::VelocityVector positionalVelocityVector,
                                    velk::model::VelocityVector rotationalVelocityVector);
    void aircraftInfoReceived(QString callsign, QString equipment, QString airline);
    void muteReceived(bool mute);
    void simulatorChanged();
    void simulatorConnectionStateChanged(bool connected);
    void simulatorConnectionFailed(QString message);
    void simulatorXPlaneVersionUpdated(int version);
    void simulatorPluginStatusUpdated(bool valid);
    void simulatorCslStatusUpdated(bool valid);
    void simulatorTrafficMappingStatusUpdated(QString status);
    void radioStatesUpdate(velk::model::RadioStackState state);
    void simulatorDataUpdated(bool simConnected, double latitude, double longitude, double altitudeMslM,
                              double altitudeAglM, double altitudePressure, double pitch, double heading,
                              double bank, double latitudeVelocity, double longitudeVelocity,
                              double altitudeVelocity, double pitchVelocity, double headingVelocity,
                              double bankVelocity, double groundSpeed, double noseWheelAngle, bool onGround,
                              bool gearDown, double flapsRatio, double speedbrakeRatio, bool speedbrakeArmed,
                              int engineCount, bool engine1Running, bool engine2Running, bool engine3Running,
                              bool engine4Running, bool engine1Reversing, bool engine2Reversing,
                              bool engine3Reversing, bool engine4Reversing, bool beaconOn,
                              bool landingLightsOn, bool taxiLightsOn, bool navLightsOn, bool strobesOn,
                              bool avionicsPowerOn, bool com1ReceiveEnabled, bool com2ReceiveEnabled,
                              bool com1TransmitEnabled, bool com2TransmitEnabled, uint com1Frequency,
                              uint com2Frequency, double com1Volume, double com2Volume, uint transponderCode,
                              bool squawkingModeC, bool squawkingIdent, bool simPaused);
    void simulatorTrafficSnapshotUpdated(QVariantList contacts);

public:
    Q_INVOKABLE bool connectToNetwork(QString callsign, QString typeCode, QString selcal, bool observer);
    Q_INVOKABLE void disconnectFromNetwork();
    Q_INVOKABLE void sendRadioMessage(QString message);
    Q_INVOKABLE void sendPrivateMessage(QString to, QString message);
    Q_INVOKABLE void requestRealName(QString callsign);
    Q_INVOKABLE void requestControllerAtis(QString callsign);
    Q_INVOKABLE void sendWallop(QString message);
    Q_INVOKABLE void reconnectSimulator();

    // --- Simulator binding ---------------------------------------------------
    void setSimulator(std::shared_ptr<simulator::Simulator> simulator);
    // The bound back end; empty until the first setSimulator.
    std::shared_ptr<simulator::Simulator> simulator() const { return m_simulator; }
    voice::VoiceClient* voiceClient() { return &m_voiceClient; }
    fsd::FsdClient* fsdClient() { return &m_fsdClient; }

    // --- Queries the table managers send ------------------------------------
    void requestCapabilities(QString callsign);
    void sendCapabilities(QString callsign);
    void requestIsValidAtc(QString callsign);
    void requestPilotInfo(QString callsign);
    void requestAircraftConfiguration(QString callsign);
    void sendAircraftConfiguration(QString callsign, velk::model::AircraftConfig config);
    void broadcastAircraftConfiguration(velk::model::AircraftConfig config);

    // --- Session state, read by the dashboard and tests ---------------------
    const model::ConnectInfo& connectInfo() const { return m_connectInfo; }
    SessionState sessionState() const { return m_sessionState; }
    bool isLoggedIn() const { return m_loggedIn; }
    bool isSimDataValid() const { return m_simDataValid; }
    bool isSimPaused() const { return m_simPaused; }
    // The simulator's valid data has ended and is not back yet: reports keep
    // the last valid aircraft, configuration and transponder meanwhile.
    bool isSimulatorLost() const { return m_simLost; }
    // The network keeps the configuration it saw: the simulator is lost, or
    // since its loss the back end has delivered only cleared configurations
    // and valid data has not been back for HoldAfterReturnMs.
    bool isConfigurationHeld() const { return m_simLost || m_configHeld; }
    // A record the back end still has not refilled this long after valid data
    // is back is taken as it is: a hold only bridges the refill.
    static constexpr qint64 HoldAfterReturnMs = 10000;
    HeldRecordEvents* heldRecordEvents() { return &m_heldRecordEvents; }
    const QList<uint>& transmitFrequencies() const { return m_transmitFrequencies; }
    const model::UserAircraftData& userAircraftData() const { return m_userAircraftData; }
    const model::RadioStackState& radioStackState() const { return m_radioStackState; }
    QString clientIp() const { return m_clientIp; }
    // The pilot table; nullptr for an unknown callsign (compared trimmed, upper case).
    const RemoteAircraft* pilot(const QString& callsign) const;
    int pilotCount() const { return static_cast<int>(m_pilots.size()); }
    // Adds asked and pilots expired by the pilot table, for the remote aircraft table.
    PilotTableEvents* pilotTableEvents() { return &m_pilotTableEvents; }
    // Drops a pilot that the remote aircraft table found silent first, so that
    // when heard again it is a new pilot to both tables.
    void forgetPilot(const QString& callsign);
    // Beyond this many pilots the least recently heard are dropped.
    static constexpr int MaxPilots = 10000;
    QString rawLogFilePath() const;

    // --- Names and helpers --------------------------------------------------
    static bool validateCallsign(const QString& callsign);
    static std::pair<QString, QString> splitKeyValue(const QString& text);
    static QString extractTypeFromFlightPlanAircraft(const QString& aircraft);
    static QString normalizeTypeCode(const QString& code);
    QString realName() const;
    QString defaultAirport() const;
    QString realNameWithHomeAirport() const;

    // --- Clock and ticks, so that time-driven behaviour can be driven -------
    // Milliseconds since the epoch; the system clock unless replaced.
    void setClock(std::function<qint64()> clock);
    qint64 now() const;
    // Each raw log file is closed and a new one begun at this size.
    void setRawLogSizeLimit(qint64 bytes) { m_rawLogSizeLimit = bytes; }
    static constexpr qint64 DefaultRawLogSizeLimit = 100LL * 1024 * 1024;

    void onPositionTimer();
    void onFastPositionTimer();
    void checkSimulatorDataStale();
    void flushLogTimer();
    // Drops the pilots not heard from within the stale limit (every 10 s while connected).
    void expireStalePilots();
    // A token login waits this long for the server's identification, then gives up.
    static constexpr int ServerIdentificationTimeoutMs = 30000;
    bool isAwaitingServerIdentification() const { return m_awaitingIdentification; }
    // Ends a token login still without the server's identification (its timer's tick).
    void onServerIdentificationTimeout();
    bool isPositionTimerActive() const { return m_positionTimer.isActive(); }
    int positionTimerInterval() const { return m_positionTimer.interval(); }
    bool isFastPositionTimerActive() const { return m_fastPositionTimer.isActive(); }

    // --- Position reports ---------------------------------------------------
    void sendPosition();
    void sendFastPosition(int kind);
    void sendStoppedPosition();
    void sendPausedPosition();

    void publishSimulatorData();

private:
    // Handlers, connected by pointer; kept out of the meta-object so that the
    // invokables are numbered straight after the signals.
    void onNetworkConnected();
    void onNetworkDisconnected();
    void onNetworkError(QString error);
    void onProtocolErrorReceived(const velk::fsd::pdu::ProtocolError& pdu);
    void onServerIdentificationReceived(const velk::fsd::pdu::ServerIdentification& pdu);
    void onAddATCReceived(const velk::fsd::pdu::AddATC& pdu);
    void onAddPilotReceived(const velk::fsd::pdu::AddPilot& pdu);
    void onKillRequestReceived(const velk::fsd::pdu::KillRequest& pdu);
    void onMuteReceived(const velk::fsd::pdu::Mute& pdu);
    void onSimulatorForceDisconnect(QString reason);

    void onSendFastReceived(const velk::fsd::pdu::SendFast& pdu);

    void onClientQueryReceived(const velk::fsd::pdu::ClientQuery& pdu);
    void onClientQueryResponseReceived(const velk::fsd::pdu::ClientQueryResponse& pdu);
    void onPingReceived(const velk::fsd::pdu::Ping& pdu);

    void onPilotPositionReceived(const velk::fsd::pdu::PilotPosition& pdu);
    void onFastPilotPositionReceived(const velk::fsd::pdu::FastPilotPosition& pdu);
    void onATCPositionReceived(const velk::fsd::pdu::ATCPosition& pdu);
    void onDeletePilotReceived(const velk::fsd::pdu::DeletePilot& pdu);
    void onDeleteATCReceived(const velk::fsd::pdu::DeleteATC& pdu);
    void onPlaneInfoRequestReceived(const velk::fsd::pdu::PlaneInfoRequest& pdu);
    void onPlaneInfoResponseReceived(const velk::fsd::pdu::PlaneInfoResponse& pdu);
    void onFlightPlanReceived(const velk::fsd::pdu::FlightPlan& pdu);

    void onTextMessageReceived(const velk::fsd::pdu::TextMessage& pdu);
    void onRadioMessageReceived(const velk::fsd::pdu::RadioMessage& pdu);
    void onBroadcastMessageReceived(const velk::fsd::pdu::BroadcastMessage& pdu);

    void onRawDataSent(QString data);
    void onRawDataReceived(QString data);

    void onUserAircraftDataChanged(const velk::model::UserAircraftData& data);
    void onUserAircraftConfigDataChanged(const velk::model::UserAircraftConfigData& data);
    void onRadioStackStateChanged(const velk::model::RadioStackState& state);
    void onRequestStationInfo(QString callsign);
    void onSimConnectionStateChanged(bool connected);
    void onSimConnectionFailed(QString message);
    void onSimPausedStateChanged(bool paused);
    void onVoiceConnectionStateChanged(velk::voice::ConnectionState state);
    void showNotificationInSimulator(QString message, velk::common::MessageType type);

private:
    // Connection and login
    void sendLogin(const QString& password);
    void completeLogin();
    void onFsdTokenReceived(bool ok, const QString& token, const QString& error);
    bool sessionExists() const;
    void sendLogoffPacket();
    void stopSessionTimers();
    // True when the line was written to the server.
    bool send(const QString& line);
    QString cid() const;

    // Simulator binding
    void connectSimulatorSignals();
    void disconnectSimulatorSignals();
    void refreshVoiceRadios();
    void readdKnownPilots();
    // The back end's connection reports, as they concern the pilots shown in it.
    void followSimulatorConnection(bool connected);
    bool isMoving() const;
    void takeReportedAircraft(const model::UserAircraftData& data);
    void restartReportedAircraft();
    void noteSimDataValidity(bool wasValid);
    void endHoldsPastTheRefill();
    void releaseHolds();
    const model::UserAircraftConfigData& reportedConfig() const;
    const model::RadioStackState& reportedRadios() const;
    void sendFastReport(fsd::pdu::FastPositionKind kind, bool withMotion);
    double userAltitudeFeet() const;
    double userPressureAltitudeFeet() const;
    double userHeightAboveGroundFeet() const;

    // Raw packet log
    void openRawLog();
    void rotateRawLog();
    void writeRawLog(const QString& entry);
    void stopRawLogFlushing();
    // The FSD token and the password masked wherever they stand in `line`:
    // for the raw log's login lines and for a server's text in the run log.
    QString maskSecrets(const QString& line) const;

    // Remote pilots
    RemoteAircraft& touchPilot(const QString& callsign);
    bool isPilotFresh(const RemoteAircraft& record) const;
    void dropPilot(const QString& key);
    void expirePilot(const QString& key);
    void makeRoomForPilot();
    void requestAircraftInfoIfNeeded(const QString& callsign);
    void requestPilotInfoOnce(const QString& callsign);
    void requestAircraftConfigurationOnce(const QString& callsign);
    void requestFlightPlanOnce(const QString& callsign);
    void sendServerTextRequest(const QString& from, const QString& to, const QString& command,
                               const QStringList& args);
    void applyAircraftConfiguration(const QString& from, const QString& json);
    void handleFlightPlanResponse(const velk::fsd::pdu::ClientQueryResponse& pdu);
    void applyFlightPlanType(const QString& callsign, const QString& type,
                             const std::function<void(const QString& typeCode)>& applied);
    void handleAtisResponse(const velk::fsd::pdu::ClientQueryResponse& pdu);
    void resetSessionTables();

    fsd::FsdClient m_fsdClient;
    std::shared_ptr<simulator::Simulator> m_simulator;
    voice::VoiceClient m_voiceClient;
    voice::RadioChannel m_com1VoiceRadio;
    voice::RadioChannel m_com2VoiceRadio;
    AppConfig* m_config = nullptr;
    network::ApiService* m_apiService = nullptr;

    QTimer m_positionTimer;
    QTimer m_fastPositionTimer;
    QTimer m_dataWatchdogTimer;
    QTimer m_logFlushTimer;
    QTimer m_pilotExpiryTimer;
    QTimer m_identificationTimer;

    model::UserAircraftData m_userAircraftData{};
    model::UserAircraftConfigData m_userAircraftConfigData{};
    model::RadioStackState m_radioStackState{};
    model::ConnectInfo m_connectInfo;
    QString m_fsdToken;
    bool m_forcedDisconnect = false;
    bool m_loggedIn = false;
    bool m_awaitingIdentification = false;
    SessionState m_sessionState = Idle;
    QString m_killReason;
    // Errors of the current attempt, so that a server sending nothing but bad
    // lines cannot fill the run log.
    quint64 m_sessionErrors = 0;
    QList<uint> m_transmitFrequencies;
    // Identifies one connection attempt, so that a late web-API answer for an
    // earlier attempt is recognised and dropped.
    quint64 m_attempt = 0;

    QFile m_rawLogFile;
    QTextStream m_rawLogStream;
    qint64 m_rawLogBytes = 0;
    qint64 m_rawLogSizeLimit = DefaultRawLogSizeLimit;

    bool m_simPaused = false;
    bool m_simDataValid = false;
    qint32 m_plausibleUpdateCount = 0;
    qint64 m_lastSimDataMs = 0;

    // What the position reports carry: the last aircraft delivered at a usable
    // position, with the altitudes its back end gave for it.
    model::UserAircraftData m_reportedData{};
    double m_reportedAltitudeFeet = 0.0;
    double m_reportedPressureAltitudeFeet = 0.0;
    bool m_hasReportedData = false;
    // While lost, the configuration and radios as the network saw them when
    // data was valid; kept after the loss until the back end delivers them again.
    bool m_simLost = false;
    bool m_configHeld = false;
    bool m_radiosHeld = false;
    model::UserAircraftConfigData m_lostConfig{};
    model::RadioStackState m_lostRadios{};
    // When what is still held is released whatever the records hold; 0 until
    // valid data is back.
    qint64 m_holdsEndAtMs = 0;
    HeldRecordEvents m_heldRecordEvents;

    QHash<QString, RemoteAircraft> m_pilots;
    QSet<QString> m_pilotInfoRequested;
    QSet<QString> m_configurationRequested;
    QSet<QString> m_flightPlanRequested;
    bool m_pilotCapWarned = false;
    // The bound back end reported itself not connected and not yet connected
    // again: its data does not count and it holds no pilot.
    bool m_simulatorGone = false;
    PilotTableEvents m_pilotTableEvents;
    QList<QMetaObject::Connection> m_simulatorConnections;

    QString m_clientIp;
    QMap<QString, QStringList> m_atisLines;

    std::function<qint64()> m_clock;
};

} // namespace velk::manager
