// Cost of the remote-traffic road: FSD position packets through the session
// manager and the remote aircraft table into a back end that only counts, and
// the configuration merge of the remote table, and many pilots leaving at once.
#include "RatioReporter.h"
#include "fsd/FsdClient.h"
#include "fsd/LineFramer.h"
#include "manager/AircraftManager.h"
#include "manager/NetworkManager.h"
#include "model/AircraftConfig.h"
#include "model/MetaTypes.h"
#include "simulator/Simulator.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

using velk::manager::AircraftManager;
using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
namespace model = velk::model;
namespace pdu = velk::fsd::pdu;

namespace {

// A back end that confirms adds at once and otherwise only counts the calls.
class CountingSimulator : public velk::simulator::Simulator {
public:
    qint64 calls = 0;
    // Confirms removals at once, as a back end with nothing to wait for does.
    bool confirmRemovals = false;

    void setTransponderCode(int) override { ++calls; }
    void setCom1Frequency(float) override { ++calls; }
    void setCom2Frequency(float) override { ++calls; }
    void transponderIdent() override { ++calls; }
    void transponderModeToggle() override { ++calls; }
    void addRemoteAircraft(const RemoteAircraft& aircraft) override {
        ++calls;
        emit aircraftAddedToSim(aircraft.callsign);
    }
    void updateRemoteAircraftConfig(const RemoteAircraft&) override { ++calls; }
    void removeRemoteAircraft(const QString& callsign, const QString&) override {
        ++calls;
        if (confirmRemovals) {
            emit aircraftRemovedFromSim(callsign);
        }
    }
    void removeAllRemoteAircraft() override { ++calls; }
    void updateControllerList(const QList<model::Controller>&) override { ++calls; }
    void clearControllerList() override { ++calls; }
    void updateRemoteAircraftPosition(const RemoteAircraft&, const model::AircraftVisualState&) override {
        ++calls;
    }
    void updateRemoteAircraftFastPosition(const RemoteAircraft&, const model::AircraftVisualState&,
                                          const model::VelocityVector&,
                                          const model::VelocityVector&) override {
        ++calls;
    }
    void sendHeartbeat(const QString&) override { ++calls; }
    void notifyRadioMessageSent(const QString&) override { ++calls; }
    void notifyRadioMessageReceived(const QString&, const QString&, bool) override { ++calls; }
    void showNotification(const QString&, qint64) override { ++calls; }
    void notifyPrivateMessageSent(const QString&, const QString&) override { ++calls; }
    void notifyPrivateMessageReceived(const QString&, const QString&) override { ++calls; }
    void notifyNetworkConnected(const QString&, const QString&, bool) override { ++calls; }
    void notifyNetworkDisconnected() override { ++calls; }
    void setStationCallsign(int, const QString&) override { ++calls; }
    void notifySelcal() override { ++calls; }
    int simulatorGeneration() const override { return 5; }
    void reconnectSimulator() override {}
    double userPressureAltitudeFeet() const override { return 0.0; }
    double userAltitudeFeet() const override { return 0.0; }
    double adjustRemoteAltitude(double altitudeFeet) const override { return altitudeFeet; }
};

QString callsignOf(int i) {
    return QStringLiteral("CES%1").arg(1000 + i);
}

QString fullConfigText() {
    model::UserAircraftConfigData d;
    d.beaconOn = true;
    d.navLightsOn = true;
    d.engineCount = 2;
    d.engine1Running = true;
    d.engine2Running = true;
    d.gearDown = true;
    model::AircraftConfigMessage m;
    m.config = model::AircraftConfig::fromUserAircraftConfigData(d);
    m.config->isFullData = true;
    return m.toJson();
}

// The session manager, the remote table and a counting back end, with `count`
// pilots known by type and configuration and shown in the simulator.
struct Traffic {
    std::shared_ptr<NetworkManager> nm = std::make_shared<NetworkManager>();
    std::shared_ptr<CountingSimulator> sim = std::make_shared<CountingSimulator>();
    AircraftManager table{nm};
    QList<QString> callsigns;

    explicit Traffic(int count) {
        nm->setSimulator(sim);
        const QString config = fullConfigText();
        for (int i = 0; i < count; ++i) {
            callsigns.append(callsignOf(i));
            emit nm->fsdClient()->raisePilotPositionReceived(slowPacket(i, 0));
            emit nm->fsdClient()->raisePlaneInfoResponseReceived(
                pdu::PlaneInfoResponse(callsigns.last(), QStringLiteral("OBS"), QStringLiteral("A320"),
                                       QStringLiteral("CES"), QString(), QString()));
            emit nm->aircraftConfigurationInfoReceived(callsigns.last(), config);
        }
    }

    pdu::PilotPosition slowPacket(int i, int step) const {
        return pdu::PilotPosition(callsignOf(i), 2000, true, false, 1, 31.0 + i * 0.01 + step * 1e-5, 121.0,
                                  3000, 3000, 0, 0.0, 90.0, 0.0, true);
    }

    pdu::FastPilotPosition fastPacket(int i, int step) const {
        return pdu::FastPilotPosition(pdu::FastPositionKind::Fast, callsigns.at(i),
                                      31.0 + i * 0.01 + step * 1e-5, 121.0, 3000.0, 0.0, 0.0, 90.0, 0.0,
                                      false, 60.0, 0.0, 60.0, 0.0, 0.0, 0.0, 0.0);
    }
};

const bool kSmoke = qEnvironmentVariableIsSet("VELK_BENCH_SMOKE");

void dropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// One second of traffic: each pilot sends five fast positions, and one in five
// pilots its slow position (one every 5 s each).
void BM_SecondOfTrafficThroughSessionAndTable(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Traffic traffic(count);
    velk::fsd::FsdClient* fsd = traffic.nm->fsdClient();
    int step = 0;
    qint64 packets = 0;
    for (auto _ : state) {
        for (int tick = 0; tick < 5; ++tick) {
            ++step;
            for (int i = 0; i < count; ++i) {
                emit fsd->raiseFastPilotPositionReceived(traffic.fastPacket(i, step));
            }
            for (int i = tick; i < count; i += 25) {
                emit fsd->raisePilotPositionReceived(traffic.slowPacket(i, step));
            }
        }
        packets += 5 * count + (count + 4) / 5;
    }
    benchmark::DoNotOptimize(traffic.sim->calls);
    state.counters["packets"] = benchmark::Counter(static_cast<double>(packets), benchmark::Counter::kIsRate);
    state.counters["per_packet"] = benchmark::Counter(
        static_cast<double>(packets), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SecondOfTrafficThroughSessionAndTable)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

// One second of traffic as the server sends it: each pilot's five fast
// positions and one in five pilots' slow position, as text lines.
QByteArray secondOfTrafficLines(const Traffic& traffic, int count) {
    QByteArray bytes;
    for (int tick = 0; tick < 5; ++tick) {
        for (int i = 0; i < count; ++i) {
            bytes += traffic.fastPacket(i, tick).serialize().toUtf8();
        }
        for (int i = tick; i < count; i += 25) {
            bytes += traffic.slowPacket(i, tick).serialize().toUtf8();
        }
    }
    return bytes;
}

// Splits and decodes the lines; `deliver` takes each position packet.
template <typename Deliver> qint64 decodeLines(const QByteArray& bytes, Deliver&& deliver) {
    constexpr qsizetype kRead = 4096; // about what one socket read brings
    velk::fsd::LineFramer framer;
    QByteArrayView raw;
    qint64 lines = 0;
    for (qsizetype offset = 0; offset < bytes.size(); offset += kRead) {
        framer.append(QByteArrayView(bytes).sliced(offset, std::min(kRead, bytes.size() - offset)));
        while (framer.next(raw) == velk::fsd::LineFramer::Status::Line) {
            const pdu::Packet packet = pdu::decode(QString::fromUtf8(raw));
            std::visit([&](const auto& p) { deliver(p); }, packet);
            ++lines;
        }
    }
    return lines;
}

// A large event seen from a busy hub: `count` pilots at 5 Hz, from the
// received lines through the session and the remote table to the back end.
void BM_SecondOfTrafficFromLines(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Traffic traffic(count);
    const QByteArray bytes = secondOfTrafficLines(traffic, count);
    velk::fsd::FsdClient* fsd = traffic.nm->fsdClient();
    std::chrono::nanoseconds total{0};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        decodeLines(bytes, [fsd](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (std::is_same_v<T, pdu::FastPilotPosition>) {
                emit fsd->raiseFastPilotPositionReceived(p);
            } else if constexpr (std::is_same_v<T, pdu::PilotPosition>) {
                emit fsd->raisePilotPositionReceived(p);
            }
        });
        total += std::chrono::steady_clock::now() - start;
    }
    state.counters["core_share_pct"] =
        100.0 * std::chrono::duration<double>(total).count() / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SecondOfTrafficFromLines)->Arg(kSmoke ? 100 : 5000)->Unit(benchmark::kMillisecond);

// Floor: the same lines only split and decoded.
void BM_SecondOfTrafficDecodeOnly(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Traffic traffic(count);
    const QByteArray bytes = secondOfTrafficLines(traffic, count);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeLines(bytes, [](const auto& p) { benchmark::DoNotOptimize(&p); }));
    }
}
BENCHMARK(BM_SecondOfTrafficDecodeOnly)->Arg(kSmoke ? 100 : 5000)->Unit(benchmark::kMillisecond);

// The remote table alone: one fast position of one of `count` pilots.
void BM_RemoteTableFastPosition(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Traffic traffic(count);
    const model::AircraftVisualState pose{31.0, 121.0, 3000.0, 0.0, 0.0, 90.0, 0.0, 0.0};
    const model::VelocityVector velocity{60.0, 0.0, 60.0};
    int i = 0;
    for (auto _ : state) {
        emit traffic.nm->fastPositionUpdateReceived(traffic.callsigns.at(i), pose, velocity, {});
        i = (i + 1) % count;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RemoteTableFastPosition)->Arg(100)->Arg(500);

// Configuration increments (parse and member merge) for pilots of a table of `count`.
void BM_ConfigurationIncrementMerge(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Traffic traffic(count);
    const QString increments[2] = {
        QStringLiteral(
            R"({"config":{"flaps_pct":15,"lights":{"landing_on":true},"engines":{"2":{"on":false}}}})"),
        QStringLiteral(
            R"({"config":{"flaps_pct":0,"lights":{"landing_on":false},"engines":{"2":{"on":true}}}})"),
    };
    int i = 0;
    int n = 0;
    for (auto _ : state) {
        emit traffic.nm->aircraftConfigurationInfoReceived(traffic.callsigns.at(i), increments[n & 1]);
        i = (i + 1) % count;
        ++n;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConfigurationIncrementMerge)->Arg(100)->Arg(500);

// --- Many pilots leaving at once -------------------------------------------------

// The remote table with `count` pilots: in the simulator (confirmed), or never
// put in (made-up callsigns with no type), as a hostile server invents them.
struct LeavingTable {
    std::shared_ptr<NetworkManager> nm = std::make_shared<NetworkManager>();
    std::shared_ptr<CountingSimulator> sim = std::make_shared<CountingSimulator>();
    AircraftManager table{nm};
    qint64 clockMs = 1'700'000'000'000;
    QList<QString> callsigns;

    LeavingTable(int count, bool inSimulator) {
        table.setClock([this] { return clockMs; });
        const model::AircraftVisualState pose{31.0, 121.0, 3000.0, 0.0, 0.0, 90.0, 0.0, 0.0};
        const QString config = fullConfigText();
        for (int i = 0; i < count; ++i) {
            callsigns.append(callsignOf(i));
            emit nm->slowPositionUpdateReceived(callsigns.last(), pose, 0.0);
            if (inSimulator) {
                emit nm->aircraftInfoReceived(callsigns.last(), QStringLiteral("A320"),
                                              QStringLiteral("CES"));
                emit nm->aircraftConfigurationInfoReceived(callsigns.last(), config);
            }
        }
        // Bound only now, so that setting up runs one sync pass, not one per pilot.
        nm->setSimulator(sim);
        table.syncToSimulator();
        sim->confirmRemovals = true;
    }
};

template <typename Work> void timeLeaving(benchmark::State& state, bool inSimulator, Work work) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        LeavingTable t(count, inSimulator);
        const auto start = std::chrono::steady_clock::now();
        work(t);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        if (!t.table.aircraft().isEmpty()) {
            state.SkipWithError("pilots left in the table");
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Every pilot goes silent; one stale check finds them all.
void goStale(LeavingTable& t) {
    t.clockMs += 20'000;
    t.table.removeStaleAircraft();
}

// The server announces every departure, one packet each.
void departAll(LeavingTable& t) {
    for (const QString& callsign : std::as_const(t.callsigns)) {
        emit t.nm->pilotDeleted(callsign);
    }
    QCoreApplication::sendPostedEvents();
}

void BM_StaleNeverInSimulator(benchmark::State& state) {
    timeLeaving(state, false, goStale);
}
void BM_StaleInSimulatorConfirmed(benchmark::State& state) {
    timeLeaving(state, true, goStale);
}
void BM_DeletionsNeverInSimulator(benchmark::State& state) {
    timeLeaving(state, false, departAll);
}
void BM_DeletionsInSimulatorConfirmed(benchmark::State& state) {
    timeLeaving(state, true, departAll);
}

// Floor: the same callsigns inserted into a hash and erased one by one.
void BM_HashEraseFloor(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QHash<QString, int> hash;
        for (int i = 0; i < count; ++i) {
            hash.insert(callsignOf(i), i);
        }
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            hash.remove(callsignOf(i));
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void leavingSizes(benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
    for (int n = 1000; n <= (kSmoke ? 1000 : 32000); n *= 2) {
        b->Arg(n);
    }
}
BENCHMARK(BM_StaleNeverInSimulator)->Apply(leavingSizes);
BENCHMARK(BM_StaleInSimulatorConfirmed)->Apply(leavingSizes);
BENCHMARK(BM_DeletionsNeverInSimulator)->Apply(leavingSizes);
BENCHMARK(BM_DeletionsInSimulatorConfirmed)->Apply(leavingSizes);
BENCHMARK(BM_HashEraseFloor)->Apply(leavingSizes);

void printLeavingRatios(const velk::bench::RatioReporter& reporter) {
    // The names google benchmark gives runs of leavingSizes().
    const auto leaving = [](const char* name, int n) {
        return std::string(name) + "/" + std::to_string(n) + "/iterations:1/manual_time";
    };
    for (int n = 1000; n <= 32000; n *= 2) {
        for (const char* path : {"BM_StaleNeverInSimulator", "BM_StaleInSimulatorConfirmed",
                                 "BM_DeletionsNeverInSimulator", "BM_DeletionsInSimulatorConfirmed"}) {
            reporter.printRatio(leaving(path, n), leaving("BM_HashEraseFloor", n));
        }
    }
    const double traffic = reporter.seconds("BM_SecondOfTrafficFromLines/5000");
    if (traffic > 0) {
        std::printf("5000 pilots at 5 Hz: %.2f%% of one core\n", traffic * 100.0);
    }
    reporter.printRatio("BM_SecondOfTrafficFromLines/5000", "BM_SecondOfTrafficDecodeOnly/5000");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropMessages);
    velk::model::registerMetaTypes();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printLeavingRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
