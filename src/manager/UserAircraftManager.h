#pragma once

#include "model/AircraftConfig.h"
#include "model/AircraftState.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace velk::simulator {
class Simulator;
}

namespace velk::manager {

class NetworkManager;

// The user's side of the aircraft-configuration exchange: increments broadcast
// under a token bucket, full configurations on request, mode C at take-off.
class UserAircraftManager : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxSendTokens = 10;

    explicit UserAircraftManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent = nullptr);

    int sendTokens() const { return m_sendTokens; }
    bool isRefillRunning() const { return m_refillTimer.isActive(); }

    void onAircraftConfigurationInfoReceived(const QString& from, const QString& json);
    void onSimulatorChanged();
    void onUserAircraftConfigDataChanged(const model::UserAircraftConfigData& data);
    void onRadioStackStateChanged(const model::RadioStackState& state);
    void onSimConnectionStateChanged(bool connected);
    // The session's verdict on the simulator data; a configuration held while
    // the simulator was lost is taken once the data is valid again.
    void onSimulatorDataValidityChanged(bool valid);
    // The session stopped holding the configuration without a new delivery.
    void onHeldConfigurationReleased(const model::UserAircraftConfigData& current);

    // Refill tick, public so that it can be driven directly.
    void onRefillTimer();

private:
    void connectSimulator();

    std::shared_ptr<NetworkManager> m_networkManager;
    std::shared_ptr<simulator::Simulator> m_simulator;
    QList<QMetaObject::Connection> m_simulatorConnections;
    QTimer m_refillTimer;
    int m_sendTokens = MaxSendTokens;
    model::UserAircraftConfigData m_current{};
    std::optional<model::UserAircraftConfigData> m_held;
    model::RadioStackState m_radioStack{};
    std::optional<model::AircraftConfig> m_lastSent;
    bool m_wasAirborne = false;
    bool m_simConnected = false;
    bool m_hasPrevious = false;
};

} // namespace velk::manager
