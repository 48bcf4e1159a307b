#include "simulator/msfs/SimConnectSession.h"

#include <QDebug>
#include <QMetaType>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace velk::simulator::msfs {

namespace {

const QString kLibrary2024 = QStringLiteral("SimConnect2024.dll");
const QString kLibrary2020 = QStringLiteral("SimConnect.dll");

// Offsets of the fields read from received messages.
constexpr std::uint32_t kIdOffset = 8;
constexpr std::uint32_t kDataOffset = 40;
constexpr std::uint32_t kOpenSize = 300;
constexpr std::uint32_t kTitleBytes = 256;
constexpr std::uint32_t kTrafficRowSize = 120;
constexpr std::uint32_t kAtcIdBytes = 64;
constexpr std::uint32_t kInputDescriptorsOffset = 28;
constexpr std::uint32_t kInputDescriptorSize = 76;
constexpr std::uint32_t kInputNameBytes = 64;
constexpr std::uint32_t kWaypointSize = 44;
constexpr int kTailNumberLength = 11;

// Reads a T at offset when the message holds all of its bytes.
template <typename T>
bool readAt(const std::uint8_t* message, std::uint32_t size, std::uint64_t offset, T& out) {
    if (offset + sizeof(T) > size)
        return false;
    std::memcpy(&out, message + offset, sizeof(T));
    return true;
}

// A fixed-width text field up to its first NUL.
QByteArray fixedText(const std::uint8_t* field, std::size_t width) {
    const auto* begin = reinterpret_cast<const char*>(field);
    const auto* nul = static_cast<const char*>(std::memchr(begin, 0, width));
    return QByteArray(begin, nul ? nul - begin : static_cast<qsizetype>(width));
}

QString hex(SimResult result) {
    return QString::number(static_cast<std::uint32_t>(result), 16);
}

QString withResult(const QString& text, SimResult result) {
    return QStringLiteral("%1 (HRESULT: 0x%2)").arg(text, hex(result));
}

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

// Knots as the whole, non-negative number the create calls take.
std::uint32_t wholeKnots(double knots) {
    if (!(knots > 0.0))
        return 0;
    if (knots >= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))
        return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(knots);
}

const char* exceptionName(std::uint32_t id) {
    switch (id) {
    case 1:
        return "ERROR";
    case 2:
        return "SIZE_MISMATCH";
    case 3:
        return "UNRECOGNIZED_ID";
    case 4:
        return "UNOPENED";
    case 5:
        return "VERSION_MISMATCH";
    case 6:
        return "TOO_MANY_GROUPS";
    case 7:
        return "NAME_UNRECOGNIZED";
    case 8:
        return "TOO_MANY_EVENT_NAMES";
    case 9:
        return "EVENT_ID_DUPLICATE";
    case 10:
        return "TOO_MANY_MAPS";
    case 11:
        return "TOO_MANY_OBJECTS";
    case 12:
        return "TOO_MANY_REQUESTS";
    case 18:
        return "INVALID_DATA_TYPE";
    case 19:
        return "INVALID_DATA_SIZE";
    case 20:
        return "DATA_ERROR";
    case 21:
        return "INVALID_ARRAY";
    case 22:
        return "CREATE_OBJECT_FAILED";
    case 24:
        return "OPERATION_INVALID_FOR_OBJECT_TYPE";
    case 25:
        return "ILLEGAL_OPERATION";
    case 27:
        return "INVALID_ENUM";
    case 28:
        return "DEFINITION_ERROR";
    case 29:
        return "DUPLICATE_ID";
    case 30:
        return "DATUM_ID";
    case 31:
        return "OUT_OF_BOUNDS";
    case 32:
        return "ALREADY_CREATED";
    case 33:
        return "OBJECT_OUTSIDE_REALITY_BUBBLE";
    case 34:
        return "OBJECT_CONTAINER";
    case 35:
        return "OBJECT_AI";
    case 36:
        return "OBJECT_ATC";
    case 37:
        return "OBJECT_SCHEDULE";
    case 38:
        return "JETWAY_DATA";
    case 44:
        return "INTERNAL";
    default:
        return "UNKNOWN";
    }
}

template <typename Fn>
void lookUp(SimConnectLoader& loader, void* module, const char* name, Fn& slot, const char*& firstMissing) {
    if (firstMissing)
        return;
    slot = reinterpret_cast<Fn>(loader.resolve(module, name));
    if (!slot)
        firstMissing = name;
}

template <typename Fn>
void lookUpOptional(SimConnectLoader& loader, void* module, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(loader.resolve(module, name));
}

} // namespace

SimConnectSession::SimConnectSession(QObject* parent) : QObject(parent) {
    qRegisterMetaType<MsfsRuntimeProfile>("velk::simulator::msfs::MsfsRuntimeProfile");
    qRegisterMetaType<SimConnectError>("velk::simulator::msfs::SimConnectError");
    qRegisterMetaType<UpdateGroup>("velk::simulator::msfs::UpdateGroup");
    m_dispatchTimer.setInterval(50);
    m_snapshotTimer.setInterval(1000);
    connect(&m_dispatchTimer, &QTimer::timeout, this, &SimConnectSession::dispatchPump);
    connect(&m_snapshotTimer, &QTimer::timeout, this, &SimConnectSession::requestTrafficSnapshot);
}

SimConnectSession::~SimConnectSession() {
    disconnect();
}

// ---------------------------------------------------------------- connection

bool SimConnectSession::connectToSimulator() {
    if (isConnected()) {
        qWarning() << "SimConnect already connected";
        return true;
    }
    QStringList failures;
    for (const QString& candidate : {kLibrary2024, kLibrary2020}) {
        if (!tryCandidate(candidate, failures))
            continue;
        const QString name = simConnectFunctions().name;
        const auto profile = name.compare(kLibrary2024, Qt::CaseInsensitive) == 0
                                 ? MsfsRuntimeProfile::Msfs2024
                                 : MsfsRuntimeProfile::Msfs2020;
        setRuntimeProfile(profile, QStringLiteral("loaded DLL %1").arg(name));
        m_inputEventNames.clear();
        m_subscribedInputEvents.clear();
        m_dispatchTimer.start();
        qInfo().noquote() << "SimConnect connection established via" << name << "for runtime profile"
                          << profileLabel(m_runtimeProfile);
        emit connected();
        return true;
    }
    const QString message =
        QStringLiteral("Failed to connect to MSFS via SimConnect: %1").arg(failures.join("; "));
    qCritical().noquote() << message;
    emit errorOccurred(SimConnectError::ConnectFailed, message);
    return false;
}

bool SimConnectSession::tryCandidate(const QString& fileName, QStringList& failures) {
    SimConnectFunctionTable& table = simConnectFunctions();
    SimConnectLoader& loader = simConnectLoader();
    const auto dropLibrary = [&] {
        loader.unload(table.module);
        table.clearFunctions();
        table.name.clear();
    };

    if (!table.module || table.name != fileName) {
        if (table.module)
            loader.unload(table.module);
        table.clearFunctions();
        table.name = fileName;
        std::uint32_t errorCode = 0;
        void* module = loader.load(fileName, errorCode);
        if (!module) {
            table.name.clear();
            failures << QStringLiteral("Failed to load %1 (Win32 error %2)").arg(fileName).arg(errorCode);
            return false;
        }
        table.module = module;

        const char* missing = nullptr;
        lookUp(loader, module, "SimConnect_Open", table.open, missing);
        lookUp(loader, module, "SimConnect_Close", table.close, missing);
        lookUp(loader, module, "SimConnect_AddToDataDefinition", table.addToDataDefinition, missing);
        lookUp(loader, module, "SimConnect_ClearDataDefinition", table.clearDataDefinition, missing);
        lookUp(loader, module, "SimConnect_RequestDataOnSimObject", table.requestDataOnSimObject, missing);
        lookUp(loader, module, "SimConnect_RequestDataOnSimObjectType", table.requestDataOnSimObjectType,
               missing);
        lookUp(loader, module, "SimConnect_SetDataOnSimObject", table.setDataOnSimObject, missing);
        lookUp(loader, module, "SimConnect_GetNextDispatch", table.getNextDispatch, missing);
        lookUp(loader, module, "SimConnect_MapClientEventToSimEvent", table.mapClientEventToSimEvent,
               missing);
        lookUp(loader, module, "SimConnect_TransmitClientEvent", table.transmitClientEvent, missing);
        lookUp(loader, module, "SimConnect_SubscribeToSystemEvent", table.subscribeToSystemEvent, missing);
        lookUp(loader, module, "SimConnect_AICreateNonATCAircraft", table.aiCreateNonAtcAircraft, missing);
        lookUp(loader, module, "SimConnect_AIRemoveObject", table.aiRemoveObject, missing);
        if (missing) {
            failures << QStringLiteral("Failed to resolve %1 from %2").arg(QLatin1String(missing), fileName);
            dropLibrary();
            return false;
        }
        lookUpOptional(loader, module, "SimConnect_AICreateNonATCAircraft_EX1",
                       table.aiCreateNonAtcAircraftEx1);
        lookUpOptional(loader, module, "SimConnect_EnumerateInputEvents", table.enumerateInputEvents);
        lookUpOptional(loader, module, "SimConnect_SubscribeInputEvent", table.subscribeInputEvent);
    }

    SimHandle handle = nullptr;
    const SimResult result =
        table.open(&handle, "VELK Client", nullptr, 0, nullptr, sim::kLocalConfiguration);
    if (simFailed(result) || !handle) {
        // A "successful" open without a handle is no connection either.
        failures << QStringLiteral("%1 open failed with HRESULT 0x%2").arg(fileName, hex(result));
        dropLibrary();
        return false;
    }
    m_handle = handle;
    return true;
}

void SimConnectSession::disconnect() {
    if (!isConnected())
        return;
    m_dispatchTimer.stop();
    m_snapshotTimer.stop();
    if (simConnectFunctions().close)
        simConnectFunctions().close(m_handle);
    m_handle = nullptr;
    m_subscribedGroups.clear();
    m_msfsVersion.clear();
    m_simConnectVersion.clear();
    m_runtimeProfile = MsfsRuntimeProfile::Unknown;
    m_definitionsRegistered = false;
    m_bindings.clear();
    m_groupIndex.clear();
    m_keyIndex.clear();
    m_clientEventIds.clear();
    m_inputEventNames.clear();
    m_subscribedInputEvents.clear();
    m_trafficDefinitionRegistered = false;
    m_waypointDefinitionRegistered = false;
    m_pendingContacts.clear();
    m_userTitleDefinitionRegistered = false;
    m_userTitleRequested = false;
    qInfo() << "SimConnect disconnected";
    emit disconnected();
}

void SimConnectSession::reportFailure(const QString& text, SimResult result) {
    qCritical().noquote() << withResult(text, result);
    emit errorOccurred(SimConnectError::RequestFailed, text);
}

void SimConnectSession::setRuntimeProfile(MsfsRuntimeProfile profile, const QString& source) {
    if (profile == MsfsRuntimeProfile::Unknown || profile == m_runtimeProfile)
        return;
    const MsfsRuntimeProfile old = m_runtimeProfile;
    const bool reregister = m_definitionsRegistered && isConnected();
    m_runtimeProfile = profile;

    if (reregister) {
        const SimConnectFunctionTable& t = simConnectFunctions();
        const QList<UpdateGroup> subscribed = m_subscribedGroups.keys();
        for (UpdateGroup group : subscribed)
            unsubscribeDataGroup(group);
        QList<UpdateGroup> defined;
        for (const SimVarBinding& binding : std::as_const(m_bindings)) {
            if (!defined.contains(binding.group))
                defined.append(binding.group);
        }
        for (UpdateGroup group : std::as_const(defined))
            t.clearDataDefinition(m_handle, static_cast<std::uint32_t>(group));
        if (m_trafficDefinitionRegistered) {
            t.clearDataDefinition(m_handle, kTrafficDefinition);
            m_trafficDefinitionRegistered = false;
        }
        if (m_userTitleDefinitionRegistered) {
            t.clearDataDefinition(m_handle, kUserTitleDefinition);
            m_userTitleDefinitionRegistered = false;
            m_userTitleRequested = false;
        }
        m_definitionsRegistered = false;
    }

    rebuildBindings();
    qInfo().noquote() << QStringLiteral("MSFS runtime profile %1 -> %2 from %3")
                             .arg(profileLabel(old), profileLabel(profile), source);
    emit runtimeProfileDetected(profile);

    if (reregister && isConnected()) {
        registerDataDefinitions();
        for (std::uint8_t group = 0; group <= 3; ++group)
            subscribeDataGroup(static_cast<UpdateGroup>(group));
        enumerateInputEvents();
    }
}

void SimConnectSession::dispatchPump() {
    if (!isConnected() || !simConnectFunctions().getNextDispatch)
        return;
    while (isConnected()) {
        const std::uint8_t* message = nullptr;
        std::uint32_t size = 0;
        const SimResult result = simConnectFunctions().getNextDispatch(m_handle, &message, &size);
        if (simFailed(result) || !message)
            break;
        std::uint32_t id = 0;
        if (!readAt(message, size, kIdOffset, id))
            continue; // too short to name its kind
        switch (id) {
        case sim::kRecvException:
            handleException(message, size);
            break;
        case sim::kRecvOpen:
            handleOpen(message, size);
            break;
        case sim::kRecvQuit:
            handleQuit();
            break;
        case sim::kRecvObjectData:
            handleSimObjectData(message, size);
            break;
        case sim::kRecvObjectDataByType:
            handleTrafficSnapshot(message, size);
            break;
        case sim::kRecvAssignedObjectId:
            handleAssignedObjectId(message, size);
            break;
        case sim::kRecvInputEvents:
            handleInputEvents(message, size);
            break;
        case sim::kRecvInputEventValue:
            handleInputEventValue(message, size);
            break;
        default:
            break;
        }
    }
}

void SimConnectSession::handleOpen(const std::uint8_t* message, std::uint32_t size) {
    if (size < kOpenSize)
        return;
    std::array<std::uint32_t, 4> app{};
    std::array<std::uint32_t, 4> lib{};
    for (std::size_t i = 0; i < 4; ++i) {
        readAt(message, size, 268 + 4 * i, app[i]);
        readAt(message, size, 284 + 4 * i, lib[i]);
    }
    const auto dotted = [](const std::array<std::uint32_t, 4>& v) {
        return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    };
    m_msfsVersion = dotted(app);
    m_simConnectVersion = dotted(lib);
    qInfo().noquote() << "MSFS Version:" << m_msfsVersion;
    qInfo().noquote() << "SimConnect Version:" << m_simConnectVersion;

    const QString appName = QString::fromLatin1(fixedText(message + 12, 256)).trimmed();
    const auto has = [&](const char* text) {
        return appName.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    MsfsRuntimeProfile detected = MsfsRuntimeProfile::Unknown;
    if (has("2024") || has("Limitless") || app[0] >= 2)
        detected = MsfsRuntimeProfile::Msfs2024;
    else if (has("2020") || has("Flight Simulator") || app[0] == 1)
        detected = MsfsRuntimeProfile::Msfs2020;
    if (detected != MsfsRuntimeProfile::Unknown)
        setRuntimeProfile(detected,
                          QStringLiteral("SimConnect open app=%1 version=%2").arg(appName, m_msfsVersion));

    emit msfsVersionDetected(m_msfsVersion);
    emit simConnectVersionDetected(m_simConnectVersion);
}

void SimConnectSession::handleQuit() {
    qInfo() << "MSFS quit detected";
    disconnect();
}

void SimConnectSession::handleException(const std::uint8_t* message, std::uint32_t size) {
    std::uint32_t id = 0;
    std::uint32_t sendId = 0;
    std::uint32_t index = 0;
    if (!readAt(message, size, 12, id) || !readAt(message, size, 16, sendId) ||
        !readAt(message, size, 20, index))
        return;
    const QString name = QLatin1String(exceptionName(id));
    qCritical().noquote() << QStringLiteral("SimConnect exception: %1 (%2), SendID=%3, Index=%4")
                                 .arg(id)
                                 .arg(name)
                                 .arg(sendId)
                                 .arg(index);
    const auto switchTrafficOff = [&] {
        qWarning().noquote() << QStringLiteral("Disabling traffic mapping after SimConnect exception %1 (%2)")
                                    .arg(id)
                                    .arg(name);
        setTrafficSnapshotEnabled(false);
    };
    switch (id) {
    case 3:
        qWarning().noquote()
            << QStringLiteral("Ignoring non-fatal SimConnect UNRECOGNIZED_ID exception (SendID=%1, Index=%2)")
                   .arg(sendId)
                   .arg(index);
        return;
    case 20:
        qWarning().noquote()
            << QStringLiteral("Ignoring non-fatal SimConnect DATA_ERROR exception (SendID=%1, Index=%2)")
                   .arg(sendId)
                   .arg(index);
        return;
    case 22:
        qWarning() << "Ignoring non-fatal CREATE_OBJECT_FAILED to keep SimConnect session alive";
        emit remoteAircraftCreateFailed();
        return;
    case 7:
        if (m_trafficSnapshotEnabled && (m_trafficDefinitionRegistered || m_snapshotTimer.isActive())) {
            switchTrafficOff();
        } else {
            qWarning().noquote() << QStringLiteral(
                                        "Ignoring non-fatal SimConnect NAME_UNRECOGNIZED exception "
                                        "(SendID=%1, Index=%2)")
                                        .arg(sendId)
                                        .arg(index);
        }
        return;
    case 28:
    case 30:
        if (m_trafficSnapshotEnabled) {
            switchTrafficOff();
            return;
        }
        break;
    default:
        break;
    }
    emit errorOccurred(SimConnectError::RequestFailed,
                       QStringLiteral("SimConnect exception code: %1 (%2)").arg(id).arg(name));
}

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
    const SimResult result = simConnectFunctions().requestDataOnSimObject(
        m_handle, id, id, sim::kUserObject, sim::kPeriodSimFrame, sim::kFlagChangedOnly, 0, 0, 0);
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
        if (size < kDataOffset + kTitleBytes)
            return;
        const QString title = QString::fromUtf8(fixedText(message + kDataOffset, kTitleBytes)).trimmed();
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
            if (offset + kTitleBytes <= size) {
                raw = QString::fromUtf8(fixedText(message + offset, kTitleBytes));
                offset += kTitleBytes;
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
        std::array<char, kTitleBytes> text{};
        const QByteArray bytes = utf8Prefix(simValue.toString(), kTitleBytes - 1);
        std::memcpy(text.data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
        set = t.setDataOnSimObject(handle, definition, objectId, 0, 1, kTitleBytes, text.data());
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

// ---------------------------------------------------------------- AI objects

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
            emit remoteAircraftCreateFailed();
            return;
        }
    }
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
    if (entry == 0)
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
    if (std::uint64_t(entry) + 1 >= outOf) {
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
