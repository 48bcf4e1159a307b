#include "manager/UserAircraftManager.h"

#include "manager/NetworkManager.h"
#include "simulator/Simulator.h"

namespace velk::manager {

namespace {
constexpr int RefillIntervalMs = 5000;
}

UserAircraftManager::UserAircraftManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent)
    : QObject(parent), m_networkManager(std::move(networkManager)) {
    NetworkManager* nm = m_networkManager.get();
    connect(nm, &NetworkManager::aircraftConfigurationInfoReceived, this,
            &UserAircraftManager::onAircraftConfigurationInfoReceived);
    connect(nm, &NetworkManager::simulatorChanged, this, &UserAircraftManager::onSimulatorChanged);
    connect(nm, &NetworkManager::simulatorConnectionStateChanged, this,
            &UserAircraftManager::onSimulatorDataValidityChanged);
    connect(nm->heldRecordEvents(), &HeldRecordEvents::configurationReleased, this,
            &UserAircraftManager::onHeldConfigurationReleased);
    connect(&m_refillTimer, &QTimer::timeout, this, &UserAircraftManager::onRefillTimer);
    // The bucket refills for the object's whole life, on the network or not.
    m_refillTimer.start(RefillIntervalMs);
}

void UserAircraftManager::onSimulatorChanged() {
    for (const auto& connection : std::as_const(m_simulatorConnections)) {
        disconnect(connection);
    }
    m_simulatorConnections.clear();
    m_held.reset();
    m_simulator = m_networkManager->simulator();
    connectSimulator();
}

void UserAircraftManager::connectSimulator() {
    if (!m_simulator) {
        return;
    }
    simulator::Simulator* sim = m_simulator.get();
    m_simulatorConnections.append(connect(sim, &simulator::Simulator::userAircraftConfigDataChanged, this,
                                          &UserAircraftManager::onUserAircraftConfigDataChanged));
    m_simulatorConnections.append(connect(sim, &simulator::Simulator::radioStackStateChanged, this,
                                          &UserAircraftManager::onRadioStackStateChanged));
    m_simulatorConnections.append(connect(sim, &simulator::Simulator::simConnectionStateChanged, this,
                                          &UserAircraftManager::onSimConnectionStateChanged));
}

// The session has taken each record before: it connects to a back end before
// announcing it.
void UserAircraftManager::onUserAircraftConfigDataChanged(const model::UserAircraftConfigData& data) {
    // A lost back end publishes cleared records and refills them bit by bit:
    // the configuration the network saw stands until the aircraft's is back.
    if (m_networkManager->isSimulatorLost()) {
        m_held = data;
        return;
    }
    if (m_networkManager->isConfigurationHeld()) {
        return;
    }
    m_current = data;
    if (!m_lastSent) {
        // The first report is the baseline that the others are assumed to hold.
        m_lastSent = model::AircraftConfig::fromUserAircraftConfigData(m_current);
    } else if (m_sendTokens > 0) {
        const model::AircraftConfig candidate = model::AircraftConfig::fromUserAircraftConfigData(m_current);
        if (candidate.differsFrom(*m_lastSent)) {
            m_networkManager->broadcastAircraftConfiguration(
                model::AircraftConfig::diff(*m_lastSent, candidate));
            m_lastSent = candidate;
            --m_sendTokens;
        }
    }

    if (m_simConnected && m_hasPrevious) {
        const bool airborne = !m_current.onGround;
        if (airborne && !m_wasAirborne && !m_radioStack.squawkingModeC && m_simulator) {
            m_simulator->transponderModeToggle();
        }
        m_wasAirborne = airborne;
    }
    m_hasPrevious = true;
}

void UserAircraftManager::onSimulatorDataValidityChanged(bool valid) {
    if (!valid || !m_held || m_networkManager->isSimulatorLost()) {
        return;
    }
    const model::UserAircraftConfigData data = *m_held;
    m_held.reset();
    onUserAircraftConfigDataChanged(data);
}

void UserAircraftManager::onHeldConfigurationReleased(const model::UserAircraftConfigData& current) {
    m_held.reset();
    onUserAircraftConfigDataChanged(current);
}

void UserAircraftManager::onRefillTimer() {
    if (m_sendTokens < MaxSendTokens) {
        ++m_sendTokens;
    }
}

void UserAircraftManager::onAircraftConfigurationInfoReceived(const QString& from, const QString& json) {
    const model::AircraftConfigMessage message = model::AircraftConfigMessage::fromJson(json);
    if (!message.requestFull.value_or(false)) {
        return;
    }
    model::AircraftConfig config = model::AircraftConfig::fromUserAircraftConfigData(m_current);
    config.isFullData = true;
    m_networkManager->sendAircraftConfiguration(from, config);
}

void UserAircraftManager::onRadioStackStateChanged(const model::RadioStackState& state) {
    m_radioStack = state;
}

void UserAircraftManager::onSimConnectionStateChanged(bool connected) {
    m_simConnected = connected;
    if (!connected) {
        m_hasPrevious = false;
    }
}

} // namespace velk::manager
