#pragma once

#include "simulator/Simulator.h"
#include "simulator/msfs/ConnectionStateMachine.h"
#include "simulator/msfs/SimConnectSession.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <cstdint>
#include <functional>

namespace velk::simulator::msfs {

// The MSFS back end: the user's aircraft and radios through SimConnect data
// groups, and one SimConnect AI aircraft per remote pilot, with its model
// chosen from the installed-model library.
class MsfsAdapter : public Simulator {
public:
    static constexpr std::uint32_t kTrafficRadiusMeters = 30000;
    static constexpr int kConnectionTickMs = 500;
    static constexpr int kLibraryPollMs = 1000;
    // A creation the simulator has not answered by then is given up, so the
    // pilot can be added again; an object named later is removed.
    static constexpr qint64 kCreateTimeoutMs = 30000;

    struct Options {
        // Milliseconds of a monotonic clock; a steady timer when empty.
        std::function<qint64()> clock;
        // When false no timer runs: the caller calls tickConnection(),
        // expirePendingCreations() and pollLibrary(). The connection is
        // started only by reconnectSimulator(), which the session manager
        // asks for when it binds the back end.
        bool startTimers = true;
    };

    MsfsAdapter();
    explicit MsfsAdapter(Options options);
    ~MsfsAdapter() override;

    // Simulator operations.
    void setTransponderCode(int code) override;
    void setCom1Frequency(float freq) override;
    void setCom2Frequency(float freq) override;
    void transponderIdent() override;
    void transponderModeToggle() override;
    void addRemoteAircraft(const manager::RemoteAircraft& aircraft) override;
    void updateRemoteAircraftConfig(const manager::RemoteAircraft& aircraft) override;
    void removeRemoteAircraft(const QString& callsign, const QString& reason) override;
    void removeAllRemoteAircraft() override;
    void updateControllerList(const QList<model::Controller>& controllers) override;
    void clearControllerList() override;
    void updateRemoteAircraftPosition(const manager::RemoteAircraft& aircraft,
                                      const model::AircraftVisualState& state) override;
    void updateRemoteAircraftFastPosition(const manager::RemoteAircraft& aircraft,
                                          const model::AircraftVisualState& state,
                                          const model::VelocityVector& positional,
                                          const model::VelocityVector& rotational) override;
    void sendHeartbeat(const QString& callsign) override;
    void notifyRadioMessageSent(const QString& message) override;
    void notifyRadioMessageReceived(const QString& from, const QString& message, bool isDirect) override;
    void showNotification(const QString& text, qint64 rgb) override;
    void notifyPrivateMessageSent(const QString& to, const QString& message) override;
    void notifyPrivateMessageReceived(const QString& from, const QString& message) override;
    void notifyNetworkConnected(const QString& callsign, const QString& selcalCode,
                                bool observerMode) override;
    void notifyNetworkDisconnected() override;
    void setStationCallsign(int radio, const QString& station) override;
    void notifySelcal() override;
    int simulatorGeneration() const override;
    void reconnectSimulator() override;
    double userPressureAltitudeFeet() const override;
    double userAltitudeFeet() const override;
    double adjustRemoteAltitude(double altitudeFeet) const override;

    // Rescans the installed-model library ("MSFS/LibraryReloadToken").
    void startLibraryScan();
    // Connection attempts due after a failure; runs every 500 ms.
    void tickConnection();
    // Gives up creations older than kCreateTimeoutMs; runs every 500 ms.
    void expirePendingCreations();
    // Reports the library's scan state as a status text; runs every 1000 ms
    // until the library is ready.
    void pollLibrary();

    SimConnectSession& session() { return m_session; }
    const ConnectionStateMachine& connectionState() const { return m_connection; }
    // Object id of a callsign's AI aircraft; 0 when it has none (yet).
    std::uint32_t objectIdOf(const QString& callsign) const;
    bool isAddPending(const QString& callsign) const;

private:
    struct AiObject {
        QString callsign;
        std::uint32_t requestId = 0;
        std::uint32_t objectId = 0;
        bool cancelled = false; // removed before the simulator named the object
        bool hasPosition = false;
        model::AircraftVisualState lastState;
        double lastSpeed = 0.0;
        bool onGround = false;
        bool hasConfig = false;
        manager::RemoteAircraft lastConfig;
    };

    qint64 now() const;
    void onConnected();
    void onDisconnected();
    void onError(SimConnectError error, const QString& message);
    void onDataReceived(UpdateGroup group, const QVariantMap& data);
    void onRemoteAircraftCreated(uint requestId, uint objectId);
    void onRemoteAircraftCreateFailed(uint requestId);
    void onTrafficSnapshot(const QVariantList& contacts);
    void onInputEventValue(const QString& name, double value);
    void onPauseReported(bool paused);
    // Paused when either the pause event or the simulator's own flag says so.
    void updatePaused();
    void attemptConnect();

    void applyCoreFlight(const QVariantMap& data);
    void applySystemState(const QVariantMap& data);
    void applyAvionics(const QVariantMap& data);
    void applyEnvironment(const QVariantMap& data);

    void setComFrequency(std::uint32_t commandKey, float freq);
    void writeConfig(const AiObject& object, const manager::RemoteAircraft& aircraft);
    void moveObject(const AiObject& object);
    void forgetAllObjects();
    // Forgets a callsign's AI aircraft while it still waits for its object.
    void dropPendingObject(const QString& callsign, std::uint32_t requestId);
    std::uint32_t nextRequestId();

    Options m_options;
    SimConnectSession m_session;
    ConnectionStateMachine m_connection;
    QTimer m_connectionTimer;
    QTimer m_libraryTimer;
    QElapsedTimer m_steadyClock;

    QHash<QString, AiObject> m_objects;               // callsign -> AI aircraft
    QHash<std::uint32_t, QString> m_callsignByObject; // object id -> callsign
    struct PendingCreation {
        QString callsign;
        qint64 requestedAtMs = 0;
    };
    QHash<std::uint32_t, PendingCreation> m_pendingCreations; // request id -> creation awaiting its object
    std::uint32_t m_lastRequestId = 0;

    bool m_simPaused = false;
    bool m_simDisabled = false;
    bool m_pauseReported = false;
    bool m_simConnected = false;
    bool m_libraryWasReady = false;
    bool m_libraryStatusShown = false;
};

} // namespace velk::simulator::msfs
