#include "simulator/msfs/MsfsAdapter.h"

#include "AppConfig.h"
#include "ConfigKeys.h"
#include "simulator/SimulatorGeneration.h"
#include "simulator/msfs/MsfsAircraftLibrary.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace velk::simulator::msfs {

namespace {

constexpr double kFeetPerMetre = 1.0 / 0.3048;
// TRANSPONDER STATE values written by the mode toggle.
constexpr int kTransponderStandby = 1;
constexpr int kTransponderAltitude = 4;
// Command keys of SimConnectSession::sendCommand.
constexpr std::uint32_t kCommandIdent = 0;
constexpr std::uint32_t kCommandCom1Hz = 1;
constexpr std::uint32_t kCommandCom2Hz = 2;

// Copies map[key] into target when the map carries it.
template <typename T, typename Convert>
void take(const QVariantMap& data, const char* key, T& target, Convert convert) {
    const auto it = data.constFind(QLatin1String(key));
    if (it != data.constEnd())
        target = convert(*it);
}

double asDouble(const QVariant& v) {
    const double value = v.toDouble();
    return std::isfinite(value) ? value : 0.0;
}
bool asBool(const QVariant& v) {
    return v.toBool();
}
qint32 asInt(const QVariant& v) {
    return static_cast<qint32>(std::clamp<qint64>(v.toLongLong(), INT32_MIN, INT32_MAX));
}
// MHz as the catalogue delivers it -> whole kHz.
quint32 mhzToKhz(const QVariant& v) {
    const double khz = std::round(asDouble(v) * 1000.0);
    return khz > 0.0 && khz < 4.0e9 ? static_cast<quint32>(khz) : 0u;
}
qint32 asVolume(const QVariant& v) {
    return static_cast<qint32>(std::clamp(std::lround(asDouble(v)), 0L, 100L));
}
double asRatio(const QVariant& v) {
    return std::clamp(asDouble(v), 0.0, 1.0);
}
// MSFS counts pitch positive nose down and bank positive left wing down; the
// records and visual states count nose up and right wing down, as X-Plane does.
double fromSimAttitude(const QVariant& v) {
    return -asDouble(v);
}
double toSimAttitude(double degrees) {
    return -degrees;
}

// The airline prefix of a callsign such as "CES123": its three leading letters.
QString callsignAirline(const QString& callsign) {
    const QString text = callsign.trimmed().toUpper();
    if (text.size() > 3 && text[0].isLetter() && text[1].isLetter() && text[2].isLetter() &&
        text[3].isDigit())
        return text.left(3);
    return {};
}

} // namespace

MsfsAdapter::MsfsAdapter() : MsfsAdapter(Options{}) {}

MsfsAdapter::MsfsAdapter(Options options) : m_options(std::move(options)) {
    m_steadyClock.start();
    m_session.setTrafficSnapshotRadius(kTrafficRadiusMeters);
    m_session.setTrafficSnapshotEnabled(true);

    connect(&m_session, &SimConnectSession::connected, this, &MsfsAdapter::onConnected);
    connect(&m_session, &SimConnectSession::disconnected, this, &MsfsAdapter::onDisconnected);
    connect(&m_session, &SimConnectSession::errorOccurred, this, &MsfsAdapter::onError);
    connect(&m_session, &SimConnectSession::dataReceived, this, &MsfsAdapter::onDataReceived);
    connect(&m_session, &SimConnectSession::msfsVersionDetected, this,
            [](const QString& version) { qInfo().noquote() << "MSFS version" << version; });
    connect(&m_session, &SimConnectSession::simConnectVersionDetected, this,
            [](const QString& version) { qInfo().noquote() << "SimConnect version" << version; });
    connect(&m_session, &SimConnectSession::runtimeProfileDetected, this, [](MsfsRuntimeProfile profile) {
        qInfo().noquote() << "MSFS runtime profile" << profileLabel(profile);
    });
    connect(&m_session, &SimConnectSession::remoteAircraftCreated, this,
            &MsfsAdapter::onRemoteAircraftCreated);
    connect(&m_session, &SimConnectSession::remoteAircraftCreateFailed, this,
            &MsfsAdapter::onRemoteAircraftCreateFailed);
    connect(&m_session, &SimConnectSession::trafficSnapshotReceived, this, &MsfsAdapter::onTrafficSnapshot);
    connect(&m_session, &SimConnectSession::userAircraftTitleDetected, this,
            [](const QString& title) { qInfo().noquote() << "MSFS user aircraft" << title; });
    connect(&m_session, &SimConnectSession::inputEventValueChanged, this, &MsfsAdapter::onInputEventValue);
    connect(&m_session, &SimConnectSession::simPauseReported, this, &MsfsAdapter::onPauseReported);

    connect(AppConfig::instance(), &AppConfig::configChanged, this, [this](const QString& key) {
        if (key == ConfigKeys::MSFSLibraryReloadToken.name)
            startLibraryScan();
    });

    m_connectionTimer.setInterval(kConnectionTickMs);
    connect(&m_connectionTimer, &QTimer::timeout, this, [this] {
        tickConnection();
        expirePendingCreations();
    });
    m_libraryTimer.setInterval(kLibraryPollMs);
    connect(&m_libraryTimer, &QTimer::timeout, this, &MsfsAdapter::pollLibrary);

    MsfsAircraftLibrary::instance()->startScan();
    if (m_options.startTimers) {
        m_connectionTimer.start();
        m_libraryTimer.start();
        // The connection waits for the session manager's request: a second
        // start here would open it twice.
        QTimer::singleShot(0, this, &MsfsAdapter::pollLibrary);
    }
}

MsfsAdapter::~MsfsAdapter() {
    m_connectionTimer.stop();
    m_libraryTimer.stop();
    // Our AI objects vanish with the connection; nobody listens any more.
    const QSignalBlocker blocker(this);
    m_session.disconnect();
}

qint64 MsfsAdapter::now() const {
    return m_options.clock ? m_options.clock() : m_steadyClock.elapsed();
}

// ---------------------------------------------------------------- connection

void MsfsAdapter::reconnectSimulator() {
    if (m_session.isConnected())
        m_session.disconnect();
    m_connection.start();
    attemptConnect();
}

void MsfsAdapter::tickConnection() {
    if (m_connection.tick(now()))
        attemptConnect();
}

void MsfsAdapter::attemptConnect() {
    if (m_session.isConnected()) {
        m_connection.onConnected();
        return;
    }
    m_session.connectToSimulator(); // the outcome arrives as connected() or errorOccurred()
}

void MsfsAdapter::onConnected() {
    m_connection.onConnected();
    m_session.registerDataDefinitions();
    for (int group = 0; group <= 3; ++group)
        m_session.subscribeDataGroup(static_cast<UpdateGroup>(group));
    m_session.enumerateInputEvents();
    m_session.subscribePauseEvent();
    if (!m_simConnected) {
        m_simConnected = true;
        emit simConnectionStateChanged(true);
    }
}

void MsfsAdapter::onDisconnected() {
    forgetAllObjects();
    m_connection.onDisconnected(now());
    if (m_simConnected) {
        m_simConnected = false;
        emit simConnectionStateChanged(false);
    }
}

void MsfsAdapter::onError(SimConnectError error, const QString& message) {
    const int code = static_cast<int>(error);
    qWarning().noquote() << QStringLiteral("MSFS SimConnect error %1: %2").arg(code).arg(message);
    // A failed request leaves the connection and the other AI aircraft as they
    // are; a lost connection arrives as disconnected().
    if (error != SimConnectError::ConnectFailed && !ConnectionStateMachine::isFinalError(code))
        return;
    emit simConnectionFailed(message);
    if (m_connection.onError(code, now()) && m_session.isConnected())
        m_session.disconnect();
}

// ---------------------------------------------------------------- user aircraft

void MsfsAdapter::onDataReceived(UpdateGroup group, const QVariantMap& data) {
    switch (group) {
    case UpdateGroup::CoreFlight:
        applyCoreFlight(data);
        publishUserAircraftData(true);
        break;
    case UpdateGroup::SystemState:
        applySystemState(data);
        publishUserAircraftConfigData();
        break;
    case UpdateGroup::AvionicsComms:
        applyAvionics(data);
        publishRadioStackState();
        break;
    case UpdateGroup::Environment:
        applyEnvironment(data);
        publishUserAircraftData(true);
        break;
    }
}

void MsfsAdapter::applyCoreFlight(const QVariantMap& data) {
    model::UserAircraftData& d = m_userAircraftData;
    take(data, "latitude", d.latitude, asDouble);
    take(data, "longitude", d.longitude, asDouble);
    take(data, "altitudeMslM", d.altitudeMslM, asDouble);
    take(data, "altitudeAglM", d.altitudeAglM, asDouble);
    take(data, "altitudePressure", d.altitudePressure, asDouble);
    take(data, "groundSpeed", d.groundSpeed, asDouble);
    take(data, "pitch", d.pitch, fromSimAttitude);
    take(data, "heading", d.heading, asDouble);
    take(data, "bank", d.bank, fromSimAttitude);
    take(data, "latitudeVelocity", d.latitudeVelocity, asDouble);
    take(data, "altitudeVelocity", d.altitudeVelocity, asDouble);
    take(data, "longitudeVelocity", d.longitudeVelocity, asDouble);
    take(data, "pitchVelocity", d.pitchVelocity, asDouble);
    take(data, "headingVelocity", d.headingVelocity, asDouble);
    take(data, "bankVelocity", d.bankVelocity, asDouble);
    take(data, "noseWheelAngle", d.noseWheelAngle, asDouble);
}

void MsfsAdapter::applySystemState(const QVariantMap& data) {
    model::UserAircraftConfigData& c = m_userAircraftConfigData;
    take(data, "onGround", c.onGround, asBool);
    take(data, "gearDown", c.gearDown, asBool);
    take(data, "flapsRatio", c.flapsRatio, asRatio);
    take(data, "speedbrakeRatio", c.speedbrakeRatio, asRatio);
    take(data, "speedbrakeArmed", c.speedbrakeArmed, asBool);
    take(data, "engineCount", c.engineCount, [](const QVariant& v) { return std::clamp(asInt(v), 0, 16); });
    take(data, "engine1Running", c.engine1Running, asBool);
    take(data, "engine2Running", c.engine2Running, asBool);
    take(data, "engine3Running", c.engine3Running, asBool);
    take(data, "engine4Running", c.engine4Running, asBool);
    take(data, "engine1Reversing", c.engine1Reversing, asBool);
    take(data, "engine2Reversing", c.engine2Reversing, asBool);
    take(data, "engine3Reversing", c.engine3Reversing, asBool);
    take(data, "engine4Reversing", c.engine4Reversing, asBool);
    take(data, "strobesOn", c.strobesOn, asBool);
    take(data, "landingLightsOn", c.landingLightsOn, asBool);
    take(data, "taxiLightsOn", c.taxiLightsOn, asBool);
    take(data, "beaconOn", c.beaconOn, asBool);
    take(data, "navLightsOn", c.navLightsOn, asBool);
}

void MsfsAdapter::applyAvionics(const QVariantMap& data) {
    model::RadioStackState& r = m_radioStackState;
    take(data, "avionicsPowerOn", r.avionicsPowerOn, asBool);
    take(data, "com1Frequency", r.com1Frequency, mhzToKhz);
    take(data, "com1StandbyFrequency", r.com1StandbyFrequency, mhzToKhz);
    take(data, "com1TransmitEnabled", r.com1TransmitEnabled, asBool);
    take(data, "com1ReceiveEnabled", r.com1ReceiveEnabled, asBool);
    take(data, "com1Volume", r.com1Volume, asVolume);
    take(data, "com2Frequency", r.com2Frequency, mhzToKhz);
    take(data, "com2StandbyFrequency", r.com2StandbyFrequency, mhzToKhz);
    take(data, "com2TransmitEnabled", r.com2TransmitEnabled, asBool);
    take(data, "com2ReceiveEnabled", r.com2ReceiveEnabled, asBool);
    take(data, "com2Volume", r.com2Volume, asVolume);
    take(data, "transponderCode", r.transponderCode,
         [](const QVariant& v) { return static_cast<quint16>(std::clamp(asInt(v), 0, 9999)); });
    // On (3) and altitude (4) both reply with altitude.
    take(data, "transponderState", r.squawkingModeC, [](const QVariant& v) { return asInt(v) >= 3; });
    take(data, "squawkingIdent", r.squawkingIdent, asBool);
}

void MsfsAdapter::applyEnvironment(const QVariantMap& data) {
    take(data, "qnh", m_userAircraftData.qnh, asDouble);
    const auto paused = data.constFind(QStringLiteral("simPaused"));
    if (paused != data.constEnd()) {
        m_simDisabled = paused->toBool();
        updatePaused();
    }
}

void MsfsAdapter::onPauseReported(bool paused) {
    m_pauseReported = paused;
    updatePaused();
}

void MsfsAdapter::updatePaused() {
    const bool paused = m_simDisabled || m_pauseReported;
    if (paused != m_simPaused) {
        m_simPaused = paused;
        emit simPausedStateChanged(paused);
    }
}

void MsfsAdapter::onInputEventValue(const QString& name, double value) {
    if (!std::isfinite(value))
        return;
    // Handle positions come as 0..1 or as percent.
    const double ratio = std::clamp(value > 1.0 ? value / 100.0 : value, 0.0, 1.0);
    if (name.contains(QLatin1String("arm"), Qt::CaseInsensitive))
        m_userAircraftConfigData.speedbrakeArmed = ratio > 0.5;
    else
        m_userAircraftConfigData.speedbrakeRatio = ratio;
    publishUserAircraftConfigData();
}

double MsfsAdapter::userPressureAltitudeFeet() const {
    return m_userAircraftData.altitudePressure;
}

double MsfsAdapter::userAltitudeFeet() const {
    return m_userAircraftData.altitudeMslM * kFeetPerMetre;
}

double MsfsAdapter::adjustRemoteAltitude(double altitudeFeet) const {
    return altitudeFeet;
}

int MsfsAdapter::simulatorGeneration() const {
    switch (m_session.runtimeProfile()) {
    case MsfsRuntimeProfile::Msfs2020:
        return static_cast<int>(SimulatorGeneration::Msfs2020);
    case MsfsRuntimeProfile::Msfs2024:
        return static_cast<int>(SimulatorGeneration::Msfs2024);
    default:
        return static_cast<int>(SimulatorGeneration::Unknown);
    }
}

// ---------------------------------------------------------------- radios and transponder

void MsfsAdapter::setTransponderCode(int code) {
    // Four octal digits: anything else is no squawk.
    bool valid = code >= 0 && code <= 7777;
    for (int rest = code; valid && rest > 0; rest /= 10)
        valid = rest % 10 <= 7;
    if (!valid) {
        qWarning() << "Ignoring invalid transponder code" << code;
        return;
    }
    m_session.setDataValue(SimKey::TransponderCode, code);
}

void MsfsAdapter::setCom1Frequency(float freq) {
    setComFrequency(kCommandCom1Hz, freq);
}

void MsfsAdapter::setCom2Frequency(float freq) {
    setComFrequency(kCommandCom2Hz, freq);
}

void MsfsAdapter::setComFrequency(std::uint32_t commandKey, float freq) {
    const double value = freq;
    // Up to 1000 the value is MHz, above it kHz; whole kHz keep the float's
    // rounding error out of the Hz value.
    const double khz = std::round(value <= 1000.0 ? value * 1000.0 : value);
    if (!std::isfinite(value) || khz <= 0.0 || khz > 4'000'000.0) {
        qWarning() << "Ignoring invalid COM frequency" << value;
        return;
    }
    m_session.sendCommand(commandKey, static_cast<std::uint32_t>(khz) * 1000u);
}

void MsfsAdapter::transponderIdent() {
    m_session.sendCommand(kCommandIdent, 0);
}

void MsfsAdapter::transponderModeToggle() {
    m_session.setDataValue(SimKey::TransponderState,
                           m_radioStackState.squawkingModeC ? kTransponderStandby : kTransponderAltitude);
}

// ---------------------------------------------------------------- library

void MsfsAdapter::startLibraryScan() {
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    library->reload();
    m_libraryWasReady = false;
    m_libraryStatusShown = false;
    pollLibrary();
    if (m_options.startTimers && !m_libraryTimer.isActive())
        m_libraryTimer.start();
}

void MsfsAdapter::pollLibrary() {
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    if (!library->isReady()) {
        if (!library->isScanning())
            library->startScan();
        if (!m_libraryStatusShown || m_libraryWasReady)
            emit trafficMappingStatusChanged(QStringLiteral("MSFS 机库扫描中..."));
        m_libraryStatusShown = true;
        m_libraryWasReady = false;
        return;
    }
    if (m_libraryWasReady)
        return;
    m_libraryWasReady = true;
    m_libraryStatusShown = true;
    m_libraryTimer.stop();
    int count = 0;
    const MsfsRuntimeProfile profile = m_session.runtimeProfile();
    if (profile == MsfsRuntimeProfile::Unknown) {
        for (MsfsRuntimeProfile simulator : library->availableSimulators())
            count += library->profileCount(simulator);
    } else {
        count = library->profileCount(profile);
    }
    emit trafficMappingStatusChanged(QStringLiteral("MSFS 机库已扫描：%1 个模型").arg(count));
}

// ---------------------------------------------------------------- remote aircraft

std::uint32_t MsfsAdapter::nextRequestId() {
    // Never 0, and never one still waiting for its object.
    do {
        ++m_lastRequestId;
    } while (m_lastRequestId == 0 || m_pendingCreations.contains(m_lastRequestId));
    return m_lastRequestId;
}

std::uint32_t MsfsAdapter::objectIdOf(const QString& callsign) const {
    const auto it = m_objects.constFind(callsign);
    return it == m_objects.constEnd() ? 0 : it->objectId;
}

bool MsfsAdapter::isAddPending(const QString& callsign) const {
    const auto it = m_objects.constFind(callsign);
    return it != m_objects.constEnd() && it->objectId == 0 && !it->cancelled;
}

void MsfsAdapter::addRemoteAircraft(const manager::RemoteAircraft& aircraft) {
    const QString& callsign = aircraft.callsign;
    if (callsign.trimmed().isEmpty() || aircraft.equipment.trimmed().isEmpty())
        return;
    if (const auto it = m_objects.constFind(callsign); it != m_objects.constEnd() && !it->cancelled) {
        if (it->objectId != 0)
            emit aircraftAddedToSim(callsign); // already there
        return;
    }
    if (!m_session.isConnected()) {
        qWarning().noquote()
            << QStringLiteral("Cannot add remote aircraft %1: MSFS not connected").arg(callsign);
        return;
    }
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    if (!library->isReady()) {
        pollLibrary(); // shows the scanning status; the table asks again later
        return;
    }

    const MsfsRuntimeProfile running = m_session.runtimeProfile();
    QString title;
    QString strategy;
    if (!aircraft.modelHint.trimmed().isEmpty()) {
        const auto announced = library->findProfileByTitle(running, aircraft.modelHint);
        if (announced && library->matchesTypeCode(*announced, aircraft.equipment)) {
            title = announced->title;
            strategy = QStringLiteral("model_hint");
        }
    }
    if (title.isEmpty()) {
        const QString airline = QStringList{aircraft.airline.trimmed(), callsignAirline(callsign)}
                                    .join(QLatin1Char(' '))
                                    .trimmed();
        const MsfsModelMatch match = library->match(running, aircraft.equipment, airline, aircraft.livery);
        if (match.profile.title.isEmpty()) {
            emit trafficMappingStatusChanged(
                QStringLiteral("MSFS 无本地模型匹配：%1/%2/%3")
                    .arg(match.requestedType, match.requestedAirline, match.requestedLivery));
            return;
        }
        if (match.simulator != running)
            qWarning().noquote() << "MSFS model" << match.profile.title << "belongs to"
                                 << profileLabel(match.simulator) << "while running" << profileLabel(running);
        title = match.profile.title;
        strategy = match.fallback ? QStringLiteral("type_airline_livery_fallback")
                                  : QStringLiteral("type_airline_livery");
        qInfo().noquote() << QStringLiteral("MSFS model for %1: %2 (%3, score %4)")
                                 .arg(callsign, title, strategy)
                                 .arg(match.score);
    }
    emit trafficMappingStatusChanged(QStringLiteral("MSFS 映射 %1 -> %2").arg(callsign, title));

    AiObject object;
    object.callsign = callsign;
    object.requestId = nextRequestId();
    object.lastState = aircraft.visualState;
    object.hasPosition = true;
    object.lastSpeed = aircraft.groundSpeed;
    object.onGround = aircraft.config.onGround.value_or(false);
    object.hasConfig = aircraft.hasConfig;
    object.lastConfig = aircraft;
    m_objects.insert(callsign, object);
    m_pendingCreations.insert(object.requestId, {callsign, now()});

    const model::AircraftVisualState& s = aircraft.visualState;
    m_session.createRemoteAircraft(object.requestId, title, aircraft.livery, callsign, s.latitude,
                                   s.longitude, s.altitudeTrue, toSimAttitude(s.pitch), toSimAttitude(s.bank),
                                   s.heading, object.onGround, aircraft.groundSpeed);
}

void MsfsAdapter::onRemoteAircraftCreated(uint requestId, uint objectId) {
    const QString callsign = m_pendingCreations.take(requestId).callsign;
    auto it = callsign.isEmpty() ? m_objects.end() : m_objects.find(callsign);
    if (it == m_objects.end() || it->requestId != requestId || it->cancelled) {
        // Removed, added again or given up while the simulator was still
        // creating it: nobody tracks this object, so it must not stay.
        if (it != m_objects.end() && it->requestId == requestId)
            m_objects.erase(it);
        qInfo().noquote() << QStringLiteral("Removing untracked MSFS AI object %1 of request %2")
                                 .arg(objectId)
                                 .arg(requestId);
        m_session.removeRemoteAircraft(objectId, requestId);
        return;
    }
    it->objectId = objectId;
    m_callsignByObject.insert(objectId, callsign);
    emit aircraftAddedToSim(callsign);
    // A receiver may have removed or added aircraft: look the object up again.
    const auto placed = m_objects.constFind(callsign);
    if (placed != m_objects.constEnd() && placed->objectId == objectId && placed->hasConfig) {
        const AiObject object = *placed;
        writeConfig(object, object.lastConfig);
    }
}

void MsfsAdapter::onRemoteAircraftCreateFailed(uint requestId) {
    // A refusal that names no creation is charged to none: guessing would drop
    // the wrong pilot. The creation it concerns expires instead.
    if (requestId == 0) {
        qWarning() << "MSFS refused a remote aircraft creation without naming it";
        return;
    }
    const QString callsign = m_pendingCreations.take(requestId).callsign;
    if (callsign.isEmpty())
        return;
    qWarning().noquote() << "MSFS could not create remote aircraft" << callsign;
    dropPendingObject(callsign, requestId);
}

void MsfsAdapter::expirePendingCreations() {
    const qint64 t = now();
    for (auto it = m_pendingCreations.begin(); it != m_pendingCreations.end();) {
        if (t - it->requestedAtMs < kCreateTimeoutMs) {
            ++it;
            continue;
        }
        qWarning().noquote() << "MSFS did not create remote aircraft" << it->callsign << "in time";
        dropPendingObject(it->callsign, it.key());
        it = m_pendingCreations.erase(it);
    }
}

void MsfsAdapter::dropPendingObject(const QString& callsign, std::uint32_t requestId) {
    const auto it = m_objects.constFind(callsign);
    if (it != m_objects.constEnd() && it->requestId == requestId && it->objectId == 0)
        m_objects.erase(it);
}

void MsfsAdapter::updateRemoteAircraftConfig(const manager::RemoteAircraft& aircraft) {
    auto it = m_objects.find(aircraft.callsign);
    if (it == m_objects.end() || it->cancelled)
        return;
    it->hasConfig = true;
    it->lastConfig = aircraft;
    if (aircraft.config.onGround)
        it->onGround = *aircraft.config.onGround;
    if (it->objectId != 0)
        writeConfig(*it, aircraft);
}

void MsfsAdapter::writeConfig(const AiObject& object, const manager::RemoteAircraft& aircraft) {
    const model::AircraftConfig& config = aircraft.config;
    const std::uint32_t id = object.objectId;
    if (config.gearDown)
        m_session.setObjectDataValue(id, SimKey::GearHandlePosition, *config.gearDown);
    if (config.flapsPct)
        m_session.setObjectDataValue(id, SimKey::FlapsHandlePercent,
                                     std::clamp(*config.flapsPct, 0, 100) / 100.0);
    if (config.spoilersOut)
        m_session.setObjectDataValue(id, SimKey::SpeedbrakeRatio, *config.spoilersOut ? 1.0 : 0.0);
    if (config.lights) {
        const model::AircraftConfig::Lights& l = *config.lights;
        const std::pair<const std::optional<bool>&, SimKey> lights[] = {
            {l.strobeOn, SimKey::StrobeLights}, {l.landingOn, SimKey::LandingLights},
            {l.taxiOn, SimKey::TaxiLights},     {l.beaconOn, SimKey::BeaconLights},
            {l.navOn, SimKey::NavLights},
        };
        for (const auto& [value, key] : lights) {
            if (value)
                m_session.setObjectDataValue(id, key, *value);
        }
    }
}

void MsfsAdapter::updateRemoteAircraftPosition(const manager::RemoteAircraft& aircraft,
                                               const model::AircraftVisualState& state) {
    auto it = m_objects.find(aircraft.callsign);
    if (it == m_objects.end() || it->cancelled)
        return;
    it->lastState = state;
    it->lastSpeed = aircraft.groundSpeed;
    if (aircraft.config.onGround)
        it->onGround = *aircraft.config.onGround;
    if (it->objectId != 0)
        moveObject(*it);
}

void MsfsAdapter::updateRemoteAircraftFastPosition(const manager::RemoteAircraft& aircraft,
                                                   const model::AircraftVisualState& state,
                                                   const model::VelocityVector& /*positional*/,
                                                   const model::VelocityVector& /*rotational*/) {
    // The waypoint carries no velocities.
    updateRemoteAircraftPosition(aircraft, state);
}

void MsfsAdapter::moveObject(const AiObject& object) {
    const model::AircraftVisualState& s = object.lastState;
    m_session.updateRemoteAircraftPosition(object.objectId, s.latitude, s.longitude, s.altitudeTrue,
                                           toSimAttitude(s.pitch), toSimAttitude(s.bank), s.heading,
                                           object.onGround, object.lastSpeed);
}

void MsfsAdapter::removeRemoteAircraft(const QString& callsign, const QString& reason) {
    auto it = m_objects.find(callsign);
    if (it == m_objects.end() || it->cancelled)
        return;
    qInfo().noquote() << "Removing MSFS remote aircraft" << callsign << reason;
    if (it->objectId == 0) {
        it->cancelled = true; // its object is removed as soon as it is named
        return;
    }
    const AiObject object = *it;
    m_objects.erase(it);
    m_callsignByObject.remove(object.objectId);
    m_session.removeRemoteAircraft(object.objectId, object.requestId);
    emit aircraftRemovedFromSim(callsign);
}

void MsfsAdapter::removeAllRemoteAircraft() {
    const QStringList callsigns = m_objects.keys();
    for (const QString& callsign : callsigns)
        removeRemoteAircraft(callsign, QStringLiteral("Remove all"));
}

void MsfsAdapter::forgetAllObjects() {
    // AI objects end with the connection that created them.
    QStringList removed;
    for (const AiObject& object : std::as_const(m_objects)) {
        if (object.objectId != 0)
            removed << object.callsign;
    }
    m_objects.clear();
    m_callsignByObject.clear();
    m_pendingCreations.clear();
    for (const QString& callsign : std::as_const(removed))
        emit aircraftRemovedFromSim(callsign);
}

void MsfsAdapter::onTrafficSnapshot(const QVariantList& contacts) {
    emit trafficSnapshotChanged(contacts);
}

// ---------------------------------------------------------------- not shown in MSFS

void MsfsAdapter::updateControllerList(const QList<model::Controller>&) {}
void MsfsAdapter::clearControllerList() {}
void MsfsAdapter::sendHeartbeat(const QString&) {}
void MsfsAdapter::notifyRadioMessageSent(const QString&) {}
void MsfsAdapter::notifyRadioMessageReceived(const QString&, const QString&, bool) {}
void MsfsAdapter::showNotification(const QString&, qint64) {}
void MsfsAdapter::notifyPrivateMessageSent(const QString&, const QString&) {}
void MsfsAdapter::notifyPrivateMessageReceived(const QString&, const QString&) {}
void MsfsAdapter::notifyNetworkConnected(const QString&, const QString&, bool) {}
void MsfsAdapter::notifyNetworkDisconnected() {}
void MsfsAdapter::setStationCallsign(int, const QString&) {}
void MsfsAdapter::notifySelcal() {}

} // namespace velk::simulator::msfs
