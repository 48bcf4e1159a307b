#include "AppConfig.h"
#include "simulator/xplane/XPlaneAdapter.h"
#include "support/FakeXPlane.h"
#include "support/FakeXPlanePlugin.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace velk;
using simulator::Simulator;
using simulator::xplane::XPlaneAdapter;
using test::FakeXPlane;
using test::FakeXPlanePlugin;

class TestXPlaneLifecycle : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeXPlane> xp;
    std::unique_ptr<FakeXPlanePlugin> plugin;
    std::unique_ptr<XPlaneAdapter> adapter;
    qint64 clockNow = 1'700'000'000;
    int run = 0;
    QString ipcUrl;

    XPlaneAdapter::Options manualOptions() {
        XPlaneAdapter::Options o;
        o.startTimers = false;
        o.clock = [this] { return clockNow; };
        o.pluginIpcUrl = ipcUrl;
        o.connectTimeoutMs = 600000; // the test fires it
        return o;
    }

    void openChannel() {
        adapter->openNngSocket();
        QTRY_VERIFY(plugin->hasPeer());
    }

    // Starts an attempt and waits for its 53 requests, VER and CSL.
    void startAttempt() {
        xp->clear();
        plugin->clear();
        adapter->reconnectSimulator();
        QTRY_COMPARE(xp->rrefRequests().size(), 53);
        QVERIFY(plugin->waitForCount(2));
        QCOMPARE(plugin->messages().at(0).type, QStringLiteral("VER"));
        QCOMPARE(plugin->messages().at(1).type, QStringLiteral("CSL"));
    }

    void answerVersion(int version) {
        QSignalSpy checked(adapter.get(), &Simulator::pluginVersionChecked);
        plugin->send(QStringLiteral("VER"), [&](auto& p) {
            p.pack_array(1);
            p.pack(version);
        });
        QTRY_COMPARE(checked.count(), 1);
    }

    void answerCsl(bool valid) {
        QSignalSpy checked(adapter.get(), &Simulator::cslValidationChecked);
        plugin->send(QStringLiteral("CSL"), [&](auto& p) {
            p.pack_array(2);
            p.pack_array(0);
            p.pack(valid);
        });
        QTRY_COMPARE(checked.count(), 1);
    }

    void sendData(const QList<QPair<qint32, float>>& pairs) {
        xp->sendRref(pairs);
        QTRY_COMPARE(adapter->lastDataTime(), clockNow);
    }

    void connectFully() {
        openChannel();
        startAttempt();
        answerVersion(0x10000);
        answerCsl(true);
        sendData({{18, 47.5f}, {12, 7000.0f}, {44, 1.0f}});
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
        QVERIFY(adapter->isSimConnected());
    }

private slots:
    void init() {
        ipcUrl = QStringLiteral("ipc:///tmp/velk-life-%1-%2.ipc")
                     .arg(QCoreApplication::applicationPid())
                     .arg(++run);
        xp = std::make_unique<FakeXPlane>();
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        QVERIFY(plugin->isListening());
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(xp->port()));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("127.0.0.1"));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneCSL, QStringList{QStringLiteral("/csl/bluebell")});
        adapter = std::make_unique<XPlaneAdapter>(manualOptions());
    }

    void cleanup() {
        adapter.reset();
        plugin.reset();
        xp.reset();
    }

    void connectsWithValidPluginCslAndData() {
        QSignalSpy status(adapter.get(), &Simulator::trafficMappingStatusChanged);
        QSignalSpy invalid(adapter.get(), &Simulator::invalidPluginVersion);
        QSignalSpy failed(adapter.get(), &Simulator::simConnectionFailed);
        openChannel();
        startAttempt();
        QCOMPARE(plugin->messages().at(0).payload, QStringLiteral("[0]"));
        QCOMPARE(plugin->messages().at(1).payload, QStringLiteral(R"([["/csl/bluebell"],false])"));
        QVERIFY(adapter->isConnectTimeoutActive());
        answerVersion(0x10000);
        answerCsl(true);
        sendData({{18, 47.5f}});
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toBool(), true);
        QVERIFY(!adapter->isAttemptInProgress());
        QVERIFY(!adapter->isConnectTimeoutActive());
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
        QCOMPARE(invalid.count(), 0);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("X-Plane CSL 验证中：1 个路径"));
        QCOMPARE(status.at(1).at(0).toString(), QStringLiteral("X-Plane CSL 有效"));
    }

    void noConnectionWithoutAnyXPlaneData() {
        openChannel();
        startAttempt();
        answerVersion(0x10000);
        answerCsl(true);
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection(); // same second as the attempt, but nothing from X-Plane
        QCOMPARE(state.count(), 0);
        sendData({{0, 1.0f}});
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
    }

    void staleDataDoesNotConnect() {
        openChannel();
        startAttempt();
        answerVersion(0x10000);
        sendData({{0, 1.0f}});
        clockNow += 16;
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection();
        QCOMPARE(state.count(), 0);
    }

    void oldPluginFailsTheAttemptOnce() {
        QSignalSpy invalid(adapter.get(), &Simulator::invalidPluginVersion);
        QSignalSpy failed(adapter.get(), &Simulator::simConnectionFailed);
        openChannel();
        startAttempt();
        answerVersion(0xFFFF);
        QCOMPARE(invalid.count(), 1);
        sendData({{0, 1.0f}});
        adapter->checkConnection();
        QVERIFY(!adapter->isSimConnected());
        QVERIFY(adapter->isConnectTimeoutActive());
        adapter->onConnectTimeout();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(),
                 QStringLiteral("模拟器未启动或连接服务异常，请联系VELK技术部"));
        QVERIFY(!adapter->isConnectTimeoutActive());
        adapter->onConnectTimeout();
        answerVersion(0x10000); // too late for this attempt
        adapter->checkConnection();
        QCOMPARE(failed.count(), 1);
        QVERIFY(!adapter->isSimConnected());
    }

    void invalidCslFailsTheAttempt() {
        openChannel();
        startAttempt();
        answerVersion(0x10000);
        QSignalSpy status(adapter.get(), &Simulator::trafficMappingStatusChanged);
        answerCsl(false);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("X-Plane CSL 无效"));
        sendData({{0, 1.0f}});
        adapter->checkConnection();
        QVERIFY(!adapter->isSimConnected());
    }

    void withoutPluginTheAttemptFailsAfterItsTimeout() {
        plugin.reset();
        XPlaneAdapter::Options o = manualOptions();
        o.connectTimeoutMs = 3000;
        adapter = std::make_unique<XPlaneAdapter>(o);
        QSignalSpy failed(adapter.get(), &Simulator::simConnectionFailed);
        adapter->openNngSocket();
        adapter->reconnectSimulator();
        QTRY_COMPARE(xp->rrefRequests().size(), 53);
        sendData({{0, 1.0f}});
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
        QCOMPARE(failed.at(0).at(0).toString(), XPlaneAdapter::kConnectionFailedText);
        QVERIFY(!adapter->isAttemptInProgress());
    }

    void noCslConfiguredIsReportedAndStillAsked() {
        AppConfig::instance()->setValue(ConfigKeys::XPlaneCSL, QStringList{});
        QSignalSpy status(adapter.get(), &Simulator::trafficMappingStatusChanged);
        openChannel();
        startAttempt();
        QCOMPARE(plugin->messages().at(1).payload, QStringLiteral("[[],false]"));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("X-Plane CSL 未配置"));
    }

    void silenceFor16SecondsLosesTheConnectionAndZeroesRecords() {
        connectFully();
        adapter->publishSimState();
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        QSignalSpy data(adapter.get(), &Simulator::userAircraftDataChanged);
        QSignalSpy radios(adapter.get(), &Simulator::radioStackStateChanged);
        QSignalSpy config(adapter.get(), &Simulator::userAircraftConfigDataChanged);
        clockNow += 15;
        adapter->checkConnection();
        QCOMPARE(state.count(), 0);
        clockNow += 1;
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toBool(), false);
        QVERIFY(!adapter->isSimConnected());
        QCOMPARE(adapter->userAircraftData(), model::UserAircraftData{});
        adapter->publishSimState();
        adapter->publishSimState();
        QCOMPARE(data.count(), 1);
        QCOMPARE(data.at(0).at(0).value<model::UserAircraftData>(), model::UserAircraftData{});
        QCOMPARE(radios.count(), 1);
        QCOMPARE(config.count(), 1);
        // No retry of its own.
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
        QVERIFY(!adapter->isAttemptInProgress());
        // What was sent meanwhile is dropped with the channel: the plug-in is
        // dialled afresh and first asked its version.
        QTRY_COMPARE(plugin->messagesOfType(QStringLiteral("VER")).size(), 2);
        QCOMPARE(plugin->messages().constLast().type, QStringLiteral("VER"));
    }

    void publisherEmitsFirstThenChangesAndEachReply() {
        QSignalSpy data(adapter.get(), &Simulator::userAircraftDataChanged);
        QSignalSpy radios(adapter.get(), &Simulator::radioStackStateChanged);
        adapter->publishSimState();
        QCOMPARE(data.count(), 1); // zero records are published once
        QCOMPARE(radios.count(), 1);
        adapter->publishSimState();
        QCOMPARE(data.count(), 1);
        connectFully();
        adapter->publishSimState();
        QCOMPARE(data.count(), 2);
        QCOMPARE(data.at(1).at(0).value<model::UserAircraftData>().latitude, 47.5);
        QCOMPARE(radios.at(1).at(0).value<model::RadioStackState>().transponderCode, quint16(7000));
        adapter->publishSimState();
        QCOMPARE(data.count(), 2);

        // A paused or parked X-Plane replies with the same values: the
        // aircraft goes out once per reply to show that X-Plane is still
        // there; the radios only on a change.
        ++clockNow;
        sendData({{18, 47.5f}, {12, 7000.0f}, {44, 1.0f}});
        adapter->publishSimState();
        adapter->publishSimState();
        QCOMPARE(data.count(), 3);
        QCOMPARE(data.at(2).at(0).value<model::UserAircraftData>(),
                 data.at(1).at(0).value<model::UserAircraftData>());
        QCOMPARE(radios.count(), 2);
    }

    void secondReconnectRestartsTheAttempt() {
        openChannel();
        startAttempt();
        answerVersion(0xFFFF);
        startAttempt(); // everything is asked again and the verdicts reset
        QVERIFY(adapter->isConnectTimeoutActive());
        QVERIFY(adapter->isAttemptInProgress());
        sendData({{0, 1.0f}});
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection();
        QCOMPARE(state.count(), 0); // the new attempt has no version reply yet
        answerVersion(0x10000);
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
    }

    void eachAttemptUsesTheAddressAndPortSetSinceTheLast() {
        connectFully();
        FakeXPlane other(QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(other.port() != 0);
        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("127.0.0.2"));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(other.port()));
        adapter->reconnectSimulator();
        QTRY_COMPARE(other.rrefRequests().size(), 53);
        other.sendRref({{18, 12.5f}});
        QTRY_COMPARE(adapter->userAircraftData().latitude, 12.5);
    }

    // Verdicts the old plug-in sent, still waiting for this thread when the
    // address changed, are not taken for the new plug-in's.
    void repliesLeftWaitingByTheOldChannelAreNotCounted() {
        FakeXPlanePlugin remote(QStringLiteral("tcp://127.0.0.2:0"));
        QVERIFY(remote.isListening());
        FakeXPlane other(QHostAddress(QStringLiteral("127.0.0.2")));
        XPlaneAdapter::Options o = manualOptions();
        o.pluginTcpPort = static_cast<quint16>(remote.tcpPort());
        adapter = std::make_unique<XPlaneAdapter>(o);
        openChannel();
        startAttempt();
        plugin->send(QStringLiteral("VER"), [](auto& p) { p.pack(std::vector<int>{0x10000}); });
        plugin->send(QStringLiteral("CSL"),
                     [](auto& p) { p.pack(std::make_tuple(std::vector<int>{}, true)); });
        QVERIFY(test::waitWithoutEvents([&] { return adapter->pendingPluginMessages() == 2; }, 5000));

        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("127.0.0.2"));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(other.port()));
        QSignalSpy version(adapter.get(), &Simulator::pluginVersionChecked);
        QSignalSpy csl(adapter.get(), &Simulator::cslValidationChecked);
        adapter->reconnectSimulator();
        QVERIFY(remote.waitForCount(2));
        QCOMPARE(remote.messages().at(0).type, QStringLiteral("VER"));
        QTRY_COMPARE(adapter->pendingPluginMessages(), 0);
        QCOMPARE(version.count(), 0);
        QCOMPARE(csl.count(), 0);
        other.sendRref({{18, 12.5f}});
        QTRY_COMPARE(adapter->lastDataTime(), clockNow);
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        adapter->checkConnection();
        QCOMPARE(state.count(), 0);

        // The new plug-in's own reply counts.
        remote.send(QStringLiteral("VER"), [](auto& p) { p.pack(std::vector<int>{0x10000}); });
        QTRY_COMPARE(version.count(), 1);
        adapter->checkConnection();
        QCOMPARE(state.count(), 1);
    }

    void reconnectWhileConnectedAnnouncesTheLossFirst() {
        connectFully();
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        startAttempt();
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toBool(), false);
        QVERIFY(!adapter->isSimConnected());
        QVERIFY(adapter->isAttemptInProgress());
    }

    void reconnectBeforeTheChannelOpensWaitsForIt() {
        adapter->reconnectSimulator();
        QVERIFY(!adapter->isAttemptInProgress());
        QVERIFY(!adapter->isConnectTimeoutActive());
        adapter->openNngSocket();
        QVERIFY(adapter->isAttemptInProgress());
        QTRY_COMPARE(xp->rrefRequests().size(), 53);
        // A marker sent after the attempt shows nothing else was queued before it.
        adapter->transponderIdent();
        QTRY_COMPARE(xp->commands().size(), 1);
        QCOMPARE(xp->rrefRequests().size(), 53);
        QVERIFY(plugin->waitForCount(2));
    }

    void shutdownFromThePluginEndsTheConnection() {
        connectFully();
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        plugin->sendTypeOnly(QStringLiteral("SHUTDOWN"));
        QTRY_COMPARE(state.count(), 1);
        QCOMPARE(state.at(0).at(0).toBool(), false);
        QVERIFY(!adapter->isSimConnected());
        QVERIFY(adapter->subscribedDatarefs().isEmpty());
        // Even when not connected, it is announced.
        plugin->send(QStringLiteral("SHUTDOWN"), [](auto& p) { p.pack(42); });
        QTRY_COMPARE(state.count(), 2);
    }

    void datarefsSubscribedWhileConnectedAreNotAskedTwice() {
        connectFully();
        xp->clear();
        adapter->subscribeDataref(QStringLiteral("sim/test/extra"), 60, 1);
        adapter->subscribeDataref(QStringLiteral("sim/test/extra"), 60, 1);
        adapter->transponderIdent();
        QTRY_COMPARE(xp->commands().size(), 1);
        QCOMPARE(xp->rrefRequests().size(), 1);
        QCOMPARE(adapter->subscribedDatarefs(), QStringList{QStringLiteral("sim/test/extra")});
    }

    void runsOnItsOwnTimersAndPublishes() {
        adapter.reset();
        XPlaneAdapter::Options o;
        o.pluginIpcUrl = ipcUrl;
        adapter = std::make_unique<XPlaneAdapter>(o);
        QSignalSpy state(adapter.get(), &Simulator::simConnectionStateChanged);
        QSignalSpy data(adapter.get(), &Simulator::userAircraftDataChanged);
        adapter->reconnectSimulator(); // before the channel opens on its own
        QTRY_COMPARE(xp->rrefRequests().size(), 53);
        QVERIFY(plugin->waitForCount(2));
        answerVersion(0x10000);
        xp->sendRref({{18, 31.25f}, {19, 121.5f}});
        QTRY_VERIFY_WITH_TIMEOUT(state.count() == 1, 5000);
        QVERIFY(state.at(0).at(0).toBool());
        QTRY_VERIFY(!data.isEmpty() && data.last().at(0).value<model::UserAircraftData>().longitude == 121.5);

        // Remote traffic reaches the plug-in.
        plugin->clear();
        manager::RemoteAircraft a;
        a.callsign = QStringLiteral("CCA981");
        a.equipment = QStringLiteral("B748");
        adapter->addRemoteAircraft(a);
        model::AircraftVisualState s;
        s.latitude = 31.3;
        adapter->updateRemoteAircraftPosition(a, s);
        adapter->removeRemoteAircraft(a.callsign, QStringLiteral("Pilot disconnected"));
        QVERIFY(plugin->waitForCount(3));
        const auto m = plugin->messages();
        QCOMPARE(m.at(0).type, QStringLiteral("ADD"));
        QCOMPARE(m.at(1).type, QStringLiteral("POS"));
        QCOMPARE(m.at(2).payload, QStringLiteral(R"(["CCA981","Pilot disconnected"])"));
    }
};

QTEST_MAIN(TestXPlaneLifecycle)
#include "tst_xplane_lifecycle.moc"
