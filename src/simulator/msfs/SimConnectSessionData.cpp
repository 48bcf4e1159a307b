// SimConnect session: data groups, the user aircraft's values and title, value
// writes, command events and the pause event.
#include "simulator/msfs/SimConnectSession.h"
#include "simulator/msfs/SimConnectWire.h"

#include <QDebug>

#include <array>

namespace velk::simulator::msfs {

using namespace wire;

namespace {

std::uint32_t dataTypeOf(std::uint32_t valueKind) {
    switch (valueKind) {
    case SimValueInt:
    case SimValueBool:
        return sim::kTypeInt32;
    case SimValueString:
        return sim::kTypeString256;
    default:
        return sim::kTypeFloat64;
    }
}

// UTF-8 of at most maxBytes, never cutting a character in two.
QByteArray utf8Prefix(const QString& text, qsizetype maxBytes) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

} // namespace

// ---------------------------------------------------------------- data groups

void SimConnectSession::rebuildBindings() {
    m_bindings = readableDefinitions(m_runtimeProfile);
    m_groupIndex.clear();
    m_keyIndex.clear();
    for (const SimVarBinding& binding : std::as_const(m_bindings)) {
        m_groupIndex[binding.group].append(binding);
        m_keyIndex.insert(binding.key, binding);
    }
}

void SimConnectSession::registerDataDefinitions() {
    if (!isConnected()) {
        qWarning() << "Cannot register data definitions: not connected";
        return;
    }
    if (m_definitionsRegistered) {
        qDebug() << "Data definitions already registered";
        return;
    }
    if (m_bindings.isEmpty())
        rebuildBindings();
    qInfo().noquote() << "Registering SimConnect data definitions for" << profileLabel(m_runtimeProfile);
    const SimConnectFunctionTable& t = simConnectFunctions();
    for (const SimVarBinding& binding : std::as_const(m_bindings)) {
        const QByteArray datum = binding.simVar.toUtf8();
        const QByteArray unit = binding.unit.toUtf8();
        const SimResult result =
            t.addToDataDefinition(m_handle, static_cast<std::uint32_t>(binding.group), datum.constData(),
                                  unit.constData(), dataTypeOf(binding.valueKind), 0.0f, sim::kUnusedDatum);
        if (simFailed(result)) {
            reportFailure(QStringLiteral("Failed to register SimVar: %1").arg(binding.simVar), result);
            return;
        }
    }
    m_definitionsRegistered = true;
    requestUserTitle();
    if (m_trafficSnapshotEnabled && registerTrafficDefinition()) {
        requestTrafficSnapshot();
        if (!m_snapshotTimer.isActive())
            m_snapshotTimer.start();
    }
    qInfo().noquote() << "Successfully registered" << m_bindings.size() << "SimConnect data definitions";
}

void SimConnectSession::subscribeDataGroup(UpdateGroup group) {
    if (!isConnected()) {
        qWarning() << "Cannot subscribe data group: not connected";
        return;
    }
    if (!m_definitionsRegistered) {
        qWarning() << "Cannot subscribe data group: definitions not registered";
        return;
    }
    const auto id = static_cast<std::uint32_t>(group);
    if (m_subscribedGroups.value(group, false)) {
        qDebug() << "Data group already subscribed:" << id;
        return;
    }
    // The other groups come only when they change; the flight group comes every
    // frame, so that a paused or parked aircraft still shows a live simulator.
    // In flight it changes every frame anyway.
    const std::uint32_t flags = group == UpdateGroup::CoreFlight ? 0 : sim::kFlagChangedOnly;
    const SimResult result = simConnectFunctions().requestDataOnSimObject(
        m_handle, id, id, sim::kUserObject, sim::kPeriodSimFrame, flags, 0, 0, 0);
    if (simFailed(result)) {
        reportFailure(QStringLiteral("Failed to subscribe to data group: %1").arg(id), result);
        return;
    }
    m_subscribedGroups.insert(group, true);
    qInfo() << "Subscribed to data group:" << id;
}

void SimConnectSession::unsubscribeDataGroup(UpdateGroup group) {
    if (!isConnected() || !m_subscribedGroups.value(group, false))
        return;
    const auto id = static_cast<std::uint32_t>(group);
    const SimResult result = simConnectFunctions().requestDataOnSimObject(m_handle, id, id, sim::kUserObject,
                                                                          sim::kPeriodNever, 0, 0, 0, 0);
    if (simFailed(result))
        qCritical().noquote()
            << QStringLiteral("Failed to unsubscribe data group %1 (HRESULT: 0x%2)").arg(id).arg(hex(result));
    m_subscribedGroups.remove(group);
}

void SimConnectSession::requestDataGroup(UpdateGroup group) {
    if (!isConnected())
        return;
    const auto id = static_cast<std::uint32_t>(group);
    if (!m_subscribedGroups.value(group, false)) {
        qWarning() << "Cannot request data: group not subscribed" << id;
        return;
    }
    const SimResult result = simConnectFunctions().requestDataOnSimObject(m_handle, id, id, sim::kUserObject,
                                                                          sim::kPeriodOnce, 0, 0, 0, 0);
    if (simFailed(result))
        reportFailure(QStringLiteral("Failed to request data for group: %1").arg(id), result);
}

bool SimConnectSession::registerUserTitleDefinition() {
    if (!isConnected())
        return false;
    if (m_userTitleDefinitionRegistered)
        return true;
    const SimResult result = simConnectFunctions().addToDataDefinition(
        m_handle, kUserTitleDefinition, "TITLE", nullptr, sim::kTypeString256, 0.0f, sim::kUnusedDatum);
    if (simFailed(result)) {
        qWarning().noquote()
            << QStringLiteral("Failed to register user TITLE definition (HRESULT: 0x%1)").arg(hex(result));
        return false;
    }
    m_userTitleDefinitionRegistered = true;
    return true;
}

void SimConnectSession::requestUserTitle() {
    if (!isConnected() || !m_definitionsRegistered || m_userTitleRequested || !registerUserTitleDefinition())
        return;
    const SimResult result = simConnectFunctions().requestDataOnSimObject(
        m_handle, kUserTitleRequest, kUserTitleDefinition, sim::kUserObject, sim::kPeriodOnce, 0, 0, 0, 0);
    if (simFailed(result)) {
        qWarning().noquote()
            << QStringLiteral("Failed to request user TITLE data (HRESULT: 0x%1)").arg(hex(result));
        return;
    }
    m_userTitleRequested = true;
}

void SimConnectSession::handleSimObjectData(const std::uint8_t* message, std::uint32_t size) {
    std::uint32_t requestId = 0;
    if (!readAt(message, size, 12, requestId))
        return;
    if (requestId == kUserTitleRequest) {
        if (size < kDataOffset + kTextBytes)
            return;
        const QString title = QString::fromUtf8(fixedText(message + kDataOffset, kTextBytes)).trimmed();
        if (title.isEmpty())
            return;
        qInfo().noquote() << QStringLiteral("Detected user aircraft container title: %1").arg(title);
        emit userAircraftTitleDetected(title);
        return;
    }
    // Group requests use the group's own value as id; anything larger is not ours.
    const auto groupIt = requestId <= 0xFF ? m_groupIndex.constFind(static_cast<UpdateGroup>(requestId))
                                           : m_groupIndex.constEnd();
    if (groupIt == m_groupIndex.constEnd() || groupIt->isEmpty()) {
        qWarning() << "No active definitions found for group:" << requestId;
        return;
    }
    const auto group = static_cast<UpdateGroup>(requestId);
    QVariantMap values;
    std::uint64_t offset = kDataOffset;
    for (const SimVarBinding& binding : *groupIt) {
        QVariant raw;
        switch (binding.valueKind) {
        case SimValueDouble: {
            double value = 0.0;
            if (readAt(message, size, offset, value)) {
                raw = value;
                offset += sizeof(double);
            }
            break;
        }
        case SimValueInt:
        case SimValueBool: {
            std::int32_t value = 0;
            if (readAt(message, size, offset, value)) {
                raw = binding.valueKind == SimValueBool ? QVariant(value != 0) : QVariant(int(value));
                offset += sizeof(std::int32_t);
            }
            break;
        }
        case SimValueString:
            if (offset + kTextBytes <= size) {
                raw = QString::fromUtf8(fixedText(message + offset, kTextBytes));
                offset += kTextBytes;
            }
            break;
        default:
            continue; // carries no bytes
        }
        // Later values sit behind the one that is cut off: none of them can be read.
        if (!raw.isValid())
            break;
        values.insert(binding.keyName, fromSimValue(binding, raw));
    }
    emit dataReceived(group, values);
}

// ---------------------------------------------------------------- writes and events

void SimConnectSession::setDataValue(SimKey key, const QVariant& value) {
    if (!isConnected()) {
        qWarning() << "Cannot set data value: not connected";
        return;
    }
    const auto it = m_keyIndex.constFind(key);
    if (it == m_keyIndex.constEnd()) {
        qWarning() << "Cannot set data value: no active binding for key" << static_cast<std::uint16_t>(key);
        return;
    }
    const SimVarBinding binding = *it;
    writeValue(m_handle, binding, toSimValue(binding, value), sim::kUserObject, [&](const QString& text) {
        qCritical().noquote() << text;
        emit errorOccurred(SimConnectError::RequestFailed,
                           QStringLiteral("Failed to set data value: %1").arg(binding.simVar));
    });
}

void SimConnectSession::setObjectDataValue(std::uint32_t objectId, SimKey key, const QVariant& value) {
    if (!isConnected()) {
        qWarning() << "Cannot set object data value: not connected";
        return;
    }
    const SimVarBinding binding = findDefinition(m_runtimeProfile, key);
    if (binding.simVar.isEmpty()) {
        qWarning() << "Cannot set object data value: no binding for key" << static_cast<std::uint16_t>(key);
        return;
    }
    writeValue(m_handle, binding, toSimValue(binding, value), objectId, [&](const QString& text) {
        qCritical().noquote() << text;
        emit errorOccurred(
            SimConnectError::RequestFailed,
            QStringLiteral("Failed to set object %1 data value: %2").arg(objectId).arg(binding.simVar));
    });
}

void SimConnectSession::writeValue(SimHandle handle, const SimVarBinding& binding, const QVariant& simValue,
                                   std::uint32_t objectId, const ErrorHandler& onError) {
    const SimConnectFunctionTable& t = simConnectFunctions();
    const std::uint32_t definition = kWriteDefinitionBase + static_cast<std::uint32_t>(binding.group);
    const QByteArray datum = binding.simVar.toUtf8();
    const QByteArray unit = binding.unit.toUtf8();
    const std::uint32_t type = binding.valueKind == SimValueDouble   ? sim::kTypeFloat64
                               : binding.valueKind == SimValueString ? sim::kTypeString256
                                                                     : sim::kTypeInt32;
    const SimResult added = t.addToDataDefinition(handle, definition, datum.constData(), unit.constData(),
                                                  type, 0.0f, sim::kUnusedDatum);
    if (simFailed(added)) {
        onError(QStringLiteral("Failed to create write definition for %1 (HRESULT: 0x%2)")
                    .arg(binding.simVar, hex(added)));
        return;
    }
    SimResult set = 0;
    switch (binding.valueKind) {
    case SimValueDouble: {
        double value = simValue.toDouble();
        set = t.setDataOnSimObject(handle, definition, objectId, 0, 1, sizeof(value), &value);
        break;
    }
    case SimValueInt:
    case SimValueBool: {
        std::int32_t value =
            binding.valueKind == SimValueBool ? (simValue.toBool() ? 1 : 0) : simValue.toInt();
        set = t.setDataOnSimObject(handle, definition, objectId, 0, 1, sizeof(value), &value);
        break;
    }
    case SimValueString: {
        std::array<char, kTextBytes> text{};
        const QByteArray bytes = utf8Prefix(simValue.toString(), kTextBytes - 1);
        std::memcpy(text.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        set = t.setDataOnSimObject(handle, definition, objectId, 0, 1, kTextBytes, text.data());
        break;
    }
    default:
        break;
    }
    t.clearDataDefinition(handle, definition);
    if (simFailed(set))
        onError(
            QStringLiteral("Failed to set data value for %1 (HRESULT: 0x%2)").arg(binding.simVar, hex(set)));
}

bool SimConnectSession::ensureEventMapped(std::uint32_t commandKey) {
    // Without a connection the library's calls may not even be loaded.
    if (!isConnected())
        return false;
    const auto key = static_cast<std::uint16_t>(commandKey);
    if (commandKey <= 0xFFFF && m_clientEventIds.contains(key))
        return true;
    // Keys are 16 bits: a larger one must not alias a smaller key's event.
    const QString name = commandKey <= 0xFFFF ? findEventDefinition(m_runtimeProfile, key) : QString();
    if (name.isEmpty()) {
        qWarning() << "No SimConnect event binding found for command key" << commandKey;
        return false;
    }
    const std::uint32_t id = kClientEventBase + static_cast<std::uint32_t>(m_clientEventIds.size());
    const SimResult result =
        simConnectFunctions().mapClientEventToSimEvent(m_handle, id, name.toUtf8().constData());
    if (simFailed(result)) {
        reportFailure(QStringLiteral("Failed to map SimConnect event: %1").arg(name), result);
        return false;
    }
    m_clientEventIds.insert(key, id);
    return true;
}

void SimConnectSession::sendCommand(std::uint32_t commandKey, std::uint32_t value) {
    if (!isConnected()) {
        qWarning() << "Cannot send command: not connected";
        return;
    }
    if (!ensureEventMapped(commandKey))
        return;
    const auto key = static_cast<std::uint16_t>(commandKey);
    const SimResult result = simConnectFunctions().transmitClientEvent(
        m_handle, sim::kUserObject, m_clientEventIds.value(key), value, sim::kHighestPriorityGroup,
        sim::kEventGroupIsPriority);
    if (simFailed(result))
        reportFailure(QStringLiteral("Failed to send SimConnect event: %1")
                          .arg(findEventDefinition(m_runtimeProfile, key)),
                      result);
}

void SimConnectSession::subscribePauseEvent() {
    if (!isConnected())
        return;
    // Any pause, active pause included, freezes the user's aircraft.
    const SimResult result = simConnectFunctions().subscribeToSystemEvent(m_handle, kPauseEvent, "Pause_EX1");
    if (simFailed(result))
        reportFailure(QStringLiteral("Failed to subscribe to the pause event"), result);
}

void SimConnectSession::handleEvent(const std::uint8_t* message, std::uint32_t size) {
    std::uint32_t event = 0;
    std::uint32_t data = 0;
    if (!readAt(message, size, 16, event) || !readAt(message, size, 20, data) || event != kPauseEvent)
        return;
    emit simPauseReported(data != 0);
}

} // namespace velk::simulator::msfs
