#include "ui/viewmodel/SimulatorPageViewModel.h"

#include "ui/viewmodel/MessageChannels.h"
#include "ui/viewmodel/PropertyStore.h"

#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <utility>

namespace velk::ui {

namespace {

const QString kNone = QStringLiteral("NONE");
const QString kUnknown = QStringLiteral("未知");
const QString kNoVersion = QStringLiteral("未获取");
const QString kNothing = QStringLiteral("无");

// Out-of-range ratios are absorbed; a NaN reads as 0 so it cannot show "nan%"
// or count as a change on every update.
double clampRatio(double ratio) {
    if (!(ratio > 0.0)) {
        return 0.0;
    }
    return ratio > 1.0 ? 1.0 : ratio;
}

QString displayNameFor(const QString& family) {
    if (family == QLatin1String("MSFS")) {
        return QStringLiteral("Microsoft Flight Simulator");
    }
    if (family == QLatin1String("XPLANE")) {
        return QStringLiteral("X-Plane");
    }
    if (family == QLatin1String("ATC")) {
        return QStringLiteral("语音管制");
    }
    return QStringLiteral("未选择");
}

QString validityText(bool valid) {
    return valid ? QStringLiteral("有效") : QStringLiteral("无效");
}

// "COM1 118.100 / COM2 121.500", or "无" when neither radio is on.
QString radioLabel(bool com1On, const QString& com1, bool com2On, const QString& com2) {
    QStringList parts;
    if (com1On) {
        parts << QStringLiteral("COM1 %1").arg(com1);
    }
    if (com2On) {
        parts << QStringLiteral("COM2 %1").arg(com2);
    }
    return parts.isEmpty() ? kNothing : parts.join(QStringLiteral(" / "));
}

} // namespace

SimulatorPageViewModel::SimulatorPageViewModel(QObject* parent)
    : QObject(parent), m_currentMode(kNone), m_simulatorFamily(kNone),
      m_simulatorDisplayName(displayNameFor(kNone)), m_simulatorStatusText(QStringLiteral("未连接")),
      m_pluginStatusText(kUnknown), m_cslStatusText(kUnknown), m_trafficMappingStatusText(kUnknown),
      m_xplaneVersionText(kNoVersion), m_com1Frequency(messages::frequencyText(0)),
      m_com2Frequency(messages::frequencyText(0)), m_transponderCode(transponderText(0)),
      m_flapsLabel(ratioLabel(0.0)), m_speedbrakeLabel(ratioLabel(0.0)), m_activeTransmitLabel(kNothing),
      m_activeReceiveLabel(kNothing), m_motionSummary(QStringLiteral("暂无运动数据")),
      m_engineSummary(QStringLiteral("未检测到发动机")) {}

bool SimulatorPageViewModel::isValidComFrequency(double mhz) {
    return std::isfinite(mhz) && mhz >= MinComMhz && mhz <= MaxComMhz;
}

QString SimulatorPageViewModel::ratioLabel(double ratio) {
    return QStringLiteral("%1%").arg(QString::number(clampRatio(ratio) * 100.0, 'f', 0));
}

QString SimulatorPageViewModel::transponderText(uint code) {
    // Unsigned, so that a code beyond the int range cannot turn negative.
    return QStringLiteral("%1").arg(code % 10000u, 4, 10, QLatin1Char('0'));
}

void SimulatorPageViewModel::setCurrentMode(const QString& mode) {
    if (storeIfChanged(m_currentMode, mode)) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::applyMode(const QString& mode) {
    const QString normalized = mode.trimmed().toUpper();
    const QString family = normalized.isEmpty() ? kNone : normalized;
    bool changed = storeIfChanged(m_simulatorFamily, family);
    changed |= storeIfChanged(m_simulatorDisplayName, displayNameFor(family));
    if (changed) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::setSimulatorConnected(bool connected, const QString& statusText) {
    bool changed = storeIfChanged(m_simulatorConnected, connected);
    changed |= storeIfChanged(m_simulatorStatusText, statusText);
    if (changed) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::onPluginStatusUpdated(bool valid) {
    if (storeIfChanged(m_pluginStatusText, validityText(valid))) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::onCslStatusUpdated(bool valid) {
    if (storeIfChanged(m_cslStatusText, validityText(valid))) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::onTrafficMappingStatusUpdated(const QString& status) {
    const QString text = status.trimmed();
    if (storeIfChanged(m_trafficMappingStatusText, text.isEmpty() ? kUnknown : text)) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::onXPlaneVersionUpdated(int version) {
    const QString text = version >= 1 ? QStringLiteral("X-Plane %1").arg(version) : kNoVersion;
    if (storeIfChanged(m_xplaneVersionText, text)) {
        emit stateChanged();
    }
}

void SimulatorPageViewModel::onTrafficSnapshotUpdated(const QVariantList& contacts) {
    if (storeIfChanged(m_trafficContacts, contacts)) {
        emit trafficChanged();
    }
    const QString summary = contacts.isEmpty() ? QStringLiteral("附近暂无交通目标")
                                               : QStringLiteral("附近 %1 个交通目标").arg(contacts.size());
    if (storeIfChanged(m_motionSummary, summary)) {
        emit dataChanged();
    }
}

void SimulatorPageViewModel::updateFromSimulatorData(
    bool simConnected, double latitude, double longitude, double altitudeMslM, double altitudeAglM,
    double altitudePressure, double pitch, double heading, double bank, double latitudeVelocity,
    double longitudeVelocity, double altitudeVelocity, double pitchVelocity, double headingVelocity,
    double bankVelocity, double groundSpeed, double noseWheelAngle, bool onGround, bool gearDown,
    double flapsRatio, double speedbrakeRatio, bool speedbrakeArmed, int engineCount, bool engine1Running,
    bool engine2Running, bool engine3Running, bool engine4Running, bool engine1Reversing,
    bool engine2Reversing, bool engine3Reversing, bool engine4Reversing, bool beaconOn, bool landingLightsOn,
    bool taxiLightsOn, bool navLightsOn, bool strobesOn, bool avionicsPowerOn, bool com1ReceiveEnabled,
    bool com2ReceiveEnabled, bool com1TransmitEnabled, bool com2TransmitEnabled, uint com1Frequency,
    uint com2Frequency, double com1Volume, double com2Volume, uint transponderCode, bool squawkingModeC,
    bool squawkingIdent, bool simPaused) {
    const QString com1Text = messages::frequencyText(com1Frequency);
    const QString com2Text = messages::frequencyText(com2Frequency);
    const QString squawk = transponderText(transponderCode);
    const double flaps = clampRatio(flapsRatio);
    const double speedbrake = clampRatio(speedbrakeRatio);
    const QString flapsText = ratioLabel(flaps);
    const QString speedbrakeText = speedbrakeArmed ? QStringLiteral("预位") : ratioLabel(speedbrake);
    const QString receiveLabel = radioLabel(com1ReceiveEnabled, com1Text, com2ReceiveEnabled, com2Text);
    const QString transmitLabel = radioLabel(com1TransmitEnabled, com1Text, com2TransmitEnabled, com2Text);
    const QString motionLine =
        QStringLiteral("地速 %1 节 | 垂直速度 %2 m/s | 前轮角 %3°")
            .arg(QString::number(groundSpeed, 'f', 1), QString::number(altitudeVelocity, 'f', 2),
                 QString::number(noseWheelAngle, 'f', 1));

    const bool running[4] = {engine1Running, engine2Running, engine3Running, engine4Running};
    const bool reversing[4] = {engine1Reversing, engine2Reversing, engine3Reversing, engine4Reversing};
    QVariantList engines;
    int runningCount = 0;
    int reversingCount = 0;
    for (int i = 0; i < std::min(engineCount, 4); ++i) {
        engines.append(QVariantMap{{QStringLiteral("index"), i + 1},
                                   {QStringLiteral("running"), running[i]},
                                   {QStringLiteral("reversing"), reversing[i]},
                                   {QStringLiteral("label"), QStringLiteral("ENG%1").arg(i + 1)}});
        runningCount += running[i] ? 1 : 0;
        reversingCount += reversing[i] ? 1 : 0;
    }
    QString engineText = QStringLiteral("未检测到发动机");
    if (engineCount >= 1) {
        QStringList parts{QStringLiteral("%1 台发动机").arg(engineCount),
                          QStringLiteral("%1 台运行中").arg(runningCount)};
        if (reversingCount > 0) {
            parts << QStringLiteral("%1 台反推").arg(reversingCount);
        }
        engineText = parts.join(QStringLiteral(" | "));
    }

    const bool connectionChanged = storeIfChanged(m_simulatorConnected, simConnected);
    bool changed = false;
    for (auto [field, value] : {std::pair{&m_latitude, latitude},
                                {&m_longitude, longitude},
                                {&m_altitudeMslM, altitudeMslM},
                                {&m_altitudeAglM, altitudeAglM},
                                {&m_altitudePressure, altitudePressure},
                                {&m_pitch, pitch},
                                {&m_heading, heading},
                                {&m_bank, bank},
                                {&m_latitudeVelocity, latitudeVelocity},
                                {&m_longitudeVelocity, longitudeVelocity},
                                {&m_altitudeVelocity, altitudeVelocity},
                                {&m_pitchVelocity, pitchVelocity},
                                {&m_headingVelocity, headingVelocity},
                                {&m_bankVelocity, bankVelocity},
                                {&m_groundSpeed, groundSpeed},
                                {&m_noseWheelAngle, noseWheelAngle},
                                {&m_flapsRatio, flaps},
                                {&m_speedbrakeRatio, speedbrake},
                                {&m_com1Volume, com1Volume},
                                {&m_com2Volume, com2Volume}}) {
        changed |= storeIfChanged(*field, value);
    }
    for (auto [field, value] : {std::pair{&m_speedbrakeArmed, speedbrakeArmed},
                                {&m_simPaused, simPaused},
                                {&m_onGround, onGround},
                                {&m_gearDown, gearDown},
                                {&m_avionicsPowerOn, avionicsPowerOn},
                                {&m_com1ReceiveEnabled, com1ReceiveEnabled},
                                {&m_com2ReceiveEnabled, com2ReceiveEnabled},
                                {&m_com1TransmitEnabled, com1TransmitEnabled},
                                {&m_com2TransmitEnabled, com2TransmitEnabled},
                                {&m_squawkingModeC, squawkingModeC},
                                {&m_squawkingIdent, squawkingIdent},
                                {&m_beaconOn, beaconOn},
                                {&m_landingLightsOn, landingLightsOn},
                                {&m_taxiLightsOn, taxiLightsOn},
                                {&m_navLightsOn, navLightsOn},
                                {&m_strobesOn, strobesOn}}) {
        changed |= storeIfChanged(*field, value);
    }
    changed |= storeIfChanged(m_engineCount, engineCount);
    for (auto [field, value] : {std::pair{&m_flapsLabel, &flapsText},
                                {&m_speedbrakeLabel, &speedbrakeText},
                                {&m_com1Frequency, &com1Text},
                                {&m_com2Frequency, &com2Text},
                                {&m_transponderCode, &squawk},
                                {&m_activeReceiveLabel, &receiveLabel},
                                {&m_activeTransmitLabel, &transmitLabel},
                                {&m_motionSummary, &motionLine},
                                {&m_engineSummary, &engineText}}) {
        changed |= storeIfChanged(*field, *value);
    }
    changed |= storeIfChanged(m_engineStates, engines);

    // Each property announces itself through its own notify signal:
    // simulatorConnected belongs to the state group.
    if (connectionChanged) {
        emit stateChanged();
    }
    if (changed) {
        emit dataChanged();
    }
}

void SimulatorPageViewModel::requestReconnect() {
    emit reconnectRequested();
}

bool SimulatorPageViewModel::requestSetCom1Frequency(double mhz) {
    const bool valid = isValidComFrequency(mhz);
    if (valid) {
        emit setCom1FrequencyRequested(mhz);
    }
    return valid;
}

bool SimulatorPageViewModel::requestSetCom2Frequency(double mhz) {
    const bool valid = isValidComFrequency(mhz);
    if (valid) {
        emit setCom2FrequencyRequested(mhz);
    }
    return valid;
}

void SimulatorPageViewModel::requestSetTransponderCode(QString code) {
    if (!code.trimmed().isEmpty()) {
        emit setTransponderCodeRequested(code);
    }
}

void SimulatorPageViewModel::requestTransponderIdent() {
    emit transponderIdentRequested();
}

void SimulatorPageViewModel::requestTransponderModeToggle() {
    emit transponderModeToggleRequested();
}

} // namespace velk::ui
