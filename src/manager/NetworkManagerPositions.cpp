// Position reporting: "@" or "%" on the position timer, "#SL" before it while
// moving, and "^"/"#ST" on the fast timer while the server asks for it.
#include "manager/NetworkManager.h"

#include <cmath>
#include <limits>

namespace velk::manager {

namespace {

constexpr double kMovingThreshold = 0.005;
constexpr double kFeetPerMetre = 3.28084;
constexpr quint8 kRating = 1;
constexpr int kObserverFrequency = 99998;
constexpr quint32 kObserverVisualRange = 40;

// Truncation toward zero that stays defined for values no int can hold.
int truncateToInt(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    if (value <= lo) {
        return std::numeric_limits<int>::min();
    }
    if (value >= hi) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(value);
}

} // namespace

bool NetworkManager::isMoving() const {
    const auto& d = m_reportedData;
    return std::abs(d.longitudeVelocity) >= kMovingThreshold ||
           std::abs(d.altitudeVelocity) >= kMovingThreshold ||
           std::abs(d.latitudeVelocity) >= kMovingThreshold ||
           std::abs(d.pitchVelocity) >= kMovingThreshold || std::abs(d.headingVelocity) >= kMovingThreshold;
}

double NetworkManager::userAltitudeFeet() const {
    return m_simulator ? m_simulator->userAltitudeFeet() : 0.0;
}

double NetworkManager::userPressureAltitudeFeet() const {
    return m_simulator ? m_simulator->userPressureAltitudeFeet() : 0.0;
}

// Receivers read the fast reports' second altitude as the height above ground.
double NetworkManager::userHeightAboveGroundFeet() const {
    return m_reportedData.altitudeAglM * kFeetPerMetre;
}

// A lost simulator's aircraft is held where it was last seen, as if paused.
void NetworkManager::onPositionTimer() {
    if (m_simPaused || m_simLost) {
        sendPausedPosition();
    } else if (isMoving()) {
        sendFastPosition(1);
    }
    sendPosition();
}

void NetworkManager::onFastPositionTimer() {
    if (m_simPaused || m_simLost) {
        sendPausedPosition();
    } else if (isMoving()) {
        sendFastPosition(0);
    } else {
        sendStoppedPosition();
    }
}

void NetworkManager::onSendFastReceived(const fsd::pdu::SendFast& pdu) {
    if (pdu.to.toUpper() != m_connectInfo.callsign.toUpper()) {
        return;
    }
    if (pdu.flag == 1) {
        m_fastPositionTimer.start();
    } else {
        m_fastPositionTimer.stop();
        sendStoppedPosition();
    }
}

void NetworkManager::sendPosition() {
    if (!m_fsdClient.isConnected()) {
        return;
    }
    const auto& d = m_reportedData;
    if (m_connectInfo.observerMode) {
        const fsd::pdu::ATCPosition position(m_connectInfo.callsign, {kObserverFrequency},
                                             fsd::NetworkFacility::OBS, kObserverVisualRange, kRating,
                                             d.latitude, d.longitude);
        send(position.serialize());
        return;
    }
    if (!m_hasReportedData) {
        return;
    }
    const auto& radio = reportedRadios();
    const fsd::pdu::PilotPosition position(
        m_connectInfo.callsign, radio.transponderCode, radio.squawkingModeC, radio.squawkingIdent, kRating,
        d.latitude, d.longitude, truncateToInt(m_reportedAltitudeFeet),
        truncateToInt(m_reportedPressureAltitudeFeet), truncateToInt(d.groundSpeed), d.pitch, d.heading,
        d.bank, reportedConfig().onGround);
    send(position.serialize());
}

void NetworkManager::sendFastPosition(int kind) {
    sendFastReport(static_cast<fsd::pdu::FastPositionKind>(kind), true);
}

void NetworkManager::sendStoppedPosition() {
    sendFastReport(fsd::pdu::FastPositionKind::Stopped, false);
}

void NetworkManager::sendPausedPosition() {
    sendFastReport(fsd::pdu::FastPositionKind::Fast, false);
}

// Without motion every velocity and the nose-gear angle are zero.
void NetworkManager::sendFastReport(fsd::pdu::FastPositionKind kind, bool withMotion) {
    if (m_connectInfo.observerMode || !m_fsdClient.isConnected() || !m_hasReportedData) {
        return;
    }
    const auto& d = m_reportedData;
    const auto motion = [withMotion](double value) { return withMotion ? value : 0.0; };
    const fsd::pdu::FastPilotPosition position(
        kind, m_connectInfo.callsign, d.latitude, d.longitude, m_reportedAltitudeFeet,
        userHeightAboveGroundFeet(), d.pitch, d.heading, d.bank, reportedConfig().onGround,
        motion(d.longitudeVelocity), motion(d.altitudeVelocity), motion(d.latitudeVelocity),
        motion(d.pitchVelocity), motion(d.headingVelocity), motion(d.bankVelocity), motion(d.noseWheelAngle));
    send(position.serialize());
}

} // namespace velk::manager
