#pragma once

#include "manager/RemoteAircraft.h"
#include "model/AircraftConfig.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace velk::simulator {
class Simulator;
}

namespace velk::manager {

class NetworkManager;

// The other pilots seen on the network, and when each of them is put into the
// simulator as AI traffic.
class AircraftManager : public QObject {
    Q_OBJECT

public:
    // Milliseconds since the epoch (UTC).
    using Clock = std::function<qint64()>;

    explicit AircraftManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent = nullptr);

    // Time source of lastUpdate, of the stale check and of the sync pass; the
    // system clock unless replaced.
    void setClock(Clock clock);

    // The records in arrival order; valid until the table next changes.
    const QList<RemoteAircraft>& aircraft() const;
    bool isStaleCheckRunning() const { return m_staleTimer.isActive(); }
    bool isSyncRunning() const { return m_syncTimer.isActive(); }

    static bool isReadyForSimulator(const RemoteAircraft& aircraft);
    // Asked into the simulator by either pilot table: its removal is this table's.
    static bool mayBeInSimulator(const RemoteAircraft& aircraft);

    void onNetworkConnected(const QString& callsign);
    void onNetworkDisconnected(bool forced);
    void onCapabilitiesResponseReceived(const QString& callsign, const QString& data);
    void onCapabilitiesRequestReceived(const QString& callsign);
    void onSlowPositionUpdate(const QString& callsign, const model::AircraftVisualState& visualState,
                              double groundSpeed);
    void onFastPositionUpdate(const QString& callsign, const model::AircraftVisualState& visualState,
                              const model::VelocityVector& positional,
                              const model::VelocityVector& rotational);
    void onAircraftConfigurationReceived(const QString& from, const QString& json);
    void onAircraftInfoReceived(const QString& callsign, const QString& equipment, const QString& airline);
    void onPilotDeleted(const QString& callsign);
    // The session's pilot table asked the back end to add a pilot, or forgot a silent one.
    void onSessionAddRequested(const RemoteAircraft& aircraft);
    void onPilotExpired(const QString& callsign);
    void onSimulatorChanged();
    // The back end reported itself not connected, then connected and cleared again.
    void onSimulatorLost();
    void onSimulatorRestored();
    void onAircraftAddedToSim(const QString& callsign);
    void onAircraftRemovedFromSim(const QString& callsign);

    // Timer ticks, public so that they can be driven directly.
    void removeStaleAircraft();
    void syncToSimulator();

private:
    QDateTime now() const;
    // Index of the record of a callsign (trimmed, upper case), or -1.
    qsizetype indexOf(const QString& callsign) const;
    // Takes a record out of the look-up at once; the list drops it in one pass
    // with all others taken out before it is next walked (compact).
    void dropAt(qsizetype index);
    void compact() const;
    // One sync pass on the next turn of the event loop, however many asked.
    void scheduleSync();
    // A new record heard from now; its position in m_aircraft.
    qsizetype insertRecord(const QString& callsign);
    // A pilot's first slow position, in a record new or made from the simulator side.
    void addAircraft(qsizetype index, const model::AircraftVisualState& visualState);
    // Takes a record out for good, departed or silent, asking the back end
    // to remove what it may show; no removal is waited for.
    void forget(qsizetype index, const QString& reason);
    // Asks the back end to remove a record that stays until the removal is
    // confirmed: the confirmation awaited is this one's.
    void askRemoval(qsizetype index, const QString& reason);
    // Keeps the table within the session's pilot cap, by the session's rule.
    void makeRoomForAircraft();
    void connectSimulator();

    std::shared_ptr<NetworkManager> m_networkManager;
    std::shared_ptr<simulator::Simulator> m_simulator;
    QList<QMetaObject::Connection> m_simulatorConnections;
    QTimer m_staleTimer;
    QTimer m_syncTimer;
    // One record per callsign: records are only created for callsigns that
    // no record holds. Dropped records stay, marked, until compact(), so that
    // many leaving at once cost one pass rather than one pass each.
    mutable QList<RemoteAircraft> m_aircraft;
    mutable QList<bool> m_dropped;
    mutable qsizetype m_droppedCount = 0;
    // Callsign -> position in m_aircraft, for the records not dropped.
    mutable QHash<QString, qsizetype> m_indexByCallsign;
    // The back end reported itself not connected and not yet connected again.
    bool m_simulatorGone = false;
    bool m_syncScheduled = false;
    bool m_capWarned = false;
    Clock m_clock;
};

} // namespace velk::manager
