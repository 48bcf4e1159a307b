// Remote pilots: the pilot table, their positions, their aircraft type from
// plane information and flight plans, and their departure.
#include "manager/NetworkManager.h"

#include "AppConfig.h"
#include "fsd/pdu/PDUFields.h"
#include "network/SwiftAircraftIcaoService.h"

#include <QDebug>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <vector>

namespace velk::manager {

namespace {

const QString kServer = QStringLiteral("SERVER");
constexpr double kKnotsPerMetrePerSecond = 1.943844;
constexpr double kMaxGroundSpeedKnots = 900.0;

QDateTime utcFromMs(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

// An observer connected as a pilot's callsign plus one capital letter is that
// pilot. Plain text: nothing received is ever compiled as a pattern.
bool isOwnAircraftOf(const QString& ownCallsign, const QString& sender) {
    if (ownCallsign.size() != sender.size() + 1 || !ownCallsign.startsWith(sender, Qt::CaseSensitive)) {
        return false;
    }
    const QChar last = ownCallsign.back();
    return last >= QLatin1Char('A') && last <= QLatin1Char('Z');
}

} // namespace

const RemoteAircraft* NetworkManager::pilot(const QString& callsign) const {
    const auto it = m_pilots.constFind(callsign.trimmed().toUpper());
    return it == m_pilots.constEnd() ? nullptr : &*it;
}

RemoteAircraft& NetworkManager::touchPilot(const QString& callsign) {
    // Keys are normalised: a callsign found as given needs no normalising.
    if (const auto found = m_pilots.find(callsign); found != m_pilots.end()) {
        return *found;
    }
    const QString key = callsign.trimmed().toUpper();
    auto it = m_pilots.find(key);
    if (it == m_pilots.end()) {
        makeRoomForPilot();
        RemoteAircraft record;
        record.callsign = key;
        record.lastUpdate = utcFromMs(now());
        it = m_pilots.insert(key, record);
    }
    return *it;
}

bool NetworkManager::isPilotFresh(const RemoteAircraft& record) const {
    return record.lastUpdate.toMSecsSinceEpoch() > now() - RemoteAircraft::StaleAfterMs;
}

// A pilot leaves the table, departed or no longer heard. Taking it out of the
// simulator is the remote aircraft table's alone, which learns the departure
// from pilotDeleted and the silence from pilotExpired (or notices it first),
// so that the back end is asked once. Pending requests are forgotten even
// without a record: a departure can come before any position.
void NetworkManager::dropPilot(const QString& key) {
    m_pilotInfoRequested.remove(key);
    m_configurationRequested.remove(key);
    m_flightPlanRequested.remove(key);
    m_pilots.remove(key);
}

// Both tables forget a silent pilot together: one that came back to this table
// alone would be moved by neither and put in a second time.
void NetworkManager::expirePilot(const QString& key) {
    dropPilot(key);
    emit m_pilotTableEvents.pilotExpired(key);
}

void NetworkManager::forgetPilot(const QString& callsign) {
    dropPilot(callsign.trimmed().toUpper());
}

void NetworkManager::expireStalePilots() {
    QStringList stale;
    for (auto it = m_pilots.cbegin(); it != m_pilots.cend(); ++it) {
        if (!isPilotFresh(*it)) {
            stale.append(it.key());
        }
    }
    for (const QString& key : std::as_const(stale)) {
        expirePilot(key);
    }
    if (!stale.isEmpty()) {
        qInfo() << "Pilots not heard from within the stale limit dropped:" << stale.size();
    }
}

void NetworkManager::makeRoomForPilot() {
    if (m_pilots.size() < MaxPilots) {
        return;
    }
    std::vector<std::pair<qint64, QString>> byAge;
    byAge.reserve(static_cast<size_t>(m_pilots.size()));
    for (auto it = m_pilots.cbegin(); it != m_pilots.cend(); ++it) {
        byAge.emplace_back(it->lastUpdate.toMSecsSinceEpoch(), it.key());
    }
    for (const QString& key : leastRecentlyHeardToDrop(std::move(byAge), MaxPilots)) {
        expirePilot(key);
    }
    if (!m_pilotCapWarned) {
        m_pilotCapWarned = true;
        qWarning() << "Pilot table full at" << MaxPilots << "pilots: the least recently heard are dropped";
    }
}

QString NetworkManager::extractTypeFromFlightPlanAircraft(const QString& aircraft) {
    static const QRegularExpression category(QStringLiteral("^/?[A-Z]\\s*/"));
    static const QRegularExpression separators(QStringLiteral("[/_-]+"));
    static const QRegularExpression designator(QStringLiteral("\\b[A-Z0-9]{2,4}\\b"));
    QString s = aircraft.trimmed().toUpper();
    if (s.isEmpty()) {
        return {};
    }
    s.remove(category);
    s.replace(separators, QStringLiteral(" "));
    const auto match = designator.match(s);
    if (match.hasMatch()) {
        return match.captured(0);
    }
    return s.size() > 4 ? s.left(4) : s;
}

QString NetworkManager::normalizeTypeCode(const QString& code) {
    const auto result = network::SwiftAircraftIcaoService::instance()->normalizeDesignator(code);
    if (result.found && !result.normalized.isEmpty()) {
        return result.normalized;
    }
    static const QRegularExpression designator(QStringLiteral("([A-Z0-9]{2,4})"));
    const QString s = code.trimmed().toUpper();
    const auto match = designator.match(s);
    if (match.hasMatch()) {
        return match.captured(1);
    }
    if (s.isEmpty()) {
        return QStringLiteral("ZZZZ");
    }
    return s.size() > 4 ? s.left(4) : s;
}

// --- Positions ------------------------------------------------------------------

void NetworkManager::onPilotPositionReceived(const fsd::pdu::PilotPosition& pdu) {
    if (!m_simulator) {
        return;
    }
    if (m_connectInfo.observerMode && isOwnAircraftOf(m_connectInfo.callsign, pdu.from)) {
        return; // its own aircraft is not traffic
    }
    const QString callsign = pdu.from.trimmed().toUpper();
    model::AircraftVisualState visual{};
    visual.latitude = pdu.latitude;
    visual.longitude = pdu.longitude;
    visual.altitudeTrue = m_simulator->adjustRemoteAltitude(static_cast<double>(pdu.trueAltitude));
    visual.altitudeAgl = 0;
    visual.pitch = pdu.pitch;
    visual.heading = pdu.heading;
    visual.bank = pdu.bank;
    visual.noseGearAngle = 0;
    const double groundSpeed = static_cast<double>(pdu.groundSpeed);

    RemoteAircraft& record = touchPilot(callsign);
    record.visualState = visual;
    record.groundSpeed = groundSpeed;
    record.hasPosition = true;
    record.lastUpdate = utcFromMs(now());

    requestPilotInfoOnce(callsign);
    requestAircraftInfoIfNeeded(callsign);
    const auto it = m_pilots.constFind(callsign);
    if (m_simulator && it != m_pilots.constEnd() && it->simState == RemoteAircraft::SimState::InSimulator) {
        m_simulator->updateRemoteAircraftPosition(*it, visual);
    }
    emit slowPositionUpdateReceived(callsign, visual, groundSpeed);
}

void NetworkManager::onFastPilotPositionReceived(const fsd::pdu::FastPilotPosition& pdu) {
    if (!m_simulator) {
        return;
    }
    const QString callsign = pdu.from.trimmed().toUpper();
    const bool stopped = pdu.kind == fsd::pdu::FastPositionKind::Stopped;
    model::AircraftVisualState visual{};
    visual.latitude = pdu.latitude;
    visual.longitude = pdu.longitude;
    visual.altitudeTrue = m_simulator->adjustRemoteAltitude(pdu.altitudeTrue);
    visual.altitudeAgl = pdu.altitudeAgl;
    visual.pitch = pdu.pitch;
    visual.heading = pdu.heading;
    visual.bank = pdu.bank;
    visual.noseGearAngle = pdu.noseGearAngle;

    model::VelocityVector positional{};
    model::VelocityVector rotational{};
    if (!stopped) {
        positional = {pdu.velocityX, pdu.velocityY, pdu.velocityZ};
        rotational = {pdu.velocityPitch, pdu.velocityHeading, pdu.velocityBank};
    }

    RemoteAircraft& record = touchPilot(callsign);
    record.visualState = visual;
    record.hasFastUpdates = true;
    const double horizontal = std::sqrt(pdu.velocityX * pdu.velocityX + pdu.velocityZ * pdu.velocityZ);
    if (!stopped && horizontal > 0.05) {
        record.groundSpeed = std::clamp(horizontal * kKnotsPerMetrePerSecond, 0.0, kMaxGroundSpeedKnots);
    } else if (stopped) {
        record.groundSpeed = 0;
    }
    record.hasPosition = true;
    record.lastUpdate = utcFromMs(now());

    requestPilotInfoOnce(callsign);
    requestAircraftInfoIfNeeded(callsign);
    const auto it = m_pilots.constFind(callsign);
    if (m_simulator && it != m_pilots.constEnd() && it->simState == RemoteAircraft::SimState::InSimulator) {
        m_simulator->updateRemoteAircraftFastPosition(*it, visual, positional, rotational);
    }
    // The remote table looks callsigns up exactly: always the normalised form.
    emit fastPositionUpdateReceived(callsign, visual, positional, rotational);
}

// --- Putting pilots into the simulator -------------------------------------------

void NetworkManager::requestAircraftInfoIfNeeded(const QString& callsign) {
    if (!m_simulator) {
        return;
    }
    auto it = m_pilots.find(callsign);
    if (it == m_pilots.end()) {
        it = m_pilots.find(callsign.trimmed().toUpper());
    }
    if (it == m_pilots.end() || it->equipment.isEmpty()) {
        return;
    }
    const QString key = it.key();
    if (it->simState == RemoteAircraft::SimState::InSimulator) {
        // Its type was normalised when it went in; every position passes here.
        if (!it->hasConfig) {
            requestAircraftConfigurationOnce(key);
        }
        return;
    }
    it->equipment = normalizeTypeCode(it->equipment);
    if (!it->hasPosition) {
        return; // put in with its first position, not at 0°N 0°E
    }
    if (m_simulatorGone) {
        return; // put in once it is connected again
    }
    // Told first, so that a back end confirming at once is not overridden.
    emit m_pilotTableEvents.addRequested(*it);
    m_simulator->addRemoteAircraft(*it);
    it->simState = RemoteAircraft::SimState::InSimulator;
    if (it->hasConfig) {
        m_simulator->updateRemoteAircraftConfig(*it);
    } else {
        requestAircraftConfigurationOnce(key);
    }
}

// A back end that reports itself not connected holds no pilot any more, and
// none is put in or asked out until it is connected again. Then it is first
// asked to remove what it may still hold, told the session again (a plug-in
// that came meanwhile never heard it), and every pilot still heard goes in
// once; moves follow the adds.
void NetworkManager::followSimulatorConnection(bool connected) {
    if (!connected) {
        if (!m_simulatorGone) {
            m_simulatorGone = true;
            for (auto& record : m_pilots) {
                record.simState = RemoteAircraft::SimState::NotInSimulator;
            }
            emit m_pilotTableEvents.simulatorLost();
        }
        return;
    }
    if (!m_simulatorGone || !m_simulator) {
        return;
    }
    m_simulatorGone = false;
    m_simulator->removeAllRemoteAircraft();
    if (m_loggedIn) {
        m_simulator->notifyNetworkConnected(m_connectInfo.callsign, m_connectInfo.selcalCode,
                                            m_connectInfo.observerMode);
    }
    emit m_pilotTableEvents.simulatorRestored();
    readdKnownPilots();
}

void NetworkManager::requestPilotInfoOnce(const QString& callsign) {
    if (!m_fsdClient.isConnected() || m_pilotInfoRequested.contains(callsign)) {
        return;
    }
    const auto it = m_pilots.constFind(callsign);
    if (it != m_pilots.constEnd() && !it->equipment.isEmpty()) {
        return;
    }
    m_pilotInfoRequested.insert(callsign);
    requestPilotInfo(callsign);
}

void NetworkManager::requestPilotInfo(QString callsign) {
    send(fsd::pdu::PlaneInfoRequest(m_connectInfo.callsign, callsign).serialize());
    send(fsd::pdu::ClientQuery(m_connectInfo.callsign, kServer, fsd::ClientQueryType::FlightPlan, {callsign})
             .serialize());
    if (m_config->value(ConfigKeys::AuthVatsim)) {
        requestFlightPlanOnce(callsign);
    }
}

void NetworkManager::requestFlightPlanOnce(const QString& callsign) {
    // A server that answers the request with a flight plan would otherwise
    // be asked again for every plan it sends.
    const QString key = callsign.trimmed().toUpper();
    if (!m_fsdClient.isConnected() || m_flightPlanRequested.contains(key)) {
        return;
    }
    m_flightPlanRequested.insert(key);
    sendServerTextRequest(m_connectInfo.callsign, kServer, QStringLiteral("FP"),
                          {callsign, QStringLiteral("GET")});
}

void NetworkManager::requestAircraftConfigurationOnce(const QString& callsign) {
    if (!m_fsdClient.isConnected() || m_configurationRequested.contains(callsign)) {
        return;
    }
    m_configurationRequested.insert(callsign);
    requestAircraftConfiguration(callsign);
}

void NetworkManager::sendServerTextRequest(const QString& from, const QString& to, const QString& command,
                                           const QStringList& args) {
    if (!m_fsdClient.isConnected()) {
        return;
    }
    fsd::pdu::PacketWriter writer(fsd::pdu::TextMessage::kPrefix);
    writer.text(from).text(to).text(command);
    for (const QString& arg : args) {
        writer.text(arg);
    }
    send(writer.finish());
}

// --- Plane information ------------------------------------------------------------

void NetworkManager::onPlaneInfoRequestReceived(const fsd::pdu::PlaneInfoRequest& pdu) {
    static const QRegularExpression airlinePattern(QStringLiteral("^([A-Z]{3})\\d+"));
    const auto match = airlinePattern.match(m_connectInfo.callsign);
    const QString airline = match.hasMatch() ? match.captured(1) : QString();
    send(fsd::pdu::PlaneInfoResponse(m_connectInfo.callsign, pdu.from, m_connectInfo.typeCode, airline,
                                     QString(), QString())
             .serialize());
}

void NetworkManager::onPlaneInfoResponseReceived(const fsd::pdu::PlaneInfoResponse& pdu) {
    const QString callsign = pdu.from.trimmed().toUpper();
    RemoteAircraft& record = touchPilot(callsign);
    qInfo().noquote() << QStringLiteral(
                             "PlaneInfoResponse in: callsign=%1 equipment=%2 airline=%3 livery=%4 csl=%5")
                             .arg(callsign, pdu.equipment.trimmed(), pdu.airline.trimmed(),
                                  pdu.livery.trimmed(), pdu.csl.trimmed());
    const QString airline = pdu.airline.trimmed().toUpper();
    if (!airline.isEmpty()) {
        record.airline = airline;
    }
    const QString livery = pdu.livery.trimmed().toUpper();
    if (!livery.isEmpty()) {
        record.livery = livery;
    }
    const QString equipment = pdu.equipment.trimmed();
    if (!equipment.isEmpty()) {
        record.equipment = normalizeTypeCode(equipment);
    }
    const QString csl = pdu.csl.trimmed();
    if (!csl.isEmpty()) {
        record.modelHint = csl;
    } else if (record.modelHint.isEmpty() && livery.startsWith(QLatin1String("SWIFT_"))) {
        record.modelHint = livery;
    }
    qInfo().noquote()
        << QStringLiteral(
               "PlaneInfoResponse applied: callsign=%1 typeCode=%2 airline=%3 livery=%4 remoteModelHint=%5")
               .arg(callsign, record.equipment, record.airline, record.livery, record.modelHint);
    m_pilotInfoRequested.remove(callsign);
    requestAircraftInfoIfNeeded(callsign);
    const auto it = m_pilots.constFind(callsign);
    if (it != m_pilots.constEnd()) {
        emit aircraftInfoReceived(callsign, it->equipment, it->airline);
    }
}

void NetworkManager::onFlightPlanReceived(const fsd::pdu::FlightPlan& pdu) {
    const QString callsign = pdu.from.trimmed().toUpper();
    if (callsign.isEmpty()) {
        return;
    }
    const QString type = extractTypeFromFlightPlanAircraft(pdu.aircraft);
    if (type.isEmpty()) {
        qInfo().noquote()
            << QStringLiteral("FlightPlan ignored: callsign=%1 empty aircraft type").arg(callsign);
        return;
    }
    applyFlightPlanType(callsign, type, [&](const QString& typeCode) {
        qInfo().noquote() << QStringLiteral(
                                 "FlightPlan applied: callsign=%1 typeCode=%2 rawAircraft=%3 route=%4-%5")
                                 .arg(callsign, typeCode, pdu.aircraft, pdu.departure, pdu.destination);
        if (m_config->value(ConfigKeys::AuthVatsim)) {
            requestFlightPlanOnce(callsign);
        }
    });
}

// A pilot's type from a flight plan: stored, then the pilot is put into the
// simulator, or its model updated when the type changed, and the type is
// announced. `applied` runs once the type is stored.
void NetworkManager::applyFlightPlanType(const QString& callsign, const QString& type,
                                         const std::function<void(const QString& typeCode)>& applied) {
    RemoteAircraft& record = touchPilot(callsign);
    const QString typeCode = normalizeTypeCode(type);
    const bool changed = record.equipment.compare(typeCode, Qt::CaseInsensitive) != 0;
    record.equipment = typeCode;
    m_pilotInfoRequested.remove(callsign);
    applied(typeCode);
    requestAircraftInfoIfNeeded(callsign);
    const auto it = m_pilots.constFind(callsign);
    if (it == m_pilots.constEnd()) {
        return;
    }
    if (m_simulator && changed && it->simState == RemoteAircraft::SimState::InSimulator) {
        m_simulator->updateRemoteAircraftConfig(*it);
    }
    emit aircraftInfoReceived(callsign, it->equipment, it->airline);
}

// --- Departures and controllers ------------------------------------------------------

void NetworkManager::onDeletePilotReceived(const fsd::pdu::DeletePilot& pdu) {
    const QString callsign = pdu.from.trimmed().toUpper();
    if (callsign == m_connectInfo.callsign.toUpper()) {
        emit disableVoiceTransmit();
    }
    dropPilot(callsign);
    emit pilotDeleted(callsign);
}

void NetworkManager::onATCPositionReceived(const fsd::pdu::ATCPosition& pdu) {
    if (pdu.frequencies.isEmpty()) {
        qDebug() << "Controller position without a frequency dropped:" << pdu.from;
        return;
    }
    emit controllerUpdateReceived(pdu.from, static_cast<uint>(pdu.frequencies.first()), pdu.latitude,
                                  pdu.longitude);
}

void NetworkManager::onDeleteATCReceived(const fsd::pdu::DeleteATC& pdu) {
    emit controllerDeleted(pdu.from.toUpper());
}

} // namespace velk::manager
