#pragma once

#include "manager/RemoteAircraft.h"
#include "model/AircraftState.h"
#include "model/Controller.h"
#include "simulator/SimulatorGeneration.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <optional>

namespace velk::simulator {

// A simulator back end: reads the user's aircraft and radios, sets radios and
// transponder, and shows other pilots, controllers and messages inside the
// simulator. Held by shared pointer; the session manager owns the current one.
class Simulator : public QObject {
    Q_OBJECT

public:
    explicit Simulator(QObject* parent = nullptr);
    ~Simulator() override;

    Q_INVOKABLE virtual void setTransponderCode(int code) = 0; // squawk read as decimal: 7000
    // Up to 1000 the value is MHz, above it kHz.
    Q_INVOKABLE virtual void setCom1Frequency(float freq) = 0;
    Q_INVOKABLE virtual void setCom2Frequency(float freq) = 0;
    Q_INVOKABLE virtual void transponderIdent() = 0;
    // Standby <-> mode C, from the last known squawkingModeC.
    Q_INVOKABLE virtual void transponderModeToggle() = 0;
    // Outcome arrives as aircraftAddedToSim.
    virtual void addRemoteAircraft(const velk::manager::RemoteAircraft& aircraft) = 0;
    virtual void updateRemoteAircraftConfig(const velk::manager::RemoteAircraft& aircraft) = 0;
    // Reason is a short text such as "Deleted", "Stale" or "Pilot disconnected";
    // the outcome arrives as aircraftRemovedFromSim.
    virtual void removeRemoteAircraft(const QString& callsign, const QString& reason) = 0;
    virtual void removeAllRemoteAircraft() = 0;
    virtual void updateControllerList(const QList<velk::model::Controller>& controllers) = 0;
    virtual void clearControllerList() = 0;
    virtual void updateRemoteAircraftPosition(const velk::manager::RemoteAircraft& aircraft,
                                              const velk::model::AircraftVisualState& state) = 0;
    virtual void updateRemoteAircraftFastPosition(const velk::manager::RemoteAircraft& aircraft,
                                                  const velk::model::AircraftVisualState& state,
                                                  const velk::model::VelocityVector& positional,
                                                  const velk::model::VelocityVector& rotational) = 0;
    virtual void sendHeartbeat(const QString& callsign) = 0;
    virtual void notifyRadioMessageSent(const QString& message) = 0;
    virtual void notifyRadioMessageReceived(const QString& from, const QString& message, bool isDirect) = 0;
    // rgb is 0xRRGGBB.
    virtual void showNotification(const QString& text, qint64 rgb) = 0;
    virtual void notifyPrivateMessageSent(const QString& to, const QString& message) = 0;
    virtual void notifyPrivateMessageReceived(const QString& from, const QString& message) = 0;
    virtual void notifyNetworkConnected(const QString& callsign, const QString& selcalCode,
                                        bool observerMode) = 0;
    virtual void notifyNetworkDisconnected() = 0;
    // radio 1 is COM1, 2 is COM2; an empty station clears it.
    virtual void setStationCallsign(int radio, const QString& station) = 0;
    virtual void notifySelcal() = 0;
    // A SimulatorGeneration code.
    virtual int simulatorGeneration() const = 0;
    // Outcome arrives as simConnectionStateChanged or simConnectionFailed.
    Q_INVOKABLE virtual void reconnectSimulator() = 0;
    virtual double userPressureAltitudeFeet() const = 0;
    virtual double userAltitudeFeet() const = 0;
    // Another pilot's altitude corrected for display in this simulator.
    virtual double adjustRemoteAltitude(double altitudeFeet) const = 0;

signals:
    void simConnectionStateChanged(bool connected);
    void simConnectionFailed(const QString& message);
    // Every snapshot the simulator delivers, changed or not: its arrival is
    // what shows that the simulator is still there. Listeners that need
    // changes compare it with the last one themselves.
    void userAircraftDataChanged(const velk::model::UserAircraftData& data);
    void userAircraftConfigDataChanged(const velk::model::UserAircraftConfigData& data);
    void radioStackStateChanged(const velk::model::RadioStackState& radioStack);
    void replayModeDetected();
    void radioMessageSent(const QString& message);
    void privateMessageSent(const QString& to, const QString& message);
    void forceDisconnect(const QString& reason);
    void aircraftAddedToSim(const QString& callsign);
    void aircraftRemovedFromSim(const QString& callsign);
    // The simulator holds none of the remote aircraft it was given any more,
    // though it may still be connected (a plug-in that draws them attached
    // afresh): each must be added again.
    void remoteAircraftCleared();
    void simPausedStateChanged(bool paused);
    void nngSocketError(const QString& error);
    void requestStationInfo(const QString& callsign);
    void invalidPluginVersion();
    void pluginVersionChecked(bool valid);
    void cslValidationChecked(bool valid);
    void trafficMappingStatusChanged(const QString& status);
    void xplaneVersionUpdated(int version);
    void trafficSnapshotChanged(const QVariantList& contacts);

protected:
    // Emit the record when it differs from the last one emitted; the first
    // always goes out. The user's aircraft also goes out unchanged when the
    // simulator has delivered it again.
    //
    // Signs in the records, whatever the simulator counts: pitch positive nose
    // up, bank positive right wing down (MSFS counts both the other way, so its
    // back end flips them); the pitch, heading and bank rates are passed on as
    // the simulator gives them.
    void publishUserAircraftData(bool delivered);
    void publishUserAircraftConfigData();
    void publishRadioStackState();

    velk::model::UserAircraftData m_userAircraftData;
    velk::model::UserAircraftConfigData m_userAircraftConfigData;
    velk::model::RadioStackState m_radioStackState;

private:
    std::optional<velk::model::UserAircraftData> m_emittedUserAircraftData;
    std::optional<velk::model::UserAircraftConfigData> m_emittedUserAircraftConfigData;
    std::optional<velk::model::RadioStackState> m_emittedRadioStackState;
};

} // namespace velk::simulator
