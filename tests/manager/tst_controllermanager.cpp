// The controller table: controllers learnt from the session manager, announced
// to the dashboard, swept when gone and published to the simulator back end.
#include "manager/ControllerManager.h"
#include "model/MetaTypes.h"
#include "support/SessionFixture.h"

using velk::manager::ControllerManager;
using velk::manager::NetworkManager;
using velk::model::Controller;
using velk::model::RadioStackState;
using velk::test::FakeSimulator;
using velk::test::SessionHarness;

namespace {

constexpr uint Khz118700 = 118700;
constexpr uint Khz121170 = 121170;
constexpr uint Khz121500 = 121500;

Controller controllerAt(const QSignalSpy& spy, int index) {
    return spy.at(index).at(0).value<Controller>();
}

QStringList callsignsIn(const QList<Controller>& controllers) {
    QStringList out;
    for (const auto& c : controllers) {
        out << c.callsign;
    }
    return out;
}

} // namespace

class TestControllerManager : public QObject {
    Q_OBJECT

private:
    SessionHarness h;
    std::unique_ptr<ControllerManager> table;
    qint64 clockMs = 1'700'000'000'000;

    void bind() { h.bindSimulator(); }

    void position(const QString& from, uint frequency, double lat = 31.1, double lon = 121.3) {
        emit h.nm->controllerUpdateReceived(from, frequency, lat, lon);
    }

    void tune(uint com1, uint com2) {
        RadioStackState radios;
        radios.com1Frequency = com1;
        radios.com2Frequency = com2;
        h.sim->setRadioStackState(radios);
    }

    QList<FakeSimulator::Call> stationCalls(int radio) const {
        QList<FakeSimulator::Call> out;
        for (const auto& call : h.sim->callsTo(QStringLiteral("setStationCallsign"))) {
            if (call.args.at(0).toInt() == radio) {
                out << call;
            }
        }
        return out;
    }

    QString lastStation(int radio) const {
        const auto calls = stationCalls(radio);
        return calls.isEmpty() ? QStringLiteral("<none>") : calls.last().args.at(1).toString();
    }

private slots:
    void initTestCase() {
        velk::model::registerMetaTypes();
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }

    void init() {
        h.create();
        h.sim = std::make_shared<FakeSimulator>();
        table = std::make_unique<ControllerManager>(h.nm);
        table->setClock([this] { return clockMs; });
    }

    void cleanup() {
        table.reset();
        h.destroy();
    }

    void firstPositionAddsControllerInUpperCaseNamedUnknown() {
        QSignalSpy added(table.get(), &ControllerManager::controllerAdded);
        position(QStringLiteral("lfpg_twr"), Khz118700, 49.0, 2.5);
        QCOMPARE(added.count(), 1);
        const Controller c = controllerAt(added, 0);
        QCOMPARE(c.callsign, QStringLiteral("LFPG_TWR"));
        QCOMPARE(c.realName, QStringLiteral("Unknown"));
        QCOMPARE(c.frequency, Khz118700);
        QCOMPARE(c.normalizedFrequency, Khz118700);
        QCOMPARE(c.frequencyHz, 118700000u);
        QCOMPARE(c.latitude, 49.0);
        QCOMPARE(c.longitude, 2.5);
        QCOMPARE(c.lastSeen, clockMs / 1000);
        QVERIFY(!c.isAtc);
        QVERIFY(!c.removalPending);
        QCOMPARE(table->controllers().size(), 1);
    }

    void unchangedPositionOnlyRefreshesLastSeen() {
        position(QStringLiteral("EDDF_TWR"), Khz118700);
        QSignalSpy added(table.get(), &ControllerManager::controllerAdded);
        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        QSignalSpy updated(table.get(), &ControllerManager::controllerUpdated);
        clockMs += 30'000;
        position(QStringLiteral("eddf_twr"), Khz118700);
        QCOMPARE(added.count() + deleted.count() + updated.count(), 0);
        QCOMPARE(table->controllers().constFirst().lastSeen, clockMs / 1000);
    }

    void frequencyChangeStoresTheDisplayFixAndHertz() {
        position(QStringLiteral("EDDF_TWR"), Khz118700);
        table->onIsValidAtcReceived(QStringLiteral("EDDF_TWR"));
        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        QSignalSpy added(table.get(), &ControllerManager::controllerAdded);
        position(QStringLiteral("EDDF_TWR"), Khz121170);
        const Controller c = table->controllers().constFirst();
        QCOMPARE(c.frequency, Khz121170);
        QCOMPARE(c.normalizedFrequency, 121175u);
        QCOMPARE(c.frequencyHz, 121170000u);
        QVERIFY(!c.removalPending);
        // Republished: removed then added with the new state.
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(added.count(), 1);
        QCOMPARE(controllerAt(added, 0).normalizedFrequency, 121175u);
    }

    void validControllerIsRepublishedOnlyWithAUsableFrequency() {
        position(QStringLiteral("ZSSS_APP"), Khz118700);
        position(QStringLiteral("ZSSS_ATIS"), Controller::NoFrequency);
        QStringList order;
        connect(table.get(), &ControllerManager::controllerDeleted, this,
                [&](const Controller& c) { order << "deleted:" + c.callsign; });
        connect(table.get(), &ControllerManager::controllerAdded, this,
                [&](const Controller& c) { order << "added:" + c.callsign + (c.isAtc ? "+atc" : ""); });
        connect(table.get(), &ControllerManager::controllerUpdated, this,
                [&](const Controller& c) { order << "updated:" + c.callsign + (c.isAtc ? "+atc" : ""); });

        emit h.nm->isValidAtcReceived(QStringLiteral("ZSSS_APP"));
        emit h.nm->isValidAtcReceived(QStringLiteral("ZSSS_ATIS"));
        emit h.nm->isValidAtcReceived(QStringLiteral("ZSPD_TWR")); // not listed: ignored
        QCOMPARE(order, (QStringList{"deleted:ZSSS_APP", "added:ZSSS_APP+atc", "updated:ZSSS_ATIS+atc"}));
    }

    void unconfirmedControllerThatMovesIsSweptAndComesBackOnItsNextPosition() {
        bind();
        position(QStringLiteral("RJTT_GND"), Khz121500, 35.5, 139.7);
        position(QStringLiteral("RJTT_GND"), Khz121500, 35.6, 139.7);
        QVERIFY(table->controllers().constFirst().removalPending);

        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(controllerAt(deleted, 0).callsign, QStringLiteral("RJTT_GND"));
        QVERIFY(table->controllers().isEmpty());

        QSignalSpy added(table.get(), &ControllerManager::controllerAdded);
        position(QStringLiteral("RJTT_GND"), Khz121500, 35.6, 139.7);
        QCOMPARE(added.count(), 1);
    }

    void silentControllerSurvivesSixtySecondsAndLeavesAtSixtyOne() {
        bind();
        position(QStringLiteral("KJFK_TWR"), Khz118700);
        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        clockMs += 60'000;
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 0);
        QCOMPARE(table->controllers().size(), 1);
        clockMs += 1'000;
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 1);
        QVERIFY(table->controllers().isEmpty());
    }

    void sweepRemovesDepartedAndSilentControllersWithoutABackEnd() {
        position(QStringLiteral("KJFK_TWR"), Khz118700);
        position(QStringLiteral("KJFK_GND"), Khz121500);
        emit h.nm->controllerDeleted(QStringLiteral("KJFK_GND"));
        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(controllerAt(deleted, 0).callsign, QStringLiteral("KJFK_GND"));
        clockMs += 61'000;
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 2);
        QVERIFY(table->controllers().isEmpty());
    }

    void sweepPublishesTheWholeRemainingListToTheBackEnd() {
        bind();
        position(QStringLiteral("EGLL_TWR"), Khz118700);
        position(QStringLiteral("EGLL_ATIS"), Controller::NoFrequency);
        position(QStringLiteral("EGLL_GND"), Khz121500);
        emit h.nm->controllerDeleted(QStringLiteral("EGLL_GND"));
        table->removeStaleControllers();
        const auto lists = h.sim->callsTo(QStringLiteral("updateControllerList"));
        QCOMPARE(lists.size(), 1);
        // Announceable or not, every remaining controller goes to the back end.
        QCOMPARE(callsignsIn(lists.constFirst().args.at(0).value<QList<Controller>>()),
                 (QStringList{"EGLL_TWR", "EGLL_ATIS"}));
    }

    void tunedStationsAreTheFirstControllerOnEachFrequency() {
        bind();
        position(QStringLiteral("EDDM_TWR"), Khz118700);
        position(QStringLiteral("EDDM_N_TWR"), Khz118700);
        tune(Khz118700, Khz121500);
        QCOMPARE(lastStation(1), QStringLiteral("EDDM_TWR"));
        QCOMPARE(lastStation(2), QString());

        h.sim->clearCalls();
        table->removeStaleControllers();
        QCOMPARE(lastStation(1), QStringLiteral("EDDM_TWR"));
        QCOMPARE(lastStation(2), QString());
    }

    void deletingTheTunedControllerClearsItsStationAtOnceAndTheSweepRemovesIt() {
        bind();
        position(QStringLiteral("EDDM_TWR"), Khz118700);
        position(QStringLiteral("EDDM_GND"), Khz121500);
        tune(Khz118700, Khz121500);
        h.sim->clearCalls();

        emit h.nm->controllerDeleted(QStringLiteral("eddm_twr"));
        QCOMPARE(h.sim->count(QStringLiteral("setStationCallsign")), 1);
        QCOMPARE(lastStation(1), QString());
        QCOMPARE(table->controllers().size(), 2);

        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        table->removeStaleControllers();
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(controllerAt(deleted, 0).callsign, QStringLiteral("EDDM_TWR"));
        QCOMPARE(lastStation(2), QStringLiteral("EDDM_GND"));
    }

    // Listeners (the messages page) drop each controller with the table.
    void connectingAndDisconnectingEmptyTheListAnnouncingEachAndRunTheSweep() {
        position(QStringLiteral("EDDM_TWR"), Khz118700);
        QSignalSpy deleted(table.get(), &ControllerManager::controllerDeleted);
        emit h.nm->networkConnected(QStringLiteral("DLH123"));
        QVERIFY(table->controllers().isEmpty());
        QVERIFY(table->isSweepRunning());
        QCOMPARE(deleted.count(), 1);

        position(QStringLiteral("EDDM_TWR"), Khz118700);
        position(QStringLiteral("EDDM_GND"), Khz121500);
        emit h.nm->networkDisconnected(false);
        QVERIFY(table->controllers().isEmpty());
        QVERIFY(!table->isSweepRunning());
        QCOMPARE(deleted.count(), 3);
        QCOMPARE(controllerAt(deleted, 2).callsign, QStringLiteral("EDDM_GND"));
    }

    void newBackEndReplacesTheOldOneAndKeepsTheList() {
        bind();
        position(QStringLiteral("EDDM_TWR"), Khz118700);
        tune(Khz118700, 0);
        auto second = std::make_shared<FakeSimulator>();
        h.nm->setSimulator(second);
        second->clearCalls();
        h.sim->clearCalls();

        // The old back end's radios no longer reach the table.
        RadioStackState radios;
        radios.com1Frequency = Khz121500;
        h.sim->setRadioStackState(radios);
        QCOMPARE(h.sim->count(QStringLiteral("setStationCallsign")), 0);
        QCOMPARE(second->count(QStringLiteral("setStationCallsign")), 0);

        table->removeStaleControllers();
        QCOMPARE(h.sim->count(QStringLiteral("updateControllerList")), 0);
        QCOMPARE(second->count(QStringLiteral("updateControllerList")), 1);
        // The last radio stack stays until the new back end reports.
        QCOMPARE(second->callsTo(QStringLiteral("setStationCallsign")).constFirst().args.at(1).toString(),
                 QStringLiteral("EDDM_TWR"));
    }

    void aNewControllerIsAskedForNameValidityAndCapabilitiesAsReceived() {
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        position(QStringLiteral("lfpg_twr"), Khz118700);
        QCOMPARE(
            h.sentLinesStartingWith(QStringLiteral("$CQ")),
            (QStringList{"$CQOBS1:lfpg_twr:RN", "$CQOBS1:SERVER:ATC:lfpg_twr", "$CQOBS1:lfpg_twr:CAPS"}));
        position(QStringLiteral("LFPG_TWR"), Khz118700, 50.0, 2.0);
        QCOMPARE(h.sentLinesStartingWith(QStringLiteral("$CQ")), QStringList());
    }

    void aControllersLifeOverTheWire() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        QStringList events;
        connect(table.get(), &ControllerManager::controllerAdded, this, [&](const Controller& c) {
            events << QStringLiteral("added %1 %2 %3 %4")
                          .arg(c.callsign)
                          .arg(c.normalizedFrequency)
                          .arg(c.realName)
                          .arg(c.isAtc);
        });
        connect(table.get(), &ControllerManager::controllerDeleted, this,
                [&](const Controller& c) { events << QStringLiteral("deleted %1").arg(c.callsign); });

        QVERIFY(h.deliver(QStringLiteral("%LFPG_TWR:18720:4:100:5:49.00000:2.50000:0")));
        QCOMPARE(events, (QStringList{"added LFPG_TWR 118725 Unknown 0"}));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:OBS1:ATC:Y:LFPG_TWR")));
        QCOMPARE(events.size(), 3);
        QCOMPARE(events.at(2), QStringLiteral("added LFPG_TWR 118725 Unknown 1"));
        QVERIFY(h.deliver(QStringLiteral("$CRLFPG_TWR:OBS1:RN:Jean Dupont:LFPG:1")));
        QCOMPARE(events.size(), 5);
        QCOMPARE(events.at(4), QStringLiteral("added LFPG_TWR 118725 Jean Dupont 1"));
        // The table publishes what it holds to the back end once a second.
        QVERIFY(table->isSweepRunning());
        table->removeStaleControllers();
        const auto published = h.sim->callsTo(QStringLiteral("updateControllerList"))
                                   .last()
                                   .args.at(0)
                                   .value<QList<Controller>>();
        QCOMPARE(callsignsIn(published), QStringList{"LFPG_TWR"});
        QCOMPARE(published.constFirst().realName, QStringLiteral("Jean Dupont"));

        QVERIFY(h.deliver(QStringLiteral("#DALFPG_TWR:1234567")));
        table->removeStaleControllers();
        QCOMPARE(events.last(), QStringLiteral("deleted LFPG_TWR"));
        QVERIFY(table->controllers().isEmpty());
        QCOMPARE(h.sim->callsTo(QStringLiteral("updateControllerList"))
                     .last()
                     .args.at(0)
                     .value<QList<Controller>>(),
                 QList<Controller>());
    }
};

QTEST_GUILESS_MAIN(TestControllerManager)
#include "tst_controllermanager.moc"
