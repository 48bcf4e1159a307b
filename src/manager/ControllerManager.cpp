#include "manager/ControllerManager.h"

#include "manager/NetworkManager.h"
#include "simulator/Simulator.h"

#include <QDebug>

#include <utility>

namespace velk::manager {

namespace {
constexpr int SweepIntervalMs = 1000;
// A controller silent for this long is gone; 60 s is still fresh.
constexpr qint64 StaleAfterSecs = 61;

// Frequency and position of a controller's latest report, seen at `now`.
void takeReport(model::Controller& controller, uint frequency, double lat, double lon, qint64 now) {
    controller.frequency = frequency;
    controller.normalizedFrequency = model::Controller::normalize(frequency);
    controller.frequencyHz = frequency * 1000u;
    controller.latitude = lat;
    controller.longitude = lon;
    controller.lastSeen = now;
}
} // namespace

ControllerManager::ControllerManager(std::shared_ptr<NetworkManager> networkManager, QObject* parent)
    : QObject(parent), m_networkManager(std::move(networkManager)),
      m_clock(&QDateTime::currentMSecsSinceEpoch) {
    m_sweepTimer.setInterval(SweepIntervalMs);
    NetworkManager* nm = m_networkManager.get();
    connect(nm, &NetworkManager::controllerUpdateReceived, this,
            &ControllerManager::onControllerUpdateReceived);
    connect(nm, &NetworkManager::isValidAtcReceived, this, &ControllerManager::onIsValidAtcReceived);
    connect(nm, &NetworkManager::realNameReceived, this, &ControllerManager::onRealNameReceived);
    connect(nm, &NetworkManager::controllerDeleted, this, &ControllerManager::onControllerDeleted);
    connect(nm, &NetworkManager::networkConnected, this, &ControllerManager::onNetworkConnected);
    connect(nm, &NetworkManager::networkDisconnected, this, &ControllerManager::onNetworkDisconnected);
    connect(nm, &NetworkManager::simulatorChanged, this, &ControllerManager::onSimulatorChanged);
    connect(&m_sweepTimer, &QTimer::timeout, this, &ControllerManager::removeStaleControllers);
}

void ControllerManager::setClock(Clock clock) {
    m_clock = clock ? std::move(clock) : Clock(&QDateTime::currentMSecsSinceEpoch);
}

qint64 ControllerManager::nowSecs() const {
    return m_clock() / 1000;
}

qsizetype ControllerManager::indexOf(const QString& callsign) const {
    const QString key = callsign.toUpper();
    for (qsizetype i = 0; i < m_controllers.size(); ++i) {
        if (m_controllers.at(i).callsign == key) {
            return i;
        }
    }
    return -1;
}

bool ControllerManager::isAnnounceable(const model::Controller& controller) {
    return controller.isAtc && controller.frequency != model::Controller::NoFrequency;
}

void ControllerManager::publishController(const model::Controller& controller) {
    // Listeners remove on the one and insert on the other, ending with the new state.
    emit controllerDeleted(controller);
    emit controllerAdded(controller);
}

void ControllerManager::onControllerUpdateReceived(const QString& from, uint frequency, double lat,
                                                   double lon) {
    const qsizetype index = indexOf(from);
    if (index >= 0) {
        model::Controller& controller = m_controllers[index];
        const bool frequencyChanged = controller.frequency != frequency;
        const bool positionChanged = controller.latitude != lat || controller.longitude != lon;
        takeReport(controller, frequency, lat, lon, nowSecs());
        if (!frequencyChanged && !positionChanged) {
            return;
        }
        if (!isAnnounceable(controller)) {
            controller.removalPending = true;
        }
        publishController(controller);
        return;
    }

    model::Controller controller;
    controller.callsign = from.toUpper();
    controller.realName = QStringLiteral("Unknown");
    takeReport(controller, frequency, lat, lon, nowSecs());
    m_controllers.append(controller);
    m_networkManager->requestRealName(from);
    m_networkManager->requestIsValidAtc(from);
    m_networkManager->requestCapabilities(from);
    emit controllerAdded(controller);
}

void ControllerManager::onIsValidAtcReceived(const QString& callsign) {
    const qsizetype index = indexOf(callsign);
    if (index < 0) {
        return;
    }
    m_controllers[index].isAtc = true;
    const model::Controller controller = m_controllers.at(index);
    if (controller.frequency != model::Controller::NoFrequency) {
        publishController(controller);
    } else {
        emit controllerUpdated(controller);
    }
}

void ControllerManager::onRealNameReceived(const QString& callsign, const QString& name) {
    const qsizetype index = indexOf(callsign);
    if (index < 0) {
        return;
    }
    m_controllers[index].realName = name;
    const model::Controller controller = m_controllers.at(index);
    if (isAnnounceable(controller)) {
        publishController(controller);
    } else {
        emit controllerUpdated(controller);
    }
}

void ControllerManager::onControllerDeleted(const QString& callsign) {
    const qsizetype index = indexOf(callsign);
    if (index < 0) {
        return;
    }
    model::Controller& controller = m_controllers[index];
    controller.removalPending = true;
    const quint32 frequency = controller.frequency;
    if (m_simulator) {
        if (frequency == m_radioStack.com1Frequency) {
            m_simulator->setStationCallsign(1, QString());
        }
        if (frequency == m_radioStack.com2Frequency) {
            m_simulator->setStationCallsign(2, QString());
        }
    }
}

void ControllerManager::removeStaleControllers() {
    // Departed and silent controllers leave whether or not a back end is bound;
    // only publishing needs one.
    const qint64 now = nowSecs();
    QStringList leaving;
    for (const auto& controller : std::as_const(m_controllers)) {
        if (controller.removalPending || now - controller.lastSeen >= StaleAfterSecs) {
            leaving.append(controller.callsign);
        }
    }
    for (const QString& callsign : std::as_const(leaving)) {
        qsizetype index = indexOf(callsign);
        if (index < 0) {
            continue;
        }
        const model::Controller controller = m_controllers.at(index);
        emit controllerDeleted(controller);
        // A listener may have changed the list meanwhile.
        index = indexOf(callsign);
        if (index >= 0) {
            m_controllers.removeAt(index);
        }
    }
    if (!m_simulator) {
        return;
    }
    m_simulator->updateControllerList(m_controllers);
    updateStationCallsigns();
}

void ControllerManager::updateStationCallsigns() {
    if (!m_simulator) {
        return;
    }
    const auto stationOn = [this](quint32 frequency) {
        for (const auto& controller : std::as_const(m_controllers)) {
            if (controller.frequency == frequency) {
                return controller.callsign;
            }
        }
        return QString();
    };
    m_simulator->setStationCallsign(1, stationOn(m_radioStack.com1Frequency));
    m_simulator->setStationCallsign(2, stationOn(m_radioStack.com2Frequency));
}

void ControllerManager::onRadioStackStateChanged(const model::RadioStackState& state) {
    if (state == m_radioStack) {
        return;
    }
    m_radioStack = state;
    updateStationCallsigns();
}

void ControllerManager::clearControllers() {
    // Listeners such as the messages page hold the controllers too and learn
    // of their leaving only from these signals.
    const QList<model::Controller> leaving = std::exchange(m_controllers, {});
    for (const auto& controller : leaving) {
        emit controllerDeleted(controller);
    }
}

void ControllerManager::onNetworkConnected(const QString& /*callsign*/) {
    clearControllers();
    m_sweepTimer.start(SweepIntervalMs);
}

void ControllerManager::onNetworkDisconnected(bool /*forced*/) {
    clearControllers();
    m_sweepTimer.stop();
}

void ControllerManager::onSimulatorChanged() {
    for (const auto& connection : std::as_const(m_simulatorConnections)) {
        disconnect(connection);
    }
    m_simulatorConnections.clear();
    m_simulator = m_networkManager->simulator();
    connectSimulator();
}

void ControllerManager::connectSimulator() {
    if (!m_simulator) {
        return;
    }
    m_simulatorConnections.append(connect(m_simulator.get(), &simulator::Simulator::radioStackStateChanged,
                                          this, &ControllerManager::onRadioStackStateChanged));
}

} // namespace velk::manager
