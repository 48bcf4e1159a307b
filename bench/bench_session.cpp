// The session's hot path: one user-aircraft snapshot taken in (changed or
// not), and one position report (a slow report and the position) sent to an
// FSD server on loopback, with the raw packet log written.
#include "AppConfig.h"
#include "RatioReporter.h"
#include "manager/NetworkManager.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <memory>

using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
using velk::model::AircraftVisualState;
using velk::model::UserAircraftData;
using velk::model::VelocityVector;

namespace {

// A back end that only reports the user's aircraft.
class QuietSimulator : public velk::simulator::Simulator {
public:
    void report(const UserAircraftData& data) { emit userAircraftDataChanged(data); }

    void setTransponderCode(int) override {}
    void setCom1Frequency(float) override {}
    void setCom2Frequency(float) override {}
    void transponderIdent() override {}
    void transponderModeToggle() override {}
    void addRemoteAircraft(const RemoteAircraft&) override {}
    void updateRemoteAircraftConfig(const RemoteAircraft&) override {}
    void removeRemoteAircraft(const QString&, const QString&) override {}
    void removeAllRemoteAircraft() override {}
    void updateControllerList(const QList<velk::model::Controller>&) override {}
    void clearControllerList() override {}
    void updateRemoteAircraftPosition(const RemoteAircraft&, const AircraftVisualState&) override {}
    void updateRemoteAircraftFastPosition(const RemoteAircraft&, const AircraftVisualState&,
                                          const VelocityVector&, const VelocityVector&) override {}
    void sendHeartbeat(const QString&) override {}
    void notifyRadioMessageSent(const QString&) override {}
    void notifyRadioMessageReceived(const QString&, const QString&, bool) override {}
    void showNotification(const QString&, qint64) override {}
    void notifyPrivateMessageSent(const QString&, const QString&) override {}
    void notifyPrivateMessageReceived(const QString&, const QString&) override {}
    void notifyNetworkConnected(const QString&, const QString&, bool) override {}
    void notifyNetworkDisconnected() override {}
    void setStationCallsign(int, const QString&) override {}
    void notifySelcal() override {}
    int simulatorGeneration() const override { return 2; }
    void reconnectSimulator() override {}
    double userPressureAltitudeFeet() const override { return 10120.0; }
    double userAltitudeFeet() const override { return 10000.0; }
    double adjustRemoteAltitude(double feet) const override { return feet; }
};

// An FSD peer that reads and drops everything.
class SinkServer : public QObject {
public:
    SinkServer() {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            }
        });
    }
    QTcpServer server;
};

struct Session {
    SinkServer sink;
    std::shared_ptr<QuietSimulator> sim = std::make_shared<QuietSimulator>();
    std::unique_ptr<NetworkManager> nm;
    UserAircraftData data;
    bool ready = false;

    Session() {
        auto* config = velk::AppConfig::instance();
        config->setValue(velk::ConfigKeys::AuthVatsim, false);
        config->setValue(velk::ConfigKeys::AuthUsername, QStringLiteral("1234567"));
        config->setValue(velk::ConfigKeys::AuthPassword, QStringLiteral("s3cret"));
        qputenv("VELK_FSD_SERVER", QStringLiteral("127.0.0.1:%1").arg(sink.server.serverPort()).toUtf8());
        nm = std::make_unique<NetworkManager>();
        nm->setSimulator(sim);
        data.latitude = 31.14342;
        data.longitude = 121.8052;
        data.altitudeMslM = 3048;
        data.groundSpeed = 250;
        data.heading = 270;
        data.latitudeVelocity = 120;
        for (int i = 0; i < 3; ++i) {
            next();
        }
        if (!nm->connectToNetwork(QStringLiteral("ABC123"), QStringLiteral("A320"), {}, false)) {
            return;
        }
        const QDeadlineTimer deadline(5000);
        while (!nm->fsdClient()->isConnected() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        ready = nm->fsdClient()->isConnected();
    }

    void next() {
        data.latitude += 1e-5;
        sim->report(data);
    }
};

std::unique_ptr<Session> g_session;

Session& session() {
    if (!g_session) {
        g_session = std::make_unique<Session>();
    }
    return *g_session;
}

void drain(std::int64_t iteration) {
    if (iteration % 64 == 0) {
        QCoreApplication::processEvents();
    }
}

void BM_SnapshotAndPositionReport(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("no FSD connection");
        return;
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        s.next();
        s.nm->onPositionTimer();
        drain(++n);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnapshotAndPositionReport);

void BM_SnapshotOnly(benchmark::State& state) {
    Session& s = session();
    for (auto _ : state) {
        s.next();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnapshotOnly);

// A paused or parked aircraft: the back end delivers the same snapshot every
// frame; it only keeps the data fresh and publishes nothing.
void BM_UnchangedSnapshot(benchmark::State& state) {
    Session& s = session();
    for (auto _ : state) {
        s.sim->report(s.data);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnchangedSnapshot);

void BM_PositionReportOnly(benchmark::State& state) {
    Session& s = session();
    if (!s.ready) {
        state.SkipWithError("no FSD connection");
        return;
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        s.nm->onPositionTimer();
        drain(++n);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PositionReportOnly);

// A received position from a pilot with a 10,000-character callsign, handled
// as an observer (compared with the own callsign) and as a pilot.
void positionFromLongCallsign(benchmark::State& state, bool observer) {
    Session& s = session();
    NetworkManager nm;
    nm.setSimulator(s.sim);
    if (observer && !nm.connectToNetwork(QStringLiteral("OBS1"), {}, {}, true)) {
        state.SkipWithError("observer connection refused");
        return;
    }
    const velk::fsd::pdu::PilotPosition position(QString(10000, u'X'), 2000, true, false, 1, 31.0, 121.0,
                                                 3000, 3000, 0, 0.0, 90.0, 0.0, true);
    std::int64_t n = 0;
    for (auto _ : state) {
        emit nm.fsdClient()->raisePilotPositionReceived(position);
        drain(++n);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ObserverPositionLongCallsign(benchmark::State& state) {
    positionFromLongCallsign(state, true);
}
BENCHMARK(BM_ObserverPositionLongCallsign);

void BM_PilotPositionLongCallsign(benchmark::State& state) {
    positionFromLongCallsign(state, false);
}
BENCHMARK(BM_PilotPositionLongCallsign);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    velk::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("BM_ObserverPositionLongCallsign", "BM_PilotPositionLongCallsign");
    benchmark::Shutdown();
    g_session.reset();
    return 0;
}
