#pragma once

#include "simulator/Simulator.h"

#include <QList>
#include <QString>
#include <QVariantList>

#include <functional>

namespace velk::test {

// A simulator back end for tests: records every operation called on it and
// lets the test set its records and emit its signals.
class FakeSimulator : public simulator::Simulator {
    Q_OBJECT

public:
    struct Call {
        QString name;
        QVariantList args;
    };

    explicit FakeSimulator(QObject* parent = nullptr);

    QList<Call> calls;

    // Calls of one operation, in order.
    QList<Call> callsTo(const QString& name) const;
    int count(const QString& name) const;
    void clearCalls() { calls.clear(); }

    // Results of the query operations.
    int generation = static_cast<int>(simulator::SimulatorGeneration::XPlane12);
    double pressureAltitudeFeet = 0.0;
    double altitudeFeet = 0.0;
    std::function<double(double)> altitudeAdjust = [](double feet) { return feet; };

    // Store a record and emit its change signal (as a back end would).
    void setUserAircraftData(const model::UserAircraftData& data);
    void setUserAircraftConfigData(const model::UserAircraftConfigData& data);
    void setRadioStackState(const model::RadioStackState& state);
    const model::UserAircraftData& userAircraftData() const { return m_userAircraftData; }
    const model::UserAircraftConfigData& userAircraftConfigData() const { return m_userAircraftConfigData; }
    const model::RadioStackState& radioStackState() const { return m_radioStackState; }

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

signals:
    // After every recorded operation, with its name.
    void called(const QString& name);

private:
    void record(const QString& name, const QVariantList& args = {});
};

} // namespace velk::test
