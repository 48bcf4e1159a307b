#include "support/StandInSimConnect.h"

#include <cstring>

using namespace velk::simulator::msfs;

namespace {

StandInSimConnect* g_current = nullptr;

std::int32_t rec(const char* function, QVariantList args, QByteArray data = {}) {
    if (!g_current)
        return StandInSimConnect::kFailure;
    return g_current->record({QString::fromLatin1(function), std::move(args), std::move(data)});
}

QVariant textArg(const char* text) {
    return text ? QVariant(QString::fromUtf8(text)) : QVariant();
}

QByteArray positionBytes(const AiInitialPosition* position) {
    return position ? QByteArray(reinterpret_cast<const char*>(position), sizeof(*position)) : QByteArray();
}

std::int32_t standInOpen(SimHandle* handle, const char* name, void* window, std::uint32_t userEvent,
                         void* eventHandle, std::uint32_t configIndex) {
    const std::int32_t result = rec("SimConnect_Open", {textArg(name), window == nullptr, userEvent,
                                                        eventHandle == nullptr, configIndex});
    if (result >= 0 && g_current && !g_current->openWithoutHandle)
        *handle = g_current->handle();
    return result;
}
std::int32_t standInClose(SimHandle) {
    return rec("SimConnect_Close", {});
}
std::int32_t standInAdd(SimHandle, std::uint32_t definition, const char* datum, const char* unit,
                        std::uint32_t type, float epsilon, std::uint32_t datumId) {
    return rec("SimConnect_AddToDataDefinition",
               {definition, textArg(datum), textArg(unit), type, epsilon, datumId});
}
std::int32_t standInClear(SimHandle, std::uint32_t definition) {
    return rec("SimConnect_ClearDataDefinition", {definition});
}
std::int32_t standInRequest(SimHandle, std::uint32_t request, std::uint32_t definition, std::uint32_t object,
                            std::uint32_t period, std::uint32_t flags, std::uint32_t origin,
                            std::uint32_t interval, std::uint32_t limit) {
    return rec("SimConnect_RequestDataOnSimObject",
               {request, definition, object, period, flags, origin, interval, limit});
}
std::int32_t standInRequestByType(SimHandle, std::uint32_t request, std::uint32_t definition,
                                  std::uint32_t radius, std::uint32_t type) {
    return rec("SimConnect_RequestDataOnSimObjectType", {request, definition, radius, type});
}
std::int32_t standInSet(SimHandle, std::uint32_t definition, std::uint32_t object, std::uint32_t flags,
                        std::uint32_t count, std::uint32_t unitSize, void* data) {
    return rec("SimConnect_SetDataOnSimObject", {definition, object, flags, count, unitSize},
               QByteArray(static_cast<const char*>(data), qsizetype(unitSize) * count));
}
std::int32_t standInNext(SimHandle, const std::uint8_t** message, std::uint32_t* size) {
    if (g_current && g_current->dispatchFailure != 0)
        return g_current->dispatchFailure;
    // E_FAIL, as the library answers when nothing is waiting.
    if (!g_current || !g_current->nextMessage(message, size))
        return StandInSimConnect::kFailure;
    return 0;
}
std::int32_t standInLastSendId(SimHandle, std::uint32_t* sendId) {
    if (!g_current)
        return StandInSimConnect::kFailure;
    *sendId = g_current->lastSendId();
    return 0;
}
std::int32_t standInMap(SimHandle, std::uint32_t event, const char* name) {
    return rec("SimConnect_MapClientEventToSimEvent", {event, textArg(name)});
}
std::int32_t standInTransmit(SimHandle, std::uint32_t object, std::uint32_t event, std::uint32_t data,
                             std::uint32_t group, std::uint32_t flags) {
    return rec("SimConnect_TransmitClientEvent", {object, event, data, group, flags});
}
std::int32_t standInSystemEvent(SimHandle, std::uint32_t event, const char* name) {
    return rec("SimConnect_SubscribeToSystemEvent", {event, textArg(name)});
}
std::int32_t standInCreate(SimHandle, const char* title, const char* tail, const AiInitialPosition* position,
                           std::uint32_t request) {
    const std::int32_t result = rec("SimConnect_AICreateNonATCAircraft",
                                    {textArg(title), textArg(tail), request}, positionBytes(position));
    if (result >= 0 && g_current)
        g_current->answerCreate(QString::fromUtf8(title), request);
    return result;
}
std::int32_t standInRemove(SimHandle, std::uint32_t object, std::uint32_t request) {
    return rec("SimConnect_AIRemoveObject", {object, request});
}
std::int32_t standInCreateEx1(SimHandle, const char* title, const char* livery, const char* tail,
                              const AiInitialPosition* position, std::uint32_t request) {
    const std::int32_t result =
        rec("SimConnect_AICreateNonATCAircraft_EX1",
            {textArg(title), textArg(livery), textArg(tail), request}, positionBytes(position));
    if (result >= 0 && g_current)
        g_current->answerCreate(QString::fromUtf8(title), request);
    return result;
}
std::int32_t standInEnumerate(SimHandle, std::uint32_t request) {
    return rec("SimConnect_EnumerateInputEvents", {request});
}
std::int32_t standInSubscribeInput(SimHandle, std::uint64_t hash) {
    return rec("SimConnect_SubscribeInputEvent", {QVariant::fromValue<qulonglong>(hash)});
}

const QHash<QString, void*>& entryPoints() {
    static const QHash<QString, void*> table = {
        {"SimConnect_Open", reinterpret_cast<void*>(&standInOpen)},
        {"SimConnect_Close", reinterpret_cast<void*>(&standInClose)},
        {"SimConnect_AddToDataDefinition", reinterpret_cast<void*>(&standInAdd)},
        {"SimConnect_ClearDataDefinition", reinterpret_cast<void*>(&standInClear)},
        {"SimConnect_RequestDataOnSimObject", reinterpret_cast<void*>(&standInRequest)},
        {"SimConnect_RequestDataOnSimObjectType", reinterpret_cast<void*>(&standInRequestByType)},
        {"SimConnect_SetDataOnSimObject", reinterpret_cast<void*>(&standInSet)},
        {"SimConnect_GetNextDispatch", reinterpret_cast<void*>(&standInNext)},
        {"SimConnect_MapClientEventToSimEvent", reinterpret_cast<void*>(&standInMap)},
        {"SimConnect_TransmitClientEvent", reinterpret_cast<void*>(&standInTransmit)},
        {"SimConnect_SubscribeToSystemEvent", reinterpret_cast<void*>(&standInSystemEvent)},
        {"SimConnect_AICreateNonATCAircraft", reinterpret_cast<void*>(&standInCreate)},
        {"SimConnect_AIRemoveObject", reinterpret_cast<void*>(&standInRemove)},
        {"SimConnect_AICreateNonATCAircraft_EX1", reinterpret_cast<void*>(&standInCreateEx1)},
        {"SimConnect_EnumerateInputEvents", reinterpret_cast<void*>(&standInEnumerate)},
        {"SimConnect_SubscribeInputEvent", reinterpret_cast<void*>(&standInSubscribeInput)},
        {"SimConnect_GetLastSentPacketID", reinterpret_cast<void*>(&standInLastSendId)},
    };
    return table;
}

template <typename T> void put(QByteArray& bytes, int offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

} // namespace

StandInSimConnect::StandInSimConnect() {
    g_current = this;
    installSimConnectLoader(this);
}

StandInSimConnect::~StandInSimConnect() {
    installSimConnectLoader(nullptr);
    g_current = nullptr;
    // The process-wide table must not point into a stand-in that is gone.
    simConnectFunctions().clearFunctions();
    simConnectFunctions().name.clear();
    simConnectFunctions().users = 0;
}

void StandInSimConnect::fail(const QString& function, int times, std::function<bool(const Call&)> when) {
    m_failures.append({function, times, std::move(when)});
}

QList<StandInSimConnect::Call> StandInSimConnect::callsOf(const QString& function) const {
    QList<Call> result;
    for (const Call& call : calls) {
        if (call.function == function)
            result.append(call);
    }
    return result;
}

std::int32_t StandInSimConnect::record(Call call) {
    call.sendId = ++m_sendId;
    calls.append(call);
    for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
        if (it->function != call.function || it->remaining <= 0 || (it->when && !it->when(call)))
            continue;
        --it->remaining;
        return kFailure;
    }
    return 0;
}

void StandInSimConnect::answerCreate(const QString& title, std::uint32_t requestId) {
    if (!answerCreates)
        return;
    if (!knownTitles.isEmpty() && !knownTitles.contains(title))
        queue(exceptionMessage(22, m_sendId, 0));
    else
        queue(assignedObjectIdMessage(requestId, nextObjectId++));
}

bool StandInSimConnect::nextMessage(const std::uint8_t** message, std::uint32_t* size) {
    if (m_queue.isEmpty())
        return false;
    const QByteArray bytes = m_queue.takeFirst();
    m_current.reset(new std::uint8_t[std::max<qsizetype>(bytes.size(), 1)]);
    std::memcpy(m_current.get(), bytes.constData(), size_t(bytes.size()));
    *message = m_current.get();
    *size = std::uint32_t(bytes.size());
    return true;
}

void* StandInSimConnect::load(const QString& fileName, std::uint32_t& errorCode) {
    if (!files.contains(fileName)) {
        errorCode = loadError;
        return nullptr;
    }
    ++loads;
    auto& module = m_modules[fileName];
    if (!module)
        module = std::make_shared<QString>(fileName);
    return module.get();
}

void* StandInSimConnect::resolve(void* module, const char* functionName) {
    ++lookups;
    const QString file = *static_cast<QString*>(module);
    const QString name = QString::fromLatin1(functionName);
    if (missingFunctions.value(file).contains(name))
        return nullptr;
    return entryPoints().value(name);
}

void StandInSimConnect::unload(void* module) {
    if (module)
        ++unloads;
}

QByteArray StandInSimConnect::header(std::uint32_t id, std::uint32_t size) {
    QByteArray bytes(int(size), '\0');
    if (size >= 4)
        put(bytes, 0, size);
    if (size >= 12)
        put(bytes, 8, id);
    return bytes;
}

QByteArray StandInSimConnect::openMessage(const QByteArray& appName, std::array<std::uint32_t, 4> appVersion,
                                          std::array<std::uint32_t, 4> libVersion) {
    QByteArray bytes = header(2, 308);
    std::memcpy(bytes.data() + 12, appName.constData(), size_t(std::min<qsizetype>(appName.size(), 256)));
    for (int i = 0; i < 4; ++i) {
        put(bytes, 268 + 4 * i, appVersion[size_t(i)]);
        put(bytes, 284 + 4 * i, libVersion[size_t(i)]);
    }
    return bytes;
}

QByteArray StandInSimConnect::quitMessage() {
    return header(3, 12);
}

QByteArray StandInSimConnect::exceptionMessage(std::uint32_t exception, std::uint32_t sendId,
                                               std::uint32_t index) {
    QByteArray bytes = header(1, 24);
    put(bytes, 12, exception);
    put(bytes, 16, sendId);
    put(bytes, 20, index);
    return bytes;
}

QByteArray StandInSimConnect::objectDataMessage(std::uint32_t requestId, const QByteArray& payload) {
    QByteArray bytes = header(8, 40);
    put(bytes, 12, requestId);
    bytes += payload;
    put(bytes, 0, std::uint32_t(bytes.size()));
    return bytes;
}

QByteArray StandInSimConnect::byTypeMessage(std::uint32_t requestId, std::uint32_t objectId,
                                            std::uint32_t entry, std::uint32_t outOf,
                                            const QByteArray& payload) {
    QByteArray bytes = header(9, 40);
    put(bytes, 12, requestId);
    put(bytes, 16, objectId);
    put(bytes, 28, entry);
    put(bytes, 32, outOf);
    bytes += payload;
    put(bytes, 0, std::uint32_t(bytes.size()));
    return bytes;
}

QByteArray StandInSimConnect::eventMessage(std::uint32_t eventId, std::uint32_t data) {
    QByteArray bytes = header(4, 24);
    put(bytes, 12, std::uint32_t(0xFFFFFFFFu));
    put(bytes, 16, eventId);
    put(bytes, 20, data);
    return bytes;
}

QByteArray StandInSimConnect::assignedObjectIdMessage(std::uint32_t requestId, std::uint32_t objectId) {
    QByteArray bytes = header(12, 20);
    put(bytes, 12, requestId);
    put(bytes, 16, objectId);
    return bytes;
}

QByteArray StandInSimConnect::inputEventsMessage(std::uint32_t requestId, const QList<InputEvent>& events) {
    QByteArray bytes = header(34, 28);
    put(bytes, 12, requestId);
    put(bytes, 16, std::uint32_t(events.size()));
    for (const InputEvent& event : events) {
        QByteArray descriptor = text(event.name, 64);
        descriptor.append(reinterpret_cast<const char*>(&event.hash), 8);
        descriptor.append(reinterpret_cast<const char*>(&event.type), 4);
        bytes += descriptor;
    }
    put(bytes, 0, std::uint32_t(bytes.size()));
    return bytes;
}

QByteArray StandInSimConnect::inputEventValueMessage(std::uint64_t hash, std::uint32_t type, double value) {
    QByteArray bytes = header(36, 32);
    put(bytes, 12, hash);
    put(bytes, 20, type);
    put(bytes, 24, value);
    return bytes;
}

QList<QByteArray> StandInSimConnect::trafficReply(const QList<TrafficRow>& rows, std::uint32_t requestId) {
    if (rows.isEmpty())
        return {byTypeMessage(requestId, 0, 0, 0, {})};
    QList<QByteArray> messages;
    const auto outOf = std::uint32_t(rows.size());
    for (std::uint32_t i = 0; i < outOf; ++i) {
        const TrafficRow& row = rows[qsizetype(i)];
        messages.append(byTypeMessage(requestId, row.objectId, i + 1, outOf,
                                      text(row.atcId, 64) + f64(row.latitude) + f64(row.longitude)));
    }
    return messages;
}

QByteArray StandInSimConnect::f64(double value) {
    return QByteArray(reinterpret_cast<const char*>(&value), 8);
}

QByteArray StandInSimConnect::i32(std::int32_t value) {
    return QByteArray(reinterpret_cast<const char*>(&value), 4);
}

QByteArray StandInSimConnect::text(const QByteArray& value, int width) {
    QByteArray bytes = value.left(width);
    bytes.append(QByteArray(width - bytes.size(), '\0'));
    return bytes;
}
