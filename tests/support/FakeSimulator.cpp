#include "support/FakeSimulator.h"

namespace velk::test {

FakeSimulator::FakeSimulator(QObject* parent) : Simulator(parent) {}

QList<FakeSimulator::Call> FakeSimulator::callsTo(const QString& name) const {
    QList<Call> out;
    for (const Call& c : calls) {
        if (c.name == name) {
            out.append(c);
        }
    }
    return out;
}

int FakeSimulator::count(const QString& name) const {
    return static_cast<int>(callsTo(name).size());
}

void FakeSimulator::setUserAircraftData(const model::UserAircraftData& data) {
    m_userAircraftData = data;
    emit userAircraftDataChanged(data);
}

void FakeSimulator::setUserAircraftConfigData(const model::UserAircraftConfigData& data) {
    m_userAircraftConfigData = data;
    emit userAircraftConfigDataChanged(data);
}

void FakeSimulator::setRadioStackState(const model::RadioStackState& state) {
    m_radioStackState = state;
    emit radioStackStateChanged(state);
}

void FakeSimulator::record(const QString& name, const QVariantList& args) {
    calls.append({name, args});
    emit called(name);
}

void FakeSimulator::setTransponderCode(int code) {
    record(QStringLiteral("setTransponderCode"), {code});
}

void FakeSimulator::setCom1Frequency(float freq) {
    record(QStringLiteral("setCom1Frequency"), {freq});
}

void FakeSimulator::setCom2Frequency(float freq) {
    record(QStringLiteral("setCom2Frequency"), {freq});
}

void FakeSimulator::transponderIdent() {
    record(QStringLiteral("transponderIdent"));
}

void FakeSimulator::transponderModeToggle() {
    record(QStringLiteral("transponderModeToggle"));
}

void FakeSimulator::addRemoteAircraft(const manager::RemoteAircraft& aircraft) {
    record(QStringLiteral("addRemoteAircraft"), {QVariant::fromValue(aircraft)});
}

void FakeSimulator::updateRemoteAircraftConfig(const manager::RemoteAircraft& aircraft) {
    record(QStringLiteral("updateRemoteAircraftConfig"), {QVariant::fromValue(aircraft)});
}

void FakeSimulator::removeRemoteAircraft(const QString& callsign, const QString& reason) {
    record(QStringLiteral("removeRemoteAircraft"), {callsign, reason});
}

void FakeSimulator::removeAllRemoteAircraft() {
    record(QStringLiteral("removeAllRemoteAircraft"));
}

void FakeSimulator::updateControllerList(const QList<model::Controller>& controllers) {
    record(QStringLiteral("updateControllerList"), {QVariant::fromValue(controllers)});
}

void FakeSimulator::clearControllerList() {
    record(QStringLiteral("clearControllerList"));
}

void FakeSimulator::updateRemoteAircraftPosition(const manager::RemoteAircraft& aircraft,
                                                 const model::AircraftVisualState& state) {
    record(QStringLiteral("updateRemoteAircraftPosition"),
           {QVariant::fromValue(aircraft), QVariant::fromValue(state)});
}

void FakeSimulator::updateRemoteAircraftFastPosition(const manager::RemoteAircraft& aircraft,
                                                     const model::AircraftVisualState& state,
                                                     const model::VelocityVector& positional,
                                                     const model::VelocityVector& rotational) {
    record(QStringLiteral("updateRemoteAircraftFastPosition"),
           {QVariant::fromValue(aircraft), QVariant::fromValue(state), QVariant::fromValue(positional),
            QVariant::fromValue(rotational)});
}

void FakeSimulator::sendHeartbeat(const QString& callsign) {
    record(QStringLiteral("sendHeartbeat"), {callsign});
}

void FakeSimulator::notifyRadioMessageSent(const QString& message) {
    record(QStringLiteral("notifyRadioMessageSent"), {message});
}

void FakeSimulator::notifyRadioMessageReceived(const QString& from, const QString& message, bool isDirect) {
    record(QStringLiteral("notifyRadioMessageReceived"), {from, message, isDirect});
}

void FakeSimulator::showNotification(const QString& text, qint64 rgb) {
    record(QStringLiteral("showNotification"), {text, rgb});
}

void FakeSimulator::notifyPrivateMessageSent(const QString& to, const QString& message) {
    record(QStringLiteral("notifyPrivateMessageSent"), {to, message});
}

void FakeSimulator::notifyPrivateMessageReceived(const QString& from, const QString& message) {
    record(QStringLiteral("notifyPrivateMessageReceived"), {from, message});
}

void FakeSimulator::notifyNetworkConnected(const QString& callsign, const QString& selcalCode,
                                           bool observerMode) {
    record(QStringLiteral("notifyNetworkConnected"), {callsign, selcalCode, observerMode});
}

void FakeSimulator::notifyNetworkDisconnected() {
    record(QStringLiteral("notifyNetworkDisconnected"));
}

void FakeSimulator::setStationCallsign(int radio, const QString& station) {
    record(QStringLiteral("setStationCallsign"), {radio, station});
}

void FakeSimulator::notifySelcal() {
    record(QStringLiteral("notifySelcal"));
}

int FakeSimulator::simulatorGeneration() const {
    return generation;
}

void FakeSimulator::reconnectSimulator() {
    record(QStringLiteral("reconnectSimulator"));
}

double FakeSimulator::userPressureAltitudeFeet() const {
    return pressureAltitudeFeet;
}

double FakeSimulator::userAltitudeFeet() const {
    return altitudeFeet;
}

double FakeSimulator::adjustRemoteAltitude(double feet) const {
    return altitudeAdjust ? altitudeAdjust(feet) : feet;
}

} // namespace velk::test
