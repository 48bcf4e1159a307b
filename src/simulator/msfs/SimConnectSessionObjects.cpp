// SimConnect session: AI aircraft, created, moved and removed.
#include "simulator/msfs/SimConnectSession.h"
#include "simulator/msfs/SimConnectWire.h"

#include <QDebug>

#include <array>
#include <cmath>
#include <limits>

namespace velk::simulator::msfs {

using namespace wire;

namespace {

constexpr std::uint32_t kWaypointSize = 44;
constexpr int kTailNumberLength = 11;

// Knots as the whole, non-negative number the create calls take.
std::uint32_t wholeKnots(double knots) {
    if (!(knots > 0.0))
        return 0;
    if (knots >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(knots);
}

} // namespace

void SimConnectSession::createRemoteAircraft(std::uint32_t requestId, const QString& containerTitle,
                                             const QString& livery, const QString& callsign, double latitude,
                                             double longitude, double altitude, double pitch, double bank,
                                             double heading, bool onGround, double airspeed) {
    if (!isConnected()) {
        qWarning() << "Cannot create remote aircraft: not connected";
        return;
    }
    if (containerTitle.trimmed().isEmpty()) {
        qWarning() << "Cannot create remote aircraft: empty container title";
        return;
    }
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(altitude)) {
        qWarning().noquote()
            << QStringLiteral("Cannot create remote aircraft %1: position is not a number").arg(callsign);
        emit remoteAircraftCreateFailed(requestId);
        return;
    }
    const QByteArray title = containerTitle.toUtf8();
    const QByteArray liveryText = livery.toUtf8();
    const QByteArray tail = callsign.left(kTailNumberLength).toUtf8();
    AiInitialPosition position;
    position.latitude = latitude;
    position.longitude = longitude;
    position.altitude = altitude;
    position.pitch = pitch;
    position.bank = bank;
    position.heading = heading;
    position.onGround = onGround ? 1 : 0;
    position.airspeed = wholeKnots(airspeed);

    const SimConnectFunctionTable& t = simConnectFunctions();
    bool submitted = false;
    if (m_runtimeProfile == MsfsRuntimeProfile::Msfs2024 && t.aiCreateNonAtcAircraftEx1) {
        const SimResult result = t.aiCreateNonAtcAircraftEx1(
            m_handle, title.constData(), liveryText.constData(), tail.constData(), &position, requestId);
        submitted = !simFailed(result);
        if (!submitted)
            qWarning().noquote() << QStringLiteral(
                                        "AICreateNonATCAircraft_EX1 failed for %1/%2, retrying legacy API")
                                        .arg(containerTitle, callsign);
    }
    if (!submitted) {
        const SimResult result =
            t.aiCreateNonAtcAircraft(m_handle, title.constData(), tail.constData(), &position, requestId);
        if (simFailed(result)) {
            qWarning().noquote() << withResult(
                QStringLiteral("Failed to create remote aircraft %1 with container %2")
                    .arg(callsign, containerTitle),
                result);
            emit remoteAircraftCreateFailed(requestId);
            return;
        }
    }
    rememberCreateCall(requestId);
    qInfo().noquote() << QStringLiteral(
                             "Create remote aircraft request submitted: req=%1 callsign=%2 container=%3 "
                             "livery=%4")
                             .arg(requestId)
                             .arg(callsign, containerTitle, livery);
}

void SimConnectSession::handleAssignedObjectId(const std::uint8_t* message, std::uint32_t size) {
    std::uint32_t requestId = 0;
    std::uint32_t objectId = 0;
    if (!readAt(message, size, 12, requestId) || !readAt(message, size, 16, objectId))
        return;
    qInfo().noquote()
        << QStringLiteral("Remote aircraft assigned: req=%1 object=%2").arg(requestId).arg(objectId);
    forgetCreateCall(requestId);
    emit remoteAircraftCreated(requestId, objectId);
}

void SimConnectSession::removeRemoteAircraft(std::uint32_t objectId, std::uint32_t requestId) {
    if (!isConnected()) {
        qWarning() << "Cannot remove remote aircraft: not connected";
        return;
    }
    const SimResult result = simConnectFunctions().aiRemoveObject(m_handle, objectId, requestId);
    if (simFailed(result)) {
        reportFailure(QStringLiteral("Failed to remove remote aircraft object %1").arg(objectId), result);
        return;
    }
    emit remoteAircraftRemoved(requestId, objectId);
}

bool SimConnectSession::registerWaypointDefinition() {
    // Without a connection the library's calls may not even be loaded.
    if (!isConnected())
        return false;
    if (m_waypointDefinitionRegistered)
        return true;
    const SimResult result =
        simConnectFunctions().addToDataDefinition(m_handle, kWaypointDefinition, "AI WAYPOINT LIST", "number",
                                                  sim::kTypeWaypoint, 0.0f, sim::kUnusedDatum);
    if (simFailed(result)) {
        reportFailure(QStringLiteral("Failed to register AI waypoint data definition"), result);
        return false;
    }
    m_waypointDefinitionRegistered = true;
    return true;
}

void SimConnectSession::updateRemoteAircraftPosition(std::uint32_t objectId, double latitude,
                                                     double longitude, double altitude, double, double,
                                                     double, bool onGround, double speedKnots) {
    if (!isConnected()) {
        qWarning() << "Cannot update remote aircraft position: not connected";
        return;
    }
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(altitude)) {
        qWarning() << "Cannot update remote aircraft position: position is not a number, object" << objectId;
        return;
    }
    if (!registerWaypointDefinition())
        return;
    const std::uint32_t flags = sim::kWaypointSpeedRequested | (onGround ? sim::kWaypointOnGround : 0u);
    const double speed = speedKnots > 0.0 ? speedKnots : 0.0; // also NaN
    const double throttle = 0.0;
    std::array<std::uint8_t, kWaypointSize> waypoint{};
    std::memcpy(waypoint.data() + 0, &latitude, 8);
    std::memcpy(waypoint.data() + 8, &longitude, 8);
    std::memcpy(waypoint.data() + 16, &altitude, 8);
    std::memcpy(waypoint.data() + 24, &flags, 4);
    std::memcpy(waypoint.data() + 28, &speed, 8);
    std::memcpy(waypoint.data() + 36, &throttle, 8);
    const SimResult result = simConnectFunctions().setDataOnSimObject(m_handle, kWaypointDefinition, objectId,
                                                                      0, 1, kWaypointSize, waypoint.data());
    if (simFailed(result))
        reportFailure(QStringLiteral("Failed to update remote aircraft object %1 position").arg(objectId),
                      result);
}

} // namespace velk::simulator::msfs
