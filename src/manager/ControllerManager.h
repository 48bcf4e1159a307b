#pragma once

#include "model/AircraftState.h"
#include "model/Controller.h"

#include <QDateTime>
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

// The controllers in range while connected: learnt from the session manager,
// announced to the dashboard, published to the simulator back end once a second.
class ControllerManager : public QObject {
    Q_OBJECT

public:
    // Milliseconds since the epoch (UTC).
    using Clock = std::function<qint64()>;

    explicit ControllerManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent = nullptr);

    // Time source of lastSeen and of the sweep; the system clock unless replaced.
    void setClock(Clock clock);

    const QList<model::Controller>& controllers() const { return m_controllers; }
    bool isSweepRunning() const { return m_sweepTimer.isActive(); }

    void onControllerUpdateReceived(const QString& from, uint frequency, double lat, double lon);
    void onIsValidAtcReceived(const QString& callsign);
    void onRealNameReceived(const QString& callsign, const QString& name);
    void onControllerDeleted(const QString& callsign);
    void onNetworkConnected(const QString& callsign);
    void onNetworkDisconnected(bool forced);
    void onSimulatorChanged();
    void onRadioStackStateChanged(const model::RadioStackState& state);

    // One sweep: drops departed and silent controllers, then publishes the list.
    void removeStaleControllers();

signals:
    void controllerAdded(velk::model::Controller controller);
    void controllerDeleted(velk::model::Controller controller);
    void controllerUpdated(velk::model::Controller controller);

private:
    qsizetype indexOf(const QString& callsign) const;
    static bool isAnnounceable(const model::Controller& controller);
    void publishController(const model::Controller& controller);
    // Empties the list, announcing each controller as deleted.
    void clearControllers();
    void updateStationCallsigns();
    void connectSimulator();
    qint64 nowSecs() const;

    std::shared_ptr<NetworkManager> m_networkManager;
    std::shared_ptr<simulator::Simulator> m_simulator;
    QList<QMetaObject::Connection> m_simulatorConnections;
    QList<model::Controller> m_controllers;
    QTimer m_sweepTimer;
    model::RadioStackState m_radioStack{};
    Clock m_clock;
};

} // namespace velk::manager
