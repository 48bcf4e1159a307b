#include "manager/AircraftManager.h"

#include "manager/NetworkManager.h"
#include "simulator/Simulator.h"

#include <QDebug>

#include <utility>

namespace velk::manager {

namespace {
constexpr int StaleIntervalMs = 10000;
constexpr int SyncIntervalMs = 5000;
// An add the back end has not confirmed after this long is asked again.
constexpr qint64 AddTimeoutMs = 10000;
constexpr double MovingGroundSpeedKnots = 0.5;

const QString ReasonStale = QStringLiteral("Stale");
const QString ReasonDeleted = QStringLiteral("Deleted");

// Callsigns are keyed trimmed and upper-cased, as the session manager emits them.
QString normalizedCallsign(const QString& callsign) {
    return callsign.trimmed().toUpper();
}

} // namespace

AircraftManager::AircraftManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent)
    : QObject(parent), m_networkManager(std::move(networkManager)),
      m_clock(&QDateTime::currentMSecsSinceEpoch) {
    m_staleTimer.setInterval(StaleIntervalMs);
    m_syncTimer.setInterval(SyncIntervalMs);
    NetworkManager* nm = m_networkManager.get();
    connect(nm, &NetworkManager::networkConnected, this, &AircraftManager::onNetworkConnected);
    connect(nm, &NetworkManager::networkDisconnected, this, &AircraftManager::onNetworkDisconnected);
    connect(nm, &NetworkManager::capabilitiesResponseReceived, this,
            &AircraftManager::onCapabilitiesResponseReceived);
    connect(nm, &NetworkManager::capabilitiesRequestReceived, this,
            &AircraftManager::onCapabilitiesRequestReceived);
    connect(nm, &NetworkManager::slowPositionUpdateReceived, this, &AircraftManager::onSlowPositionUpdate);
    connect(nm, &NetworkManager::fastPositionUpdateReceived, this, &AircraftManager::onFastPositionUpdate);
    connect(nm, &NetworkManager::aircraftConfigurationInfoReceived, this,
            &AircraftManager::onAircraftConfigurationReceived);
    connect(nm, &NetworkManager::aircraftInfoReceived, this, &AircraftManager::onAircraftInfoReceived);
    connect(nm, &NetworkManager::pilotDeleted, this, &AircraftManager::onPilotDeleted);
    connect(nm, &NetworkManager::simulatorChanged, this, &AircraftManager::onSimulatorChanged);
    connect(nm->pilotTableEvents(), &PilotTableEvents::addRequested, this,
            &AircraftManager::onSessionAddRequested);
    connect(nm->pilotTableEvents(), &PilotTableEvents::pilotExpired, this, &AircraftManager::onPilotExpired);
    connect(nm->pilotTableEvents(), &PilotTableEvents::simulatorLost, this,
            &AircraftManager::onSimulatorLost);
    connect(nm->pilotTableEvents(), &PilotTableEvents::simulatorRestored, this,
            &AircraftManager::onSimulatorRestored);
    connect(&m_staleTimer, &QTimer::timeout, this, &AircraftManager::removeStaleAircraft);
    connect(&m_syncTimer, &QTimer::timeout, this, &AircraftManager::syncToSimulator);
}

void AircraftManager::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock(&QDateTime::currentMSecsSinceEpoch);
}

QDateTime AircraftManager::now() const {
    return QDateTime::fromMSecsSinceEpoch(m_clock(), Qt::UTC);
}

qsizetype AircraftManager::indexOf(const QString& callsign) const {
    auto it = m_indexByCallsign.constFind(callsign);
    if (it == m_indexByCallsign.cend()) {
        const QString key = normalizedCallsign(callsign);
        if (key == callsign) {
            return -1;
        }
        it = m_indexByCallsign.constFind(key);
        if (it == m_indexByCallsign.cend()) {
            return -1;
        }
    }
    return it.value();
}

const QList<RemoteAircraft>& AircraftManager::aircraft() const {
    compact();
    return m_aircraft;
}

void AircraftManager::dropAt(qsizetype index) {
    m_indexByCallsign.remove(m_aircraft.at(index).callsign);
    m_dropped[index] = true;
    ++m_droppedCount;
}

void AircraftManager::compact() const {
    if (m_droppedCount == 0) {
        return;
    }
    qsizetype kept = 0;
    for (qsizetype i = 0; i < m_aircraft.size(); ++i) {
        if (m_dropped.at(i)) {
            continue;
        }
        if (kept != i) {
            m_aircraft[kept] = std::move(m_aircraft[i]);
            m_indexByCallsign[m_aircraft.at(kept).callsign] = kept;
        }
        ++kept;
    }
    m_aircraft.resize(kept);
    m_dropped.fill(false, kept);
    m_droppedCount = 0;
}

void AircraftManager::scheduleSync() {
    if (m_syncScheduled) {
        return;
    }
    m_syncScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_syncScheduled = false;
            syncToSimulator();
        },
        Qt::QueuedConnection);
}

bool AircraftManager::mayBeInSimulator(const RemoteAircraft& aircraft) {
    // An add that timed out unconfirmed may still have been carried out, and
    // the session's pilot table asks one as soon as the type is known.
    return aircraft.simState != RemoteAircraft::SimState::NotInSimulator || !aircraft.equipment.isEmpty();
}

bool AircraftManager::isReadyForSimulator(const RemoteAircraft& aircraft) {
    // A moving aircraft goes in only once it sends fast positions.
    return aircraft.simState == RemoteAircraft::SimState::NotInSimulator && aircraft.hasConfig &&
           aircraft.hasPosition && !aircraft.equipment.isEmpty() &&
           (aircraft.groundSpeed <= MovingGroundSpeedKnots || aircraft.hasFastUpdates);
}

void AircraftManager::onNetworkConnected(const QString& /*callsign*/) {
    m_staleTimer.start();
    // Unconfirmed adds are retried by the sync pass even when no traffic triggers one.
    m_syncTimer.start();
}

void AircraftManager::onNetworkDisconnected(bool /*forced*/) {
    // The session manager has already emptied the simulator as the session
    // ended; a second remove-all would only repeat it.
    m_aircraft.clear();
    m_dropped.clear();
    m_droppedCount = 0;
    m_indexByCallsign.clear();
    m_capWarned = false;
    m_staleTimer.stop();
    m_syncTimer.stop();
}

void AircraftManager::onCapabilitiesResponseReceived(const QString& callsign, const QString& data) {
    if (data.contains(QStringLiteral("ACCONFIG=1"))) {
        m_networkManager->requestAircraftConfiguration(callsign);
    }
}

void AircraftManager::onCapabilitiesRequestReceived(const QString& callsign) {
    if (indexOf(callsign) >= 0) {
        m_networkManager->requestPilotInfo(callsign);
    }
}

void AircraftManager::makeRoomForAircraft() {
    if (m_indexByCallsign.size() < NetworkManager::MaxPilots) {
        return;
    }
    compact();
    std::vector<std::pair<qint64, qsizetype>> byAge;
    byAge.reserve(static_cast<size_t>(m_aircraft.size()));
    for (qsizetype i = 0; i < m_aircraft.size(); ++i) {
        byAge.emplace_back(m_aircraft.at(i).lastUpdate.toMSecsSinceEpoch(), i);
    }
    for (const qsizetype index : leastRecentlyHeardToDrop(std::move(byAge), NetworkManager::MaxPilots)) {
        forget(index, ReasonStale);
    }
    if (!m_capWarned) {
        m_capWarned = true;
        qWarning() << "Remote aircraft table full at" << NetworkManager::MaxPilots
                   << "pilots: the least recently heard are dropped";
    }
}

qsizetype AircraftManager::insertRecord(const QString& callsign) {
    makeRoomForAircraft();
    RemoteAircraft aircraft;
    aircraft.callsign = normalizedCallsign(callsign);
    aircraft.lastUpdate = now();
    const qsizetype index = m_aircraft.size();
    m_indexByCallsign.insert(aircraft.callsign, index);
    m_aircraft.append(std::move(aircraft));
    m_dropped.append(false);
    return index;
}

void AircraftManager::forget(qsizetype index, const QString& reason) {
    const RemoteAircraft& aircraft = m_aircraft.at(index);
    const QString callsign = aircraft.callsign;
    // A simulator that is gone holds nothing and is asked nothing.
    const bool shown = !m_simulatorGone && mayBeInSimulator(aircraft);
    // Dropped first: the confirmations of its add and of this removal find
    // no record, or a new one that has not asked for them.
    dropAt(index);
    if (shown && m_simulator) {
        m_simulator->removeRemoteAircraft(callsign, reason);
    }
}

void AircraftManager::askRemoval(qsizetype index, const QString& reason) {
    m_aircraft[index].removalAsked = true;
    const QString callsign = m_aircraft.at(index).callsign;
    if (m_simulator) {
        m_simulator->removeRemoteAircraft(callsign, reason);
    }
}

void AircraftManager::addAircraft(qsizetype index, const model::AircraftVisualState& visualState) {
    RemoteAircraft& aircraft = m_aircraft[index];
    aircraft.visualState = visualState;
    aircraft.hasPosition = true;
    aircraft.lastUpdate = now();
    const QString callsign = aircraft.callsign;
    m_networkManager->requestCapabilities(callsign);
    m_networkManager->sendCapabilities(callsign);
    m_networkManager->requestPilotInfo(callsign);
}

void AircraftManager::onSlowPositionUpdate(const QString& callsign,
                                           const model::AircraftVisualState& visualState,
                                           double groundSpeed) {
    const qsizetype index = indexOf(callsign);
    if (index < 0 || !m_aircraft.at(index).hasPosition) {
        addAircraft(index < 0 ? insertRecord(callsign) : index, visualState);
        return;
    }
    RemoteAircraft& aircraft = m_aircraft[index];
    aircraft.groundSpeed = groundSpeed;
    aircraft.lastUpdate = now();
    const bool ready = isReadyForSimulator(aircraft);
    const QString key = aircraft.callsign;
    if (m_simulator) {
        m_simulator->sendHeartbeat(key);
    }
    if (ready) {
        syncToSimulator();
    }
}

void AircraftManager::onFastPositionUpdate(const QString& callsign,
                                           const model::AircraftVisualState& /*visualState*/,
                                           const model::VelocityVector& /*positional*/,
                                           const model::VelocityVector& /*rotational*/) {
    const qsizetype index = indexOf(callsign);
    if (index < 0) {
        return;
    }
    RemoteAircraft& aircraft = m_aircraft[index];
    aircraft.hasFastUpdates = true;
    aircraft.lastUpdate = now();
    // The session's pilot table moves the aircraft: one move per received position.
}

void AircraftManager::onAircraftConfigurationReceived(const QString& from, const QString& json) {
    // One record per callsign: records are only created for callsigns no record holds.
    const qsizetype index = indexOf(from);
    if (index < 0) {
        return;
    }
    // A request for our configuration, or an unreadable text, is an empty increment.
    const model::AircraftConfigMessage message = model::AircraftConfigMessage::fromJson(json);
    RemoteAircraft& aircraft = m_aircraft[index];
    if (!aircraft.applyConfiguration(message.config.value_or(model::AircraftConfig{}))) {
        return;
    }
    if (isReadyForSimulator(aircraft)) {
        syncToSimulator();
    } else if (m_simulator) {
        const RemoteAircraft record = aircraft;
        m_simulator->updateRemoteAircraftConfig(record);
    }
}

void AircraftManager::onAircraftInfoReceived(const QString& callsign, const QString& equipment,
                                             const QString& airline) {
    const qsizetype index = indexOf(callsign);
    if (index < 0) {
        return;
    }
    m_aircraft[index].equipment = equipment;
    m_aircraft[index].airline = airline;
    syncToSimulator();
}

void AircraftManager::onPilotDeleted(const QString& callsign) {
    const QString key = normalizedCallsign(callsign);
    const qsizetype index = indexOf(key);
    if (index >= 0 && m_aircraft.at(index).simState == RemoteAircraft::SimState::InSimulator) {
        // Leaves the list when the back end confirms the removal.
        askRemoval(index, ReasonDeleted);
    } else if (index >= 0) {
        // Never confirmed there: no removal will be confirmed either, and the
        // sync pass must not put a departed pilot in. It goes now.
        forget(index, ReasonDeleted);
        qInfo() << "Departed pilot dropped before reaching the simulator" << key;
    }
    // Coalesced: a server announcing many departures at once gets one pass.
    scheduleSync();
}

void AircraftManager::onSessionAddRequested(const RemoteAircraft& asked) {
    const QString key = normalizedCallsign(asked.callsign);
    qsizetype index = indexOf(key);
    if (index < 0) {
        // Heard by fast positions alone so far, or before the login completed:
        // kept all the same, since only this table takes it out again and
        // only a record held here takes the confirmation.
        index = insertRecord(key);
        m_aircraft[index].equipment = asked.equipment;
        m_aircraft[index].airline = asked.airline;
    }
    // Pending like an add of this table's own: not asked again until it times
    // out. A removal asked before is no longer the last request.
    RemoteAircraft& aircraft = m_aircraft[index];
    aircraft.simState = RemoteAircraft::SimState::AddRequested;
    aircraft.addRequestedAt = now();
    aircraft.removalAsked = false;
}

void AircraftManager::onPilotExpired(const QString& callsign) {
    // Forgotten here too, whatever its state, so that when heard again it is
    // a new pilot to both tables and put in once.
    const qsizetype index = indexOf(callsign);
    if (index >= 0) {
        forget(index, ReasonStale);
    }
}

void AircraftManager::removeStaleAircraft() {
    compact();
    const QDateTime current = now();
    qsizetype dropped = 0;
    // Indexes stay valid while walking: records leaving are only marked.
    const qsizetype count = m_aircraft.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (m_dropped.at(i) || m_aircraft.at(i).lastUpdate.msecsTo(current) < RemoteAircraft::StaleAfterMs) {
            continue;
        }
        const QString callsign = m_aircraft.at(i).callsign;
        if (m_aircraft.at(i).simState == RemoteAircraft::SimState::InSimulator) {
            // Leaves the list when the back end confirms the removal.
            askRemoval(i, ReasonStale);
        } else {
            // Never confirmed in the simulator: no confirmation of a removal will
            // come either, so the record goes now. A pending add is withdrawn.
            forget(i, ReasonStale);
            ++dropped;
        }
        // The session's table forgets it too: heard again, it is new to both.
        m_networkManager->forgetPilot(callsign);
    }
    if (dropped > 0) {
        qInfo() << "Stale aircraft dropped before reaching the simulator:" << dropped;
    }
}

void AircraftManager::syncToSimulator() {
    if (!m_simulator || m_simulatorGone) {
        return;
    }
    compact();
    const QDateTime current = now();
    QList<RemoteAircraft> toAdd;
    for (auto& aircraft : m_aircraft) {
        if (aircraft.simState == RemoteAircraft::SimState::AddRequested) {
            if (aircraft.addRequestedAt.msecsTo(current) > AddTimeoutMs) {
                aircraft.simState = RemoteAircraft::SimState::NotInSimulator;
            }
            continue;
        }
        // One no longer heard is the stale pass's to take out, not to put in.
        if (isReadyForSimulator(aircraft) &&
            aircraft.lastUpdate.msecsTo(current) < RemoteAircraft::StaleAfterMs) {
            toAdd.append(aircraft);
            // Marked before the calls, so that a back end confirming at once is not overridden.
            aircraft.addRequestedAt = current;
            aircraft.simState = RemoteAircraft::SimState::AddRequested;
        }
    }
    for (const auto& record : std::as_const(toAdd)) {
        m_simulator->addRemoteAircraft(record);
        m_simulator->updateRemoteAircraftConfig(record);
    }
}

void AircraftManager::onAircraftAddedToSim(const QString& callsign) {
    if (m_simulatorGone) {
        return; // it is cleared before anything is put in again
    }
    // Answers carry only the callsign: one counts only where the record's
    // last request was an add. Every add is recorded before it is asked, so
    // an answer finding no record, one asked out since, or a new one not yet
    // asked in, answers an add that a removal or the session's end overtook.
    const qsizetype index = indexOf(callsign);
    if (index < 0 || m_aircraft.at(index).removalAsked || !m_aircraft.at(index).addRequestedAt.isValid()) {
        qInfo() << "Confirmation of an add overtaken by a removal ignored:" << callsign;
        return;
    }
    m_aircraft[index].simState = RemoteAircraft::SimState::InSimulator;
}

void AircraftManager::onAircraftRemovedFromSim(const QString& callsign) {
    // Only a record whose last request was its removal leaves: any other
    // answers a removal or a remove-all that was asked before it was asked
    // in (again).
    const qsizetype index = indexOf(callsign);
    if (index >= 0 && m_aircraft.at(index).removalAsked) {
        dropAt(index);
    } else if (index >= 0) {
        qInfo() << "Confirmation of a removal overtaken by an add ignored:" << callsign;
    }
}

void AircraftManager::onSimulatorLost() {
    m_simulatorGone = true;
    for (qsizetype i = 0; i < m_aircraft.size(); ++i) {
        if (m_dropped.at(i)) {
            continue;
        }
        RemoteAircraft& aircraft = m_aircraft[i];
        if (aircraft.removalAsked) {
            // Departed or silent: the removal it awaited is done, and back in
            // the simulator it would sit unmoved until the next stale pass.
            dropAt(i);
            continue;
        }
        // Nothing asked of the simulator that was lost is answered any more.
        aircraft.simState = RemoteAircraft::SimState::NotInSimulator;
        aircraft.addRequestedAt = {};
    }
}

void AircraftManager::onSimulatorRestored() {
    m_simulatorGone = false;
    // Cleared just now: what it confirms of that clearing is no record's
    // removal, since none is asked out. The session's table puts its pilots
    // in first; this pass adds the others ready.
    scheduleSync();
}

void AircraftManager::onSimulatorChanged() {
    for (const auto& connection : std::as_const(m_simulatorConnections)) {
        disconnect(connection);
    }
    m_simulatorConnections.clear();
    m_simulator = m_networkManager->simulator();
    m_simulatorGone = false;
    connectSimulator();
}

void AircraftManager::connectSimulator() {
    if (!m_simulator) {
        return;
    }
    simulator::Simulator* sim = m_simulator.get();
    m_simulatorConnections.append(connect(sim, &simulator::Simulator::aircraftAddedToSim, this,
                                          &AircraftManager::onAircraftAddedToSim));
    m_simulatorConnections.append(connect(sim, &simulator::Simulator::aircraftRemovedFromSim, this,
                                          &AircraftManager::onAircraftRemovedFromSim));
}

} // namespace velk::manager
