// SimConnect session: the traffic snapshot around the user and the speedbrake
// input events.
#include "simulator/msfs/SimConnectSession.h"
#include "simulator/msfs/SimConnectWire.h"

#include <QDebug>

#include <algorithm>

namespace velk::simulator::msfs {

using namespace wire;

namespace {

constexpr std::uint32_t kTrafficRowSize = 120;
constexpr std::uint32_t kAtcIdBytes = 64;
constexpr std::uint32_t kInputDescriptorsOffset = 28;
constexpr std::uint32_t kInputDescriptorSize = 76;
constexpr std::uint32_t kInputNameBytes = 64;

} // namespace

// ---------------------------------------------------------------- traffic snapshot

void SimConnectSession::setTrafficSnapshotRadius(std::uint32_t meters) {
    m_snapshotRadiusMeters = std::clamp<std::uint32_t>(meters, 1000, 200000);
}

bool SimConnectSession::registerTrafficDefinition() {
    if (!isConnected())
        return false;
    if (m_trafficDefinitionRegistered)
        return true;
    struct Field {
        const char* datum;
        const char* unit;
        std::uint32_t type;
    };
    static constexpr Field kFields[] = {
        {"ATC ID", nullptr, sim::kTypeString64},
        {"PLANE LATITUDE", "degrees", sim::kTypeFloat64},
        {"PLANE LONGITUDE", "degrees", sim::kTypeFloat64},
    };
    for (const Field& field : kFields) {
        const SimResult result = simConnectFunctions().addToDataDefinition(
            m_handle, kTrafficDefinition, field.datum, field.unit, field.type, 0.0f, sim::kUnusedDatum);
        rememberTrafficCall();
        if (simFailed(result)) {
            reportFailure(
                QStringLiteral("Failed to register traffic field: %1").arg(QLatin1String(field.datum)),
                result);
            return false;
        }
    }
    m_trafficDefinitionRegistered = true;
    return true;
}

void SimConnectSession::setTrafficSnapshotEnabled(bool enabled) {
    m_trafficSnapshotEnabled = enabled;
    if (!enabled) {
        m_snapshotTimer.stop();
        m_pendingContacts.clear();
        emit trafficSnapshotReceived({});
        return;
    }
    if (isConnected() && m_definitionsRegistered && registerTrafficDefinition()) {
        requestTrafficSnapshot();
        if (!m_snapshotTimer.isActive())
            m_snapshotTimer.start();
    }
}

void SimConnectSession::requestTrafficSnapshot() {
    if (!m_trafficSnapshotEnabled || !isConnected() || !m_definitionsRegistered ||
        !registerTrafficDefinition())
        return;
    const SimResult result = simConnectFunctions().requestDataOnSimObjectType(
        m_handle, kTrafficRequest, kTrafficDefinition, m_snapshotRadiusMeters, sim::kObjectTypeAircraft);
    rememberTrafficCall();
    if (simFailed(result))
        reportFailure(QStringLiteral("Failed to request traffic snapshot"), result);
}

void SimConnectSession::handleTrafficSnapshot(const std::uint8_t* message, std::uint32_t size) {
    std::uint32_t requestId = 0;
    std::uint32_t objectId = 0;
    std::uint32_t entry = 0;
    std::uint32_t outOf = 0;
    if (!readAt(message, size, 12, requestId) || requestId != kTrafficRequest)
        return;
    if (!readAt(message, size, 16, objectId) || !readAt(message, size, 28, entry) ||
        !readAt(message, size, 32, outOf))
        return;
    // A reply still arriving after snapshots were switched off is dropped.
    if (!m_trafficSnapshotEnabled)
        return;
    // Rows count from 1; an empty reply is one message of entry 0 out of 0.
    if (entry <= 1)
        m_pendingContacts.clear();
    if (size >= kTrafficRowSize && objectId != 0) {
        const QString atcId = QString::fromUtf8(fixedText(message + kDataOffset, kAtcIdBytes)).trimmed();
        double latitude = 0.0;
        double longitude = 0.0;
        readAt(message, size, kDataOffset + kAtcIdBytes, latitude);
        readAt(message, size, kDataOffset + kAtcIdBytes + 8, longitude);
        QVariantMap contact;
        contact.insert(QStringLiteral("objectId"), QVariant::fromValue<qulonglong>(objectId));
        contact.insert(QStringLiteral("label"),
                       atcId.isEmpty() ? QStringLiteral("OBJ-%1").arg(objectId) : atcId);
        contact.insert(QStringLiteral("atcId"), atcId);
        contact.insert(QStringLiteral("latitude"), latitude);
        contact.insert(QStringLiteral("longitude"), longitude);
        contact.insert(QStringLiteral("altitudeFeet"), 0.0);
        contact.insert(QStringLiteral("headingTrue"), 0.0);
        contact.insert(QStringLiteral("groundSpeedKnots"), 0.0);
        contact.insert(QStringLiteral("onGround"), false);
        contact.insert(QStringLiteral("beaconOn"), false);
        contact.insert(QStringLiteral("navOn"), false);
        contact.insert(QStringLiteral("strobeOn"), false);
        m_pendingContacts.append(contact);
    }
    if (entry >= outOf) {
        const QVariantList contacts = m_pendingContacts;
        m_pendingContacts.clear();
        emit trafficSnapshotReceived(contacts);
    }
}

// ---------------------------------------------------------------- input events

void SimConnectSession::enumerateInputEvents() {
    const SimConnectFunctionTable& t = simConnectFunctions();
    if (!isConnected() || !t.enumerateInputEvents)
        return;
    const SimResult result = t.enumerateInputEvents(m_handle, kInputEventsRequest);
    if (simFailed(result))
        qWarning().noquote()
            << QStringLiteral("Failed to enumerate SimConnect input events (HRESULT: 0x%1)").arg(hex(result));
}

void SimConnectSession::handleInputEvents(const std::uint8_t* message, std::uint32_t size) {
    const SimConnectFunctionTable& t = simConnectFunctions();
    std::uint32_t requestId = 0;
    std::uint32_t count = 0;
    if (!readAt(message, size, 12, requestId) || requestId != kInputEventsRequest || !t.subscribeInputEvent)
        return;
    if (!readAt(message, size, 16, count) || count == 0)
        return;
    int subscribed = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t start = kInputDescriptorsOffset + i * kInputDescriptorSize;
        if (start + kInputDescriptorSize > size)
            break;
        std::uint64_t hash = 0;
        std::uint32_t type = 0;
        readAt(message, size, start + kInputNameBytes, hash);
        readAt(message, size, start + kInputNameBytes + 8, type);
        if (type != sim::kInputEventDouble || m_subscribedInputEvents.contains(hash))
            continue;
        const QString name = QString::fromUtf8(fixedText(message + start, kInputNameBytes)).trimmed();
        const QString lower = name.toLower();
        if (!lower.contains(QLatin1String("spoiler")) && !lower.contains(QLatin1String("speedbrake")) &&
            !lower.contains(QLatin1String("speed_brake")))
            continue;
        const SimResult result = t.subscribeInputEvent(m_handle, hash);
        if (simFailed(result)) {
            qWarning().noquote() << QStringLiteral("Failed to subscribe MSFS input event %1 (HRESULT: 0x%2)")
                                        .arg(name, hex(result));
            continue;
        }
        m_inputEventNames.insert(hash, name);
        m_subscribedInputEvents.insert(hash);
        qInfo().noquote() << QStringLiteral("Subscribed MSFS input event: %1").arg(name);
        ++subscribed;
    }
    if (subscribed >= 1)
        qInfo().noquote()
            << QStringLiteral("Subscribed %1 MSFS speedbrake/spoiler input events").arg(subscribed);
}

void SimConnectSession::handleInputEventValue(const std::uint8_t* message, std::uint32_t size) {
    std::uint64_t hash = 0;
    std::uint32_t type = 0;
    double value = 0.0;
    if (size < 32 || !readAt(message, size, 12, hash) || !readAt(message, size, 20, type) ||
        !readAt(message, size, 24, value))
        return;
    if (type != sim::kInputEventDouble)
        return;
    const QString name = m_inputEventNames.value(hash);
    if (name.isEmpty())
        return;
    emit inputEventValueChanged(name, value);
}

} // namespace velk::simulator::msfs
