// SimConnect session: the library, the connection, the dispatch pump and the
// open, quit and exception messages.
#include "simulator/msfs/SimConnectSession.h"
#include "simulator/msfs/SimConnectWire.h"

#include <QDebug>
#include <QMetaType>

#include <algorithm>
#include <array>

namespace velk::simulator::msfs {

using namespace wire;

namespace {

const QString kLibrary2024 = QStringLiteral("SimConnect2024.dll");
const QString kLibrary2020 = QStringLiteral("SimConnect.dll");
constexpr std::uint32_t kOpenSize = 300;

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
        ++simConnectFunctions().users;
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
        if (table.module && table.users > 0) {
            // Another session calls through the loaded library: it stays.
            failures << QStringLiteral("%1 not loaded: %2 is in use").arg(fileName, table.name);
            return false;
        }
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
        lookUpOptional(loader, module, "SimConnect_GetLastSentPacketID", table.getLastSentPacketId);
    }

    SimHandle handle = nullptr;
    const SimResult result =
        table.open(&handle, "VELK Client", nullptr, 0, nullptr, sim::kLocalConfiguration);
    if (simFailed(result) || !handle) {
        // A "successful" open without a handle is no connection either.
        failures << (simFailed(result)
                         ? QStringLiteral("%1 open failed with HRESULT 0x%2").arg(fileName, hex(result))
                         : QStringLiteral("%1 open returned no handle").arg(fileName));
        if (table.users == 0)
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
    SimConnectFunctionTable& table = simConnectFunctions();
    if (table.close)
        table.close(m_handle);
    m_handle = nullptr;
    table.users = std::max(0, table.users - 1);
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
    m_createSendIds.clear();
    m_trafficSendIds.fill(0);
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
        if (simFailed(result) && result != kNoMessageWaiting) {
            qWarning().noquote() << QStringLiteral(
                                        "SimConnect dispatch failed (HRESULT: 0x%1); the connection is lost")
                                        .arg(hex(result));
            disconnect();
            break;
        }
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
        case sim::kRecvEvent:
            handleEvent(message, size);
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
    // MSFS 2020 names itself "KittyHawk" with version 11; anything else
    // leaves the profile the library's file name gave.
    MsfsRuntimeProfile detected = MsfsRuntimeProfile::Unknown;
    if (has("KittyHawk") || app[0] == 11)
        detected = MsfsRuntimeProfile::Msfs2020;
    else if (app[0] >= 12 || has("2024") || has("Limitless"))
        detected = MsfsRuntimeProfile::Msfs2024;
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
    const std::uint32_t createRequest = takeCreateRequest(sendId);
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
        emit remoteAircraftCreateFailed(createRequest);
        return;
    case 7:
        if (concernsTraffic(id, sendId)) {
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
        if (concernsTraffic(id, sendId)) {
            switchTrafficOff();
            return;
        }
        break;
    default:
        break;
    }
    // A creation the simulator refused for another reason has failed as well.
    if (createRequest != 0)
        emit remoteAircraftCreateFailed(createRequest);
    emit errorOccurred(SimConnectError::RequestFailed,
                       QStringLiteral("SimConnect exception code: %1 (%2)").arg(id).arg(name));
}

// ---------------------------------------------------------------- send ids

std::uint32_t SimConnectSession::lastSendId() const {
    const SimConnectFunctionTable& t = simConnectFunctions();
    std::uint32_t sendId = 0;
    if (!isConnected() || !t.getLastSentPacketId || simFailed(t.getLastSentPacketId(m_handle, &sendId)))
        return 0;
    return sendId;
}

void SimConnectSession::rememberCreateCall(std::uint32_t requestId) {
    const std::uint32_t sendId = lastSendId();
    if (sendId == 0)
        return;
    // Creations the simulator never answers must not pile up.
    if (m_createSendIds.size() >= kRememberedCreations)
        m_createSendIds.removeFirst();
    m_createSendIds.append({sendId, requestId});
}

void SimConnectSession::forgetCreateCall(std::uint32_t requestId) {
    m_createSendIds.removeIf([requestId](const auto& entry) { return entry.second == requestId; });
}

std::uint32_t SimConnectSession::takeCreateRequest(std::uint32_t sendId) {
    for (qsizetype i = 0; sendId != 0 && i < m_createSendIds.size(); ++i) {
        if (m_createSendIds[i].first == sendId)
            return m_createSendIds.takeAt(i).second;
    }
    return 0;
}

void SimConnectSession::rememberTrafficCall() {
    m_trafficSendIds[m_nextTrafficSlot] = lastSendId();
    m_nextTrafficSlot = (m_nextTrafficSlot + 1) % m_trafficSendIds.size();
}

bool SimConnectSession::concernsTraffic(std::uint32_t exception, std::uint32_t sendId) const {
    if (!m_trafficSnapshotEnabled)
        return false;
    if (simConnectFunctions().getLastSentPacketId)
        return sendId != 0 &&
               std::find(m_trafficSendIds.begin(), m_trafficSendIds.end(), sendId) != m_trafficSendIds.end();
    // A library without send ids: the traffic calls are the likely culprit.
    return exception != 7 || m_trafficDefinitionRegistered || m_snapshotTimer.isActive();
}

} // namespace velk::simulator::msfs
