// Simulator binding: the current back end, the user's aircraft as it reports
// it, the validity of that data, the dashboard snapshot and the voice radios.
#include "manager/NetworkManager.h"

#include <cmath>
#include <utility>

namespace velk::manager {

using simulator::Simulator;

namespace {

// A position a report may carry: finite, on the globe, and not the 0°N 0°E of
// a cleared record.
bool hasReportablePosition(const model::UserAircraftData& d) {
    return std::isfinite(d.latitude) && std::isfinite(d.longitude) && std::abs(d.latitude) <= 90.0 &&
           std::abs(d.longitude) <= 180.0 &&
           (std::abs(d.latitude) > 0.000001 || std::abs(d.longitude) > 0.000001);
}

// A lost back end clears its records until it refills them. Only a record
// that differs from a cleared one in anything is the aircraft's again: a
// glider or a code of 0000 leaves single values at zero for good.
bool carriesConfiguration(const model::UserAircraftConfigData& c) {
    return !(c == model::UserAircraftConfigData{});
}

// The active frequencies and the audio selection come back first; only a
// value refilled with the transponder makes the radios the aircraft's again.
bool carriesRadios(const model::RadioStackState& r) {
    return r.avionicsPowerOn || r.transponderCode != 0 || r.squawkingModeC || r.squawkingIdent ||
           r.com1StandbyFrequency != 0 || r.com2StandbyFrequency != 0 || r.com1Volume != 0 ||
           r.com2Volume != 0;
}

// After a loss the network keeps what it saw until a record carries the
// aircraft's values again; a cleared one arriving while lost holds it anew.
void noteDelivery(bool carries, bool lost, bool& held) {
    if (carries) {
        held = false;
    } else if (lost) {
        held = true;
    }
}

} // namespace

void NetworkManager::setSimulator(std::shared_ptr<Simulator> simulator) {
    if (!simulator) {
        return;
    }
    if (m_simulator) {
        m_simulator->removeAllRemoteAircraft();
        m_simulator->clearControllerList();
    }
    disconnectSimulatorSignals();
    m_simulator = std::move(simulator);
    connectSimulatorSignals();
    if (!m_dataWatchdogTimer.isActive()) {
        m_dataWatchdogTimer.start();
    }

    // Before the caches are cleared, so that a session in flight keeps them.
    const bool wasValid = std::exchange(m_simDataValid, false);
    noteSimDataValidity(wasValid);
    m_userAircraftData = {};
    m_userAircraftConfigData = {};
    // Listeners of the radios learn that the old back end's radios are gone.
    const bool radiosReset = !(m_radioStackState == model::RadioStackState{});
    m_radioStackState = {};
    m_transmitFrequencies.clear();
    m_simPaused = false;
    m_plausibleUpdateCount = 0;
    m_lastSimDataMs = 0;

    emit simulatorConnectionStateChanged(false);
    publishSimulatorData();
    if (radiosReset) {
        emit radioStatesUpdate(m_radioStackState);
    }
    m_simulatorGone = false;
    readdKnownPilots();
    emit simulatorChanged();

    // Asked on the next turn, and only if this back end is still the bound one.
    std::shared_ptr<Simulator> bound = m_simulator;
    QMetaObject::invokeMethod(
        this,
        [this, bound] {
            if (m_simulator == bound) {
                bound->reconnectSimulator();
            }
        },
        Qt::QueuedConnection);
}

void NetworkManager::reconnectSimulator() {
    if (m_simulator) {
        m_simulator->reconnectSimulator();
    }
}

void NetworkManager::connectSimulatorSignals() {
    Simulator* sim = m_simulator.get();
    auto& c = m_simulatorConnections;
    c << connect(sim, &Simulator::userAircraftDataChanged, this, &NetworkManager::onUserAircraftDataChanged);
    c << connect(sim, &Simulator::userAircraftConfigDataChanged, this,
                 &NetworkManager::onUserAircraftConfigDataChanged);
    c << connect(sim, &Simulator::radioStackStateChanged, this, &NetworkManager::onRadioStackStateChanged);
    c << connect(sim, &Simulator::requestStationInfo, this, &NetworkManager::onRequestStationInfo);
    c << connect(sim, &Simulator::radioMessageSent, this, &NetworkManager::sendRadioMessage);
    c << connect(sim, &Simulator::privateMessageSent, this, &NetworkManager::sendPrivateMessage);
    c << connect(sim, &Simulator::forceDisconnect, this, &NetworkManager::onSimulatorForceDisconnect);
    c << connect(sim, &Simulator::simConnectionStateChanged, this,
                 &NetworkManager::onSimConnectionStateChanged);
    c << connect(sim, &Simulator::simConnectionFailed, this, &NetworkManager::onSimConnectionFailed);
    // As when the back end comes back: it is cleared and every pilot still
    // heard goes in once. One that is gone gets them when it is connected again.
    c << connect(sim, &Simulator::remoteAircraftCleared, this, [this] {
        if (!m_simulatorGone) {
            followSimulatorConnection(false);
            followSimulatorConnection(true);
        }
    });
    c << connect(sim, &Simulator::pluginVersionChecked, this, &NetworkManager::simulatorPluginStatusUpdated);
    c << connect(sim, &Simulator::cslValidationChecked, this, &NetworkManager::simulatorCslStatusUpdated);
    c << connect(sim, &Simulator::trafficMappingStatusChanged, this,
                 &NetworkManager::simulatorTrafficMappingStatusUpdated);
    c << connect(sim, &Simulator::xplaneVersionUpdated, this, &NetworkManager::simulatorXPlaneVersionUpdated);
    c << connect(sim, &Simulator::simPausedStateChanged, this, &NetworkManager::onSimPausedStateChanged);
    c << connect(sim, &Simulator::trafficSnapshotChanged, this,
                 &NetworkManager::simulatorTrafficSnapshotUpdated);
}

void NetworkManager::disconnectSimulatorSignals() {
    for (const auto& connection : std::as_const(m_simulatorConnections)) {
        disconnect(connection);
    }
    m_simulatorConnections.clear();
}

void NetworkManager::readdKnownPilots() {
    const QStringList callsigns = m_pilots.keys();
    for (const QString& callsign : callsigns) {
        auto it = m_pilots.find(callsign);
        // Only pilots still heard from: the others have left the remote table.
        if (it == m_pilots.end() || it->equipment.isEmpty() || !it->hasPosition || !isPilotFresh(*it)) {
            continue;
        }
        it->simState = RemoteAircraft::SimState::AddRequested;
        requestAircraftInfoIfNeeded(callsign);
    }
}

// Back ends deliver the snapshot at their own rate, changed or not: the data
// is fresh while they keep delivering, even when a paused or parked aircraft
// stops changing. Only a change is stored and published.
void NetworkManager::onUserAircraftDataChanged(const model::UserAircraftData& data) {
    bool publish = !(data == m_userAircraftData);
    m_userAircraftData = data;
    // Only a position a report may carry counts, and nothing from a back end
    // that said it is not connected.
    if (!m_simulatorGone && hasReportablePosition(data)) {
        m_lastSimDataMs = now();
        if (m_plausibleUpdateCount < 3) {
            ++m_plausibleUpdateCount;
        }
        const bool becameValid = m_plausibleUpdateCount >= 3 && !m_simDataValid;
        m_simDataValid = m_simDataValid || becameValid;
        // The reported aircraft moves only while the data is valid.
        if (m_simDataValid) {
            takeReportedAircraft(data);
        }
        if (becameValid) {
            noteSimDataValidity(false);
            emit simulatorConnectionStateChanged(true);
            publish = true;
        }
        if (m_simDataValid && !m_simLost && (m_configHeld || m_radiosHeld) && m_holdsEndAtMs == 0) {
            m_holdsEndAtMs = now() + HoldAfterReturnMs;
        }
    }
    if (publish) {
        publishSimulatorData();
    }
}

// A lost back end publishes cleared records: reports never take them.
void NetworkManager::takeReportedAircraft(const model::UserAircraftData& data) {
    if (!hasReportablePosition(data)) {
        return;
    }
    m_reportedData = data;
    m_reportedAltitudeFeet = userAltitudeFeet();
    m_reportedPressureAltitudeFeet = userPressureAltitudeFeet();
    m_hasReportedData = true;
}

// A new session reports the aircraft as it is now, never an earlier flight's.
void NetworkManager::restartReportedAircraft() {
    m_reportedData = {};
    m_reportedAltitudeFeet = 0.0;
    m_reportedPressureAltitudeFeet = 0.0;
    m_hasReportedData = false;
    if (m_simDataValid) {
        takeReportedAircraft(m_userAircraftData);
    }
    // Nor records held through a loss for an earlier session.
    if (!m_simLost) {
        releaseHolds();
    }
}

// Valid data that ends marks the simulator lost until data is valid again.
void NetworkManager::noteSimDataValidity(bool wasValid) {
    const bool pilotSession = sessionExists() && !m_connectInfo.observerMode;
    if (wasValid && !m_simDataValid && !m_simLost) {
        m_lostConfig = reportedConfig();
        m_lostRadios = reportedRadios();
        m_simLost = true;
        m_configHeld = true;
        m_radiosHeld = true;
        m_holdsEndAtMs = 0;
        if (pilotSession) {
            emit notificationPosted(QStringLiteral("模拟器连接已丢失，网络上保持最后一次有效的飞机位置。"),
                                    common::MessageType::Error);
        }
    } else if (m_simDataValid && m_simLost) {
        m_simLost = false;
        if (pilotSession) {
            emit notificationPosted(QStringLiteral("模拟器数据已恢复，继续报告飞机位置。"),
                                    common::MessageType::Info);
        }
    }
}

const model::UserAircraftConfigData& NetworkManager::reportedConfig() const {
    return isConfigurationHeld() ? m_lostConfig : m_userAircraftConfigData;
}

const model::RadioStackState& NetworkManager::reportedRadios() const {
    return m_simLost || m_radiosHeld ? m_lostRadios : m_radioStackState;
}

void NetworkManager::onUserAircraftConfigDataChanged(const model::UserAircraftConfigData& data) {
    if (data == m_userAircraftConfigData) {
        return;
    }
    noteDelivery(carriesConfiguration(data), m_simLost, m_configHeld);
    m_userAircraftConfigData = data;
    publishSimulatorData();
}

void NetworkManager::onRadioStackStateChanged(const model::RadioStackState& state) {
    if (state == m_radioStackState) {
        return;
    }
    noteDelivery(carriesRadios(state), m_simLost, m_radiosHeld);
    m_radioStackState = state;
    m_transmitFrequencies.clear();
    if (state.com1TransmitEnabled) {
        m_transmitFrequencies.append(state.com1Frequency);
    } else if (state.com2TransmitEnabled) {
        m_transmitFrequencies.append(state.com2Frequency);
    }
    publishSimulatorData();
    if (m_voiceClient.isReady()) {
        refreshVoiceRadios();
    }
    emit radioStatesUpdate(state);
}

void NetworkManager::refreshVoiceRadios() {
    const auto& s = m_radioStackState;
    m_com1VoiceRadio.frequency = static_cast<qint32>(s.com1Frequency);
    m_com1VoiceRadio.transmit = s.com1TransmitEnabled;
    m_com1VoiceRadio.receive = s.com1ReceiveEnabled;
    m_com1VoiceRadio.volume = static_cast<float>(s.com1Volume) / 100.0f;
    m_voiceClient.updateRadioStack(m_com1VoiceRadio);

    m_com2VoiceRadio.frequency = static_cast<qint32>(s.com2Frequency);
    m_com2VoiceRadio.receive = s.com2ReceiveEnabled;
    // Only one radio transmits; COM1 wins.
    m_com2VoiceRadio.transmit = s.com2TransmitEnabled && !s.com1TransmitEnabled;
    m_com2VoiceRadio.volume = static_cast<float>(s.com2Volume) / 100.0f;
    m_voiceClient.updateRadioStack(m_com2VoiceRadio);
}

void NetworkManager::onVoiceConnectionStateChanged(voice::ConnectionState state) {
    if (state == voice::ConnectionState::Ready && m_voiceClient.isReady()) {
        refreshVoiceRadios();
    }
}

void NetworkManager::onRequestStationInfo(QString callsign) {
    requestControllerAtis(callsign);
}

void NetworkManager::onSimConnectionStateChanged(bool connected) {
    const bool wasValid = m_simDataValid;
    if (connected) {
        m_simDataValid = true;
        m_lastSimDataMs = 0;
        noteSimDataValidity(wasValid);
        emit simulatorConnectionStateChanged(true);
        if (!wasValid) {
            publishSimulatorData();
        }
    } else {
        m_simDataValid = false;
        m_plausibleUpdateCount = 0;
        m_lastSimDataMs = 0;
        noteSimDataValidity(wasValid);
        emit simulatorConnectionStateChanged(false);
        if (wasValid) {
            publishSimulatorData();
        }
    }
    // Until it is connected again its data does not count and it holds no pilot.
    followSimulatorConnection(connected);
}

void NetworkManager::onSimConnectionFailed(QString message) {
    const bool wasValid = std::exchange(m_simDataValid, false);
    m_plausibleUpdateCount = 0;
    m_lastSimDataMs = 0;
    noteSimDataValidity(wasValid);
    emit simulatorConnectionStateChanged(false);
    emit simulatorConnectionFailed(message);
}

void NetworkManager::onSimPausedStateChanged(bool paused) {
    // The back end gets the full limit to deliver again after a pause.
    if (m_simPaused && !paused && m_lastSimDataMs > 0) {
        m_lastSimDataMs = now();
    }
    m_simPaused = paused;
    publishSimulatorData();
}

// A paused simulator may send nothing at all: only a loss its back end
// reports ends the data's validity then.
void NetworkManager::checkSimulatorDataStale() {
    if (m_simPaused || !m_simDataValid || m_lastSimDataMs <= 0 || now() - m_lastSimDataMs < 3001) {
        endHoldsPastTheRefill();
        return;
    }
    m_simDataValid = false;
    m_plausibleUpdateCount = 0;
    noteSimDataValidity(true);
    emit simulatorConnectionStateChanged(false);
    publishSimulatorData();
}

// Records still cleared well after valid data is back are the aircraft's
// (a glider, a code of 0000, avionics off): the reports take them, and the
// configuration exchange is told, as no delivery will tell it.
void NetworkManager::endHoldsPastTheRefill() {
    if (m_simLost || m_holdsEndAtMs == 0 || now() < m_holdsEndAtMs) {
        return;
    }
    releaseHolds();
}

void NetworkManager::releaseHolds() {
    m_holdsEndAtMs = 0;
    m_radiosHeld = false;
    if (std::exchange(m_configHeld, false)) {
        emit m_heldRecordEvents.configurationReleased(m_userAircraftConfigData);
    }
}

void NetworkManager::showNotificationInSimulator(QString message, common::MessageType type) {
    if (m_simulator) {
        m_simulator->showNotification(message, common::messageTypeColor(type));
    }
}

void NetworkManager::publishSimulatorData() {
    const auto& d = m_userAircraftData;
    const auto& c = m_userAircraftConfigData;
    const auto& r = m_radioStackState;
    emit simulatorDataUpdated(
        m_simDataValid, d.latitude, d.longitude, d.altitudeMslM, d.altitudeAglM, d.altitudePressure, d.pitch,
        d.heading, d.bank, d.latitudeVelocity, d.longitudeVelocity, d.altitudeVelocity, d.pitchVelocity,
        d.headingVelocity, d.bankVelocity, d.groundSpeed, d.noseWheelAngle, c.onGround, c.gearDown,
        c.flapsRatio, c.speedbrakeRatio, c.speedbrakeArmed, c.engineCount, c.engine1Running, c.engine2Running,
        c.engine3Running, c.engine4Running, c.engine1Reversing, c.engine2Reversing, c.engine3Reversing,
        c.engine4Reversing, c.beaconOn, c.landingLightsOn, c.taxiLightsOn, c.navLightsOn, c.strobesOn,
        r.avionicsPowerOn, r.com1ReceiveEnabled, r.com2ReceiveEnabled, r.com1TransmitEnabled,
        r.com2TransmitEnabled, r.com1Frequency, r.com2Frequency, static_cast<double>(r.com1Volume),
        static_cast<double>(r.com2Volume), r.transponderCode, r.squawkingModeC, r.squawkingIdent,
        m_simPaused);
}

} // namespace velk::manager
