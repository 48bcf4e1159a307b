// The session manager's binding to a simulator back end: rebinding, data
// validity, the watchdog, the dashboard snapshot, radios and notices.
#include "manager/NetworkManager.h"
#include "support/FakeSimulator.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using velk::common::MessageType;
using velk::manager::NetworkManager;
using velk::model::RadioStackState;
using velk::model::UserAircraftData;
using velk::test::FakeSimulator;

namespace {

UserAircraftData plausible(double latitude) {
    UserAircraftData d;
    d.latitude = latitude;
    d.longitude = 121.8;
    d.altitudeMslM = 100;
    return d;
}

} // namespace

class TestNetworkManagerSimulator : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<NetworkManager> nm;
    std::shared_ptr<FakeSimulator> sim;
    qint64 clock = 1'000'000;

    void feedPlausible(int count) {
        static double latitude = 30.0;
        for (int i = 0; i < count; ++i) {
            latitude += 0.001;
            sim->setUserAircraftData(plausible(latitude));
        }
    }

private slots:
    void init() {
        nm = std::make_unique<NetworkManager>();
        nm->setClock([this] { return clock; });
        sim = std::make_shared<FakeSimulator>();
    }

    void cleanup() {
        nm.reset();
        sim.reset();
    }

    void bindingAnnouncesInvalidDataThenTheChangeAndReconnectsOnTheNextTurn() {
        QStringList order;
        connect(nm.get(), &NetworkManager::simulatorConnectionStateChanged, this,
                [&](bool c) { order << QStringLiteral("state:%1").arg(c); });
        connect(nm.get(), &NetworkManager::simulatorDataUpdated, this,
                [&](bool c) { order << QStringLiteral("data:%1").arg(c); });
        connect(nm.get(), &NetworkManager::simulatorChanged, this,
                [&] { order << QStringLiteral("changed"); });

        nm->setSimulator(sim);
        QCOMPARE(order, (QStringList{"state:0", "data:0", "changed"}));
        QCOMPARE(sim->count("reconnectSimulator"), 0);
        QTRY_COMPARE(sim->count("reconnectSimulator"), 1);
    }

    void rebindingBeforeTheQueuedReconnectAsksOnlyTheNewBackEnd() {
        auto second = std::make_shared<FakeSimulator>();
        nm->setSimulator(sim);
        nm->setSimulator(second);
        QCOMPARE(sim->count("removeAllRemoteAircraft"), 1);
        QCOMPARE(sim->count("clearControllerList"), 1);
        QTRY_COMPARE(second->count("reconnectSimulator"), 1);
        QCoreApplication::processEvents();
        QCOMPARE(sim->count("reconnectSimulator"), 0);

        // The old back end no longer reaches the session.
        QSignalSpy plugin(nm.get(), &NetworkManager::simulatorPluginStatusUpdated);
        emit sim->pluginVersionChecked(true);
        QCOMPARE(plugin.count(), 0);
        emit second->pluginVersionChecked(true);
        QCOMPARE(plugin.count(), 1);
    }

    void dataBecomesValidOnTheThirdPlausibleChange() {
        nm->setSimulator(sim);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        QSignalSpy data(nm.get(), &NetworkManager::simulatorDataUpdated);
        feedPlausible(2);
        QCOMPARE(state.count(), 0);
        QCOMPARE(data.count(), 2);
        QCOMPARE(data.last().at(0).toBool(), false);
        feedPlausible(1);
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), true);
        QCOMPARE(data.last().at(0).toBool(), true);
        QVERIFY(nm->isSimDataValid());
    }

    void snapshotsWithoutPositionOrMotionNeverValidate() {
        nm->setSimulator(sim);
        for (int i = 1; i <= 5; ++i) {
            UserAircraftData d;
            d.pitch = i; // changes, but says nothing about where the aircraft is
            sim->setUserAircraftData(d);
        }
        QVERIFY(!nm->isSimDataValid());
    }

    void dataTurnsInvalidAfter3001MillisecondsWithoutAPlausibleChange() {
        nm->setSimulator(sim);
        feedPlausible(3);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        clock += 3000;
        nm->checkSimulatorDataStale();
        QVERIFY(nm->isSimDataValid());
        clock += 1;
        nm->checkSimulatorDataStale();
        QVERIFY(!nm->isSimDataValid());
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), false);

        // Valid again only after three further plausible changes.
        feedPlausible(2);
        QVERIFY(!nm->isSimDataValid());
        feedPlausible(1);
        QVERIFY(nm->isSimDataValid());
    }

    void aRepeatedSnapshotDoesNotKeepTheDataFresh() {
        nm->setSimulator(sim);
        feedPlausible(3);
        const UserAircraftData same = sim->userAircraftData();
        clock += 2000;
        sim->setUserAircraftData(same);
        clock += 1001;
        nm->checkSimulatorDataStale();
        QVERIFY(!nm->isSimDataValid());
    }

    void backEndConnectionReportsDriveValidity() {
        nm->setSimulator(sim);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        QSignalSpy failed(nm.get(), &NetworkManager::simulatorConnectionFailed);
        emit sim->simConnectionStateChanged(true);
        QVERIFY(nm->isSimDataValid());
        QCOMPARE(state.last().at(0).toBool(), true);

        // Connected, but no plausible data yet: a pilot may not log in.
        QSignalSpy notices(nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(!nm->connectToNetwork("ABC123", "A320", "", false));
        QCOMPARE(notices.last().at(0).toString(),
                 QStringLiteral("飞行员模式连接 FSD 前，请先连接模拟器并等待有效的飞机数据。"));

        emit sim->simConnectionFailed("no simulator");
        QVERIFY(!nm->isSimDataValid());
        QCOMPARE(state.last().at(0).toBool(), false);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.last().at(0).toString(), QStringLiteral("no simulator"));
    }

    void snapshotCarriesTheFortyNineValuesInOrder() {
        nm->setSimulator(sim);
        QSignalSpy data(nm.get(), &NetworkManager::simulatorDataUpdated);
        RadioStackState radio;
        radio.com1Frequency = 122800;
        radio.com2Frequency = 121500;
        radio.com1Volume = 80;
        radio.transponderCode = 7000;
        radio.squawkingIdent = true;
        sim->setRadioStackState(radio);
        emit sim->simPausedStateChanged(true);
        QCOMPARE(data.count(), 2);
        const QList<QVariant> args = data.last();
        QCOMPARE(args.size(), 49);
        QCOMPARE(args.at(41).toUInt(), 122800u);
        QCOMPARE(args.at(42).toUInt(), 121500u);
        QCOMPARE(args.at(43).toDouble(), 80.0);
        QCOMPARE(args.at(45).toUInt(), 7000u);
        QCOMPARE(args.at(47).toBool(), true);
        QCOMPARE(args.at(48).toBool(), true);
        QVERIFY(nm->isSimPaused());
    }

    void onlyCom1TransmitsWhenBothRadiosAreSetToTransmit() {
        nm->setSimulator(sim);
        QSignalSpy radios(nm.get(), &NetworkManager::radioStatesUpdate);
        RadioStackState radio;
        radio.com1Frequency = 122800;
        radio.com2Frequency = 121500;
        radio.com1TransmitEnabled = true;
        radio.com2TransmitEnabled = true;
        sim->setRadioStackState(radio);
        QCOMPARE(nm->transmitFrequencies(), QList<uint>{122800});
        radio.com1TransmitEnabled = false;
        sim->setRadioStackState(radio);
        QCOMPARE(nm->transmitFrequencies(), QList<uint>{121500});
        sim->setRadioStackState(radio); // unchanged: nothing
        QCOMPARE(radios.count(), 2);
    }

    void noticesAreShownInTheSimulatorInTheColourOfTheirType() {
        nm->setSimulator(sim);
        emit nm->notificationPosted("info", MessageType::Info);
        emit nm->notificationPosted("odd", static_cast<MessageType>(42));
        nm->connectToNetwork("A", "A320", "", false); // refused: invalid callsign
        const auto shown = sim->callsTo("showNotification");
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown.at(0).args.at(1).toLongLong(), 0xFFFF00LL);
        QCOMPARE(shown.at(1).args.at(1).toLongLong(), 0xFFFF00LL);
        QCOMPARE(shown.at(2).args.at(1).toLongLong(), 0xFF0000LL);
    }

    void reconnectWithoutABackEndDoesNothing() {
        nm->reconnectSimulator();
        nm->setSimulator(sim);
        QTRY_COMPARE(sim->count("reconnectSimulator"), 1);
        nm->reconnectSimulator();
        QCOMPARE(sim->count("reconnectSimulator"), 2);
    }

    void aForceDisconnectWithoutASessionIsIgnored() {
        nm->setSimulator(sim);
        QSignalSpy notices(nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(nm.get(), &NetworkManager::networkDisconnected);
        emit sim->forceDisconnect("replay");
        QCOMPARE(notices.count(), 0);
        QCOMPARE(disconnected.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerSimulator)
#include "tst_networkmanager_simulator.moc"
