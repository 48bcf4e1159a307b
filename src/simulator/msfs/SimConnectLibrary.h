#pragma once

#include <QString>

#include <cstdint>

// Our own thin layer over the simulator's client library: the calls the
// session makes, the values it passes, and how the library is found. The
// library is never linked; a SimConnectLoader finds it at run time.
namespace velk::simulator::msfs {

using SimHandle = void*;
using SimResult = std::int32_t; // negative = failure

inline bool simFailed(SimResult result) {
    return result < 0;
}

// What GetNextDispatch answers when no message is waiting; any other failure
// means the connection is gone.
constexpr SimResult kNoMessageWaiting = SimResult(0x80004005u);

// Values passed to and read from the library.
namespace sim {
constexpr std::uint32_t kUserObject = 0;
constexpr std::uint32_t kUnusedDatum = 0xFFFFFFFFu;
constexpr std::uint32_t kLocalConfiguration = 0xFFFFFFFFu; // index -1

constexpr std::uint32_t kTypeInt32 = 1;
constexpr std::uint32_t kTypeFloat64 = 4;
constexpr std::uint32_t kTypeString64 = 7;
constexpr std::uint32_t kTypeString256 = 9;
constexpr std::uint32_t kTypeWaypoint = 14;

constexpr std::uint32_t kPeriodNever = 0;
constexpr std::uint32_t kPeriodOnce = 1;
constexpr std::uint32_t kPeriodSimFrame = 3;
constexpr std::uint32_t kFlagChangedOnly = 1;

constexpr std::uint32_t kObjectTypeAircraft = 2;
constexpr std::uint32_t kHighestPriorityGroup = 1;
constexpr std::uint32_t kEventGroupIsPriority = 16;
constexpr std::uint32_t kWaypointSpeedRequested = 0x4;
constexpr std::uint32_t kWaypointOnGround = 0x100000;
constexpr std::uint32_t kInputEventDouble = 0;

// Received message kinds (the u32 at offset 8 of every message).
constexpr std::uint32_t kRecvException = 1;
constexpr std::uint32_t kRecvOpen = 2;
constexpr std::uint32_t kRecvQuit = 3;
constexpr std::uint32_t kRecvEvent = 4;
constexpr std::uint32_t kRecvObjectData = 8;
constexpr std::uint32_t kRecvObjectDataByType = 9;
constexpr std::uint32_t kRecvAssignedObjectId = 12;
constexpr std::uint32_t kRecvInputEvents = 34;
constexpr std::uint32_t kRecvInputEventValue = 36;
} // namespace sim

// Start state of a new AI aircraft, laid out as the library expects it.
#pragma pack(push, 1)
struct AiInitialPosition {
    double latitude = 0.0; // degrees
    double longitude = 0.0;
    double altitude = 0.0; // feet
    double pitch = 0.0;    // degrees
    double bank = 0.0;
    double heading = 0.0;
    std::uint32_t onGround = 0;
    std::uint32_t airspeed = 0; // knots
};
#pragma pack(pop)
static_assert(sizeof(AiInitialPosition) == 56);

using OpenFn = SimResult (*)(SimHandle* handle, const char* name, void* window, std::uint32_t userEvent,
                             void* eventHandle, std::uint32_t configIndex);
using CloseFn = SimResult (*)(SimHandle handle);
using AddToDataDefinitionFn = SimResult (*)(SimHandle handle, std::uint32_t definitionId,
                                            const char* datumName, const char* unitName,
                                            std::uint32_t dataType, float epsilon, std::uint32_t datumId);
using ClearDataDefinitionFn = SimResult (*)(SimHandle handle, std::uint32_t definitionId);
using RequestDataOnSimObjectFn = SimResult (*)(SimHandle handle, std::uint32_t requestId,
                                               std::uint32_t definitionId, std::uint32_t objectId,
                                               std::uint32_t period, std::uint32_t flags,
                                               std::uint32_t origin, std::uint32_t interval,
                                               std::uint32_t limit);
using RequestDataOnSimObjectTypeFn = SimResult (*)(SimHandle handle, std::uint32_t requestId,
                                                   std::uint32_t definitionId, std::uint32_t radiusMeters,
                                                   std::uint32_t objectType);
using SetDataOnSimObjectFn = SimResult (*)(SimHandle handle, std::uint32_t definitionId,
                                           std::uint32_t objectId, std::uint32_t flags,
                                           std::uint32_t arrayCount, std::uint32_t unitSize, void* data);
using GetNextDispatchFn = SimResult (*)(SimHandle handle, const std::uint8_t** message, std::uint32_t* size);
using MapClientEventToSimEventFn = SimResult (*)(SimHandle handle, std::uint32_t eventId,
                                                 const char* eventName);
using TransmitClientEventFn = SimResult (*)(SimHandle handle, std::uint32_t objectId, std::uint32_t eventId,
                                            std::uint32_t data, std::uint32_t group, std::uint32_t flags);
using SubscribeToSystemEventFn = SimResult (*)(SimHandle handle, std::uint32_t eventId,
                                               const char* eventName);
using AICreateNonATCAircraftFn = SimResult (*)(SimHandle handle, const char* containerTitle,
                                               const char* tailNumber, const AiInitialPosition* position,
                                               std::uint32_t requestId);
using AIRemoveObjectFn = SimResult (*)(SimHandle handle, std::uint32_t objectId, std::uint32_t requestId);
using AICreateNonATCAircraftEx1Fn = SimResult (*)(SimHandle handle, const char* containerTitle,
                                                  const char* livery, const char* tailNumber,
                                                  const AiInitialPosition* position, std::uint32_t requestId);
using EnumerateInputEventsFn = SimResult (*)(SimHandle handle, std::uint32_t requestId);
using SubscribeInputEventFn = SimResult (*)(SimHandle handle, std::uint64_t hash);
using GetLastSentPacketIdFn = SimResult (*)(SimHandle handle, std::uint32_t* sendId);

// The library's calls, looked up once and shared by every session.
struct SimConnectFunctionTable {
    void* module = nullptr;
    QString name; // file name the module was loaded under

    OpenFn open = nullptr;
    CloseFn close = nullptr;
    AddToDataDefinitionFn addToDataDefinition = nullptr;
    ClearDataDefinitionFn clearDataDefinition = nullptr;
    RequestDataOnSimObjectFn requestDataOnSimObject = nullptr;
    RequestDataOnSimObjectTypeFn requestDataOnSimObjectType = nullptr;
    SetDataOnSimObjectFn setDataOnSimObject = nullptr;
    GetNextDispatchFn getNextDispatch = nullptr;
    MapClientEventToSimEventFn mapClientEventToSimEvent = nullptr;
    TransmitClientEventFn transmitClientEvent = nullptr;
    SubscribeToSystemEventFn subscribeToSystemEvent = nullptr;
    AICreateNonATCAircraftFn aiCreateNonAtcAircraft = nullptr;
    AIRemoveObjectFn aiRemoveObject = nullptr;
    // Optional: null when the library lacks them.
    AICreateNonATCAircraftEx1Fn aiCreateNonAtcAircraftEx1 = nullptr;
    EnumerateInputEventsFn enumerateInputEvents = nullptr;
    SubscribeInputEventFn subscribeInputEvent = nullptr;
    // Send id of the last call, which exceptions name; without it no
    // exception can be tied to its call.
    GetLastSentPacketIdFn getLastSentPacketId = nullptr;

    // Sessions connected through the module: while any is, it is neither
    // unloaded nor replaced.
    int users = 0;

    // Null every call and the module (the name stays).
    void clearFunctions();
};

SimConnectFunctionTable& simConnectFunctions();

// Finds and opens the library. The platform's own loader is used unless a
// test installs another.
class SimConnectLoader {
public:
    virtual ~SimConnectLoader() = default;
    // Null and an error code when the file cannot be loaded.
    virtual void* load(const QString& fileName, std::uint32_t& errorCode) = 0;
    virtual void* resolve(void* module, const char* functionName) = 0;
    virtual void unload(void* module) = 0;
};

SimConnectLoader& simConnectLoader();
// The loader of the platform the program was built for: LoadLibraryW on
// Windows; elsewhere one that never finds the library.
SimConnectLoader& platformSimConnectLoader();
// nullptr restores the platform's loader.
void installSimConnectLoader(SimConnectLoader* loader);

} // namespace velk::simulator::msfs
