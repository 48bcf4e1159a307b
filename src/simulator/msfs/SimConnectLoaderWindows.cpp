// The SimConnect loader of Windows builds: the simulator's client library is
// found by its plain file name, so the system's search order applies.
#ifdef _WIN32

#include "simulator/msfs/SimConnectLibrary.h"

#include <windows.h>

namespace velk::simulator::msfs {

// The function types of SimConnectLibrary.h hold only on 64-bit Windows: they
// carry no calling convention (x64 has one), and the create calls take the
// initial position by address where the library takes the 56-byte structure
// by value, which x64 passes as the address of a copy. A 32-bit build would
// call with the wrong convention and the wrong stack layout.
static_assert(sizeof(void*) == 8, "SimConnect is called with the Windows x64 convention only");
static_assert(sizeof(HRESULT) == sizeof(SimResult) && sizeof(DWORD) == sizeof(std::uint32_t) &&
                  sizeof(HANDLE) == sizeof(SimHandle),
              "SimConnect's HRESULT, DWORD and HANDLE must match the function types");

namespace {

class WindowsSimConnectLoader final : public SimConnectLoader {
public:
    void* load(const QString& fileName, std::uint32_t& errorCode) override {
        const HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(fileName.utf16()));
        if (!module)
            errorCode = static_cast<std::uint32_t>(GetLastError());
        return reinterpret_cast<void*>(module);
    }
    void* resolve(void* module, const char* functionName) override {
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), functionName));
    }
    void unload(void* module) override {
        if (module)
            FreeLibrary(static_cast<HMODULE>(module));
    }
};

} // namespace

SimConnectLoader& platformSimConnectLoader() {
    static WindowsSimConnectLoader loader;
    return loader;
}

} // namespace velk::simulator::msfs

#endif
