#include "simulator/xplane/DatarefLink.h"
#include "simulator/xplane/PluginProtocol.h"

#include <QtEndian>

#include <benchmark/benchmark.h>

#include <cstring>

using namespace velk;
using namespace velk::simulator::xplane;

namespace {

// A reply carrying every subscribed value once, as X-Plane batches them.
QByteArray fullReply() {
    QByteArray d("RREF,", 5);
    for (qint32 i = 0; i < kDatarefCount; ++i) {
        char pair[8];
        qToLittleEndian<qint32>(i, pair);
        const float v = 1.0f + static_cast<float>(i) * 0.5f;
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        qToLittleEndian<quint32>(bits, pair + 4);
        d.append(pair, 8);
    }
    return d;
}

manager::RemoteAircraft aircraft() {
    manager::RemoteAircraft a;
    a.callsign = QStringLiteral("DLH4AB");
    a.airline = QStringLiteral("DLH");
    a.equipment = QStringLiteral("A20N");
    a.groundSpeed = 142.5;
    a.visualState = {50.03, 8.57, 3500.25, 1200.5, 2.5, 250.1, -5.2, 1.5};
    model::UserAircraftConfigData d;
    d.engineCount = 2;
    d.engine1Running = d.engine2Running = true;
    d.flapsRatio = 0.25;
    d.beaconOn = d.navLightsOn = true;
    a.config = model::AircraftConfig::fromUserAircraftConfigData(d);
    a.config.isFullData = true;
    return a;
}

void BM_RrefReplyDecode(benchmark::State& state) {
    const QByteArray reply = fullReply();
    model::UserAircraftData data;
    model::UserAircraftConfigData config;
    model::RadioStackState radio;
    for (auto _ : state) {
        forEachRrefPair(reply, [&](qint32 index, float value) {
            if (index >= 0 && index < kDatarefCount) {
                applyDatarefValue(index, value, data, config, radio);
            }
        });
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(config);
        benchmark::DoNotOptimize(radio);
    }
    state.SetItemsProcessed(state.iterations() * kDatarefCount);
    state.SetBytesProcessed(state.iterations() * reply.size());
}
BENCHMARK(BM_RrefReplyDecode);

void BM_PackFastPosition(benchmark::State& state) {
    const auto a = aircraft();
    const model::VelocityVector p{1.0, 2.0, 3.0};
    const model::VelocityVector r{0.1, 0.2, 0.3};
    for (auto _ : state) {
        auto w = encodeFastPosition(a, a.visualState, p, r);
        benchmark::DoNotOptimize(w.bytes().data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PackFastPosition);

void BM_PackAircraftConfig(benchmark::State& state) {
    const auto a = aircraft();
    for (auto _ : state) {
        auto w = encodeAircraftConfig(a);
        benchmark::DoNotOptimize(w.bytes().data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PackAircraftConfig);

void BM_PackControllerList(benchmark::State& state) {
    QList<model::Controller> list;
    for (int i = 0; i < state.range(0); ++i) {
        model::Controller c;
        c.callsign = QStringLiteral("ZSPD_%1_CTR").arg(i);
        c.realName = QStringLiteral("Controller %1").arg(i);
        c.frequency = 118000 + static_cast<quint32>(i) * 25;
        c.isAtc = true;
        list.append(c);
    }
    for (auto _ : state) {
        auto w = encodeControllers(atcEntriesFrom(list));
        benchmark::DoNotOptimize(w.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PackControllerList)->Arg(20);

void BM_DecodePluginMessage(benchmark::State& state) {
    const auto w = encodePrivateSent(QStringLiteral("ZSPD_CTR"), QStringLiteral("request descent"));
    const std::string_view bytes = w.bytes();
    for (auto _ : state) {
        auto m = decodePluginMessage(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(m);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodePluginMessage);

} // namespace

BENCHMARK_MAIN();
