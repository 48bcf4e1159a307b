#pragma once

#include "simulator/msfs/MsfsRuntimeProfile.h"
#include "simulator/msfs/SimConnectLibrary.h"
#include "simulator/msfs/SimVarCatalogue.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <functional>
#include <utility>

namespace velk::simulator::msfs {

enum class SimConnectError : std::uint8_t {
    ConnectFailed = 0,
    RequestFailed = 4,
};

// The MSFS back end's link to the simulator: loads the client library, opens
// the connection, pulls received messages every 50 ms, and offers the data
// groups, value writes, command events, AI objects, traffic snapshot and
// input events the back end needs. Event-loop thread only.
class SimConnectSession : public QObject {
    Q_OBJECT

public:
    // Ids of one connection.
    static constexpr std::uint32_t kWriteDefinitionBase = 1000;
    static constexpr std::uint32_t kClientEventBase = 10000;
    static constexpr std::uint32_t kWaypointDefinition = 30000;
    static constexpr std::uint32_t kTrafficDefinition = 40000;
    static constexpr std::uint32_t kTrafficRequest = 40001;
    static constexpr std::uint32_t kUserTitleDefinition = 50000;
    static constexpr std::uint32_t kUserTitleRequest = 50001;
    static constexpr std::uint32_t kInputEventsRequest = 60000;
    static constexpr std::uint32_t kPauseEvent = 70000;

    explicit SimConnectSession(QObject* parent = nullptr);
    ~SimConnectSession() override;

    // Connection.
    bool connectToSimulator();
    void disconnect();
    bool isConnected() const { return m_handle != nullptr; }
    QString msfsVersion() const { return m_msfsVersion; }
    QString simConnectVersion() const { return m_simConnectVersion; }
    MsfsRuntimeProfile runtimeProfile() const { return m_runtimeProfile; }
    void setRuntimeProfile(MsfsRuntimeProfile profile, const QString& source);
    // Drains every queued message; runs on the 50 ms timer.
    void dispatchPump();

    // Data groups, values and client events.
    void registerDataDefinitions();
    void subscribeDataGroup(UpdateGroup group);
    void unsubscribeDataGroup(UpdateGroup group);
    void requestDataGroup(UpdateGroup group);
    void requestUserTitle();
    bool registerUserTitleDefinition();
    void rebuildBindings();
    void setDataValue(SimKey key, const QVariant& value);
    void setObjectDataValue(std::uint32_t objectId, SimKey key, const QVariant& value);
    void sendCommand(std::uint32_t commandKey, std::uint32_t value);
    bool ensureEventMapped(std::uint32_t commandKey);
    // The simulator's pause state arrives as simPauseReported, at once and on
    // every change, whether or not it sends data while paused.
    void subscribePauseEvent();
    bool definitionsRegistered() const { return m_definitionsRegistered; }
    bool isGroupSubscribed(UpdateGroup group) const { return m_subscribedGroups.value(group, false); }

    // AI objects, traffic snapshot and input events.
    void createRemoteAircraft(std::uint32_t requestId, const QString& containerTitle, const QString& livery,
                              const QString& callsign, double latitude, double longitude, double altitude,
                              double pitch, double bank, double heading, bool onGround, double airspeed);
    void removeRemoteAircraft(std::uint32_t objectId, std::uint32_t requestId);
    // Pitch, bank and heading are not written: the waypoint carries none.
    void updateRemoteAircraftPosition(std::uint32_t objectId, double latitude, double longitude,
                                      double altitude, double pitch, double bank, double heading,
                                      bool onGround, double speedKnots);
    bool registerWaypointDefinition();
    void setTrafficSnapshotEnabled(bool enabled);
    bool trafficSnapshotEnabled() const { return m_trafficSnapshotEnabled; }
    void setTrafficSnapshotRadius(std::uint32_t meters);
    std::uint32_t trafficSnapshotRadius() const { return m_snapshotRadiusMeters; }
    bool registerTrafficDefinition();
    // Runs on the 1000 ms timer while snapshots are on.
    void requestTrafficSnapshot();
    bool isTrafficSnapshotTimerActive() const { return m_snapshotTimer.isActive(); }
    void enumerateInputEvents();

signals:
    void connected();
    void disconnected();
    void errorOccurred(velk::simulator::msfs::SimConnectError error, const QString& message);
    void dataReceived(velk::simulator::msfs::UpdateGroup group, const QVariantMap& data);
    void msfsVersionDetected(const QString& version);
    void simConnectVersionDetected(const QString& version);
    void runtimeProfileDetected(velk::simulator::msfs::MsfsRuntimeProfile profile);
    void remoteAircraftCreated(uint requestId, uint objectId);
    // requestId 0: the simulator refused a creation without saying which.
    void remoteAircraftCreateFailed(uint requestId);
    void remoteAircraftRemoved(uint requestId, uint objectId);
    void trafficSnapshotReceived(const QVariantList& contacts);
    void userAircraftTitleDetected(const QString& containerTitle);
    void inputEventValueChanged(const QString& name, double value);
    void simPauseReported(bool paused);

private:
    using ErrorHandler = std::function<void(const QString&)>;

    bool tryCandidate(const QString& fileName, QStringList& failures);
    void reportFailure(const QString& text, SimResult result);

    void handleException(const std::uint8_t* message, std::uint32_t size);
    void handleOpen(const std::uint8_t* message, std::uint32_t size);
    void handleQuit();
    void handleSimObjectData(const std::uint8_t* message, std::uint32_t size);
    void handleTrafficSnapshot(const std::uint8_t* message, std::uint32_t size);
    void handleAssignedObjectId(const std::uint8_t* message, std::uint32_t size);
    void handleInputEvents(const std::uint8_t* message, std::uint32_t size);
    void handleInputEventValue(const std::uint8_t* message, std::uint32_t size);
    void handleEvent(const std::uint8_t* message, std::uint32_t size);

    // Send ids tie an exception to the call that caused it (0: unknown).
    std::uint32_t lastSendId() const;
    void rememberCreateCall(std::uint32_t requestId);
    void forgetCreateCall(std::uint32_t requestId);
    std::uint32_t takeCreateRequest(std::uint32_t sendId);
    void rememberTrafficCall();
    bool concernsTraffic(std::uint32_t exception, std::uint32_t sendId) const;

    void writeValue(SimHandle handle, const SimVarBinding& binding, const QVariant& simValue,
                    std::uint32_t objectId, const ErrorHandler& onError);

    SimHandle m_handle = nullptr;
    QTimer m_dispatchTimer;
    QTimer m_snapshotTimer;
    QHash<UpdateGroup, bool> m_subscribedGroups;
    QString m_msfsVersion;
    QString m_simConnectVersion;
    MsfsRuntimeProfile m_runtimeProfile = MsfsRuntimeProfile::Unknown;
    bool m_definitionsRegistered = false;
    QList<SimVarBinding> m_bindings;
    QHash<UpdateGroup, QList<SimVarBinding>> m_groupIndex;
    QHash<SimKey, SimVarBinding> m_keyIndex;
    QHash<std::uint16_t, std::uint32_t> m_clientEventIds;
    QHash<std::uint64_t, QString> m_inputEventNames;
    QSet<std::uint64_t> m_subscribedInputEvents;
    bool m_trafficSnapshotEnabled = false;
    bool m_trafficDefinitionRegistered = false;
    bool m_waypointDefinitionRegistered = false;
    std::uint32_t m_snapshotRadiusMeters = 30000;
    QVariantList m_pendingContacts;
    bool m_userTitleDefinitionRegistered = false;
    bool m_userTitleRequested = false;
    static constexpr qsizetype kRememberedCreations = 1024;
    QList<std::pair<std::uint32_t, std::uint32_t>> m_createSendIds; // (send id, request id), oldest first
    std::array<std::uint32_t, 8> m_trafficSendIds{};                // the latest traffic calls
    std::size_t m_nextTrafficSlot = 0;
};

} // namespace velk::simulator::msfs

Q_DECLARE_METATYPE(velk::simulator::msfs::SimConnectError)
