#include "simulator/msfs/SimConnectLibrary.h"

namespace velk::simulator::msfs {

void SimConnectFunctionTable::clearFunctions() {
    module = nullptr;
    open = nullptr;
    close = nullptr;
    addToDataDefinition = nullptr;
    clearDataDefinition = nullptr;
    requestDataOnSimObject = nullptr;
    requestDataOnSimObjectType = nullptr;
    setDataOnSimObject = nullptr;
    getNextDispatch = nullptr;
    mapClientEventToSimEvent = nullptr;
    transmitClientEvent = nullptr;
    subscribeToSystemEvent = nullptr;
    aiCreateNonAtcAircraft = nullptr;
    aiRemoveObject = nullptr;
    aiCreateNonAtcAircraftEx1 = nullptr;
    enumerateInputEvents = nullptr;
    subscribeInputEvent = nullptr;
    getLastSentPacketId = nullptr;
}

SimConnectFunctionTable& simConnectFunctions() {
    static SimConnectFunctionTable table;
    return table;
}

namespace {

#ifndef _WIN32
// The simulator's client library only exists on Windows; elsewhere there is
// never anything to load, so the MSFS back end fails its connect cleanly.
class NoLibraryLoader final : public SimConnectLoader {
public:
    void* load(const QString&, std::uint32_t& errorCode) override {
        errorCode = 126; // module not found
        return nullptr;
    }
    void* resolve(void*, const char*) override { return nullptr; }
    void unload(void*) override {}
};
#endif

SimConnectLoader*& installedLoader() {
    static SimConnectLoader* loader = nullptr;
    return loader;
}

} // namespace

#ifndef _WIN32
SimConnectLoader& platformSimConnectLoader() {
    static NoLibraryLoader loader;
    return loader;
}
#endif

SimConnectLoader& simConnectLoader() {
    SimConnectLoader* loader = installedLoader();
    return loader ? *loader : platformSimConnectLoader();
}

void installSimConnectLoader(SimConnectLoader* loader) {
    installedLoader() = loader;
}

} // namespace velk::simulator::msfs
