#include "simulator/msfs/SimConnectSession.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstring>
#include <vector>

using namespace velk::simulator::msfs;

namespace {

// A library that opens, accepts every call and hands out one prepared data
// message per dispatch pump.
std::vector<std::uint8_t> g_message;
bool g_pending = false;
int g_handle = 0;

SimResult ok0(SimHandle) {
    return 0;
}
SimResult openFn(SimHandle* handle, const char*, void*, std::uint32_t, void*, std::uint32_t) {
    *handle = &g_handle;
    return 0;
}
SimResult addFn(SimHandle, std::uint32_t, const char*, const char*, std::uint32_t, float, std::uint32_t) {
    return 0;
}
SimResult clearFn(SimHandle, std::uint32_t) {
    return 0;
}
SimResult requestFn(SimHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t, std::uint32_t, std::uint32_t) {
    return 0;
}
SimResult byTypeFn(SimHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    return 0;
}
SimResult setFn(SimHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, void*) {
    return 0;
}
SimResult nextFn(SimHandle, const std::uint8_t** message, std::uint32_t* size) {
    if (!g_pending)
        return kNoMessageWaiting; // as the library answers when nothing is waiting
    g_pending = false;
    *message = g_message.data();
    *size = std::uint32_t(g_message.size());
    return 0;
}
SimResult mapFn(SimHandle, std::uint32_t, const char*) {
    return 0;
}
SimResult transmitFn(SimHandle, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
    return 0;
}
SimResult createFn(SimHandle, const char*, const char*, const AiInitialPosition*, std::uint32_t) {
    return 0;
}
SimResult removeFn(SimHandle, std::uint32_t, std::uint32_t) {
    return 0;
}

class BenchLoader final : public SimConnectLoader {
public:
    void* load(const QString&, std::uint32_t&) override { return this; }
    void* resolve(void*, const char* name) override {
        const QByteArray n(name);
        if (n == "SimConnect_Open")
            return reinterpret_cast<void*>(&openFn);
        if (n == "SimConnect_Close")
            return reinterpret_cast<void*>(&ok0);
        if (n == "SimConnect_AddToDataDefinition")
            return reinterpret_cast<void*>(&addFn);
        if (n == "SimConnect_ClearDataDefinition")
            return reinterpret_cast<void*>(&clearFn);
        if (n == "SimConnect_RequestDataOnSimObject")
            return reinterpret_cast<void*>(&requestFn);
        if (n == "SimConnect_RequestDataOnSimObjectType")
            return reinterpret_cast<void*>(&byTypeFn);
        if (n == "SimConnect_SetDataOnSimObject")
            return reinterpret_cast<void*>(&setFn);
        if (n == "SimConnect_GetNextDispatch")
            return reinterpret_cast<void*>(&nextFn);
        if (n == "SimConnect_MapClientEventToSimEvent" || n == "SimConnect_SubscribeToSystemEvent")
            return reinterpret_cast<void*>(&mapFn);
        if (n == "SimConnect_TransmitClientEvent")
            return reinterpret_cast<void*>(&transmitFn);
        if (n == "SimConnect_AICreateNonATCAircraft")
            return reinterpret_cast<void*>(&createFn);
        if (n == "SimConnect_AIRemoveObject")
            return reinterpret_cast<void*>(&removeFn);
        return nullptr;
    }
    void unload(void*) override {}
};

// A data message carrying every value of one group.
void prepareMessage(UpdateGroup group) {
    std::vector<std::uint8_t> payload;
    for (const SimVarBinding& binding : readableDefinitions(MsfsRuntimeProfile::Msfs2020)) {
        if (binding.group != group)
            continue;
        const std::size_t width = binding.valueKind == SimValueDouble   ? 8
                                  : binding.valueKind == SimValueString ? 256
                                                                        : 4;
        payload.resize(payload.size() + width, 1);
    }
    g_message.assign(40, 0);
    const std::uint32_t size = std::uint32_t(40 + payload.size());
    const std::uint32_t id = 8;
    const std::uint32_t request = std::uint32_t(group);
    std::memcpy(g_message.data(), &size, 4);
    std::memcpy(g_message.data() + 8, &id, 4);
    std::memcpy(g_message.data() + 12, &request, 4);
    g_message.insert(g_message.end(), payload.begin(), payload.end());
}

void BM_DispatchGroupData(benchmark::State& state) {
    BenchLoader loader;
    installSimConnectLoader(&loader);
    {
        SimConnectSession session;
        session.connectToSimulator();
        session.registerDataDefinitions();
        const auto group = static_cast<UpdateGroup>(state.range(0));
        session.subscribeDataGroup(group);
        prepareMessage(group);
        int received = 0;
        QObject::connect(&session, &SimConnectSession::dataReceived,
                         [&](UpdateGroup, const QVariantMap& data) { received += int(data.size()); });
        for (auto _ : state) {
            g_pending = true;
            session.dispatchPump();
        }
        benchmark::DoNotOptimize(received);
        state.SetItemsProcessed(state.iterations());
        state.SetBytesProcessed(state.iterations() * std::int64_t(g_message.size()));
    }
    installSimConnectLoader(nullptr);
    simConnectFunctions().clearFunctions();
    simConnectFunctions().name.clear();
}
BENCHMARK(BM_DispatchGroupData)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

void BM_ConvertFrequency(benchmark::State& state) {
    const SimVarBinding binding = findDefinition(MsfsRuntimeProfile::Msfs2020, SimKey::Com1Frequency);
    int raw = 0x2345;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fromSimValue(binding, raw));
        benchmark::DoNotOptimize(toSimValue(binding, 123.45));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertFrequency);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
