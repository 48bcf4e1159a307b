// The user's side of the configuration exchange: the token bucket, answers to
// full requests, and mode C at take-off.
#include "manager/UserAircraftManager.h"
#include "model/MetaTypes.h"
#include "support/SessionFixture.h"

using velk::manager::NetworkManager;
using velk::manager::UserAircraftManager;
using velk::model::RadioStackState;
using velk::model::UserAircraftConfigData;
using velk::test::FakeSimulator;
using velk::test::SessionHarness;

namespace {

UserAircraftConfigData parked() {
    UserAircraftConfigData d;
    d.beaconOn = true;
    d.navLightsOn = true;
    d.engineCount = 2;
    d.engine1Running = true;
    d.engine2Running = true;
    d.gearDown = true;
    d.onGround = true;
    return d;
}

} // namespace

class TestUserAircraftManager : public QObject {
    Q_OBJECT

private:
    SessionHarness h;
    std::unique_ptr<UserAircraftManager> user;

    void bind() { h.bindSimulator(); }

    QStringList accLines() { return h.sentLinesStartingWith(QStringLiteral("$CQOBS1:")); }

    void report(const UserAircraftConfigData& d) { emit h.sim->userAircraftConfigDataChanged(d); }

    void modeC(bool on) {
        RadioStackState radios;
        radios.squawkingModeC = on;
        h.sim->setRadioStackState(radios);
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
        user = std::make_unique<UserAircraftManager>(h.nm);
    }

    void cleanup() {
        user.reset();
        h.destroy();
    }

    void theFirstReportIsOnlyTheBaseline() {
        bind();
        report(parked());
        QCOMPARE(user->sendTokens(), 10);
        UserAircraftConfigData d = parked();
        d.landingLightsOn = true;
        report(d);
        QCOMPARE(user->sendTokens(), 9);
    }

    void aReportEqualToTheLastSentUsesNoToken() {
        bind();
        report(parked());
        UserAircraftConfigData d = parked();
        d.flapsRatio = 0.01; // below one 5 % step: the same configuration
        report(d);
        d.speedbrakeArmed = true; // not part of the configuration
        report(d);
        QCOMPARE(user->sendTokens(), 10);
    }

    void tenChangesInABurstAreSentAndTheEleventhWaitsForARefill() {
        // The bucket refills whether or not the session is up.
        QVERIFY(user->isRefillRunning());
        bind();
        UserAircraftConfigData d = parked();
        report(d);
        for (int i = 1; i <= 11; ++i) {
            d.flapsRatio = i * 0.05;
            report(d);
        }
        QCOMPARE(user->sendTokens(), 0);
        user->onRefillTimer();
        QCOMPARE(user->sendTokens(), 1);
        report(d); // the change held back is sent now
        QCOMPARE(user->sendTokens(), 0);
        for (int i = 0; i < 12; ++i) {
            user->onRefillTimer();
        }
        QCOMPARE(user->sendTokens(), 10);
    }

    void takeOffSwitchesToModeCOnceWhenItIsOff() {
        bind();
        emit h.sim->simConnectionStateChanged(true);
        modeC(false);
        UserAircraftConfigData d = parked();
        report(d);
        report(d);
        d.onGround = false;
        report(d);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 1);
        report(d);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 1);

        // Landing and taking off again with mode C on: nothing to switch.
        d.onGround = true;
        report(d);
        modeC(true);
        d.onGround = false;
        report(d);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 1);

        // And with mode C off at the next take-off it toggles again.
        d.onGround = true;
        report(d);
        modeC(false);
        d.onGround = false;
        report(d);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 2);
    }

    void theFirstReportAfterTheBackEndReconnectsNeverToggles() {
        bind();
        emit h.sim->simConnectionStateChanged(true);
        UserAircraftConfigData d = parked();
        report(d);
        emit h.sim->simConnectionStateChanged(false);
        emit h.sim->simConnectionStateChanged(true);
        d.onGround = false;
        report(d);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 0);
    }

    void aNewBackEndReplacesTheOldOneWithoutResettingTheExchange() {
        bind();
        report(parked());
        auto second = std::make_shared<FakeSimulator>();
        h.nm->setSimulator(second);

        UserAircraftConfigData d = parked();
        d.strobesOn = true;
        report(d); // the old back end: no longer heard
        QCOMPARE(user->sendTokens(), 10);
        emit second->userAircraftConfigDataChanged(d);
        QCOMPARE(user->sendTokens(), 9); // the baseline was kept

        emit second->simConnectionStateChanged(true);
        emit second->userAircraftConfigDataChanged(d);
        d.onGround = false;
        emit second->userAircraftConfigDataChanged(d);
        QCOMPARE(second->count(QStringLiteral("transponderModeToggle")), 1);
        QCOMPARE(h.sim->count(QStringLiteral("transponderModeToggle")), 0);
    }

    void incrementsAreBroadcastWithOnlyWhatChanged() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        UserAircraftConfigData d = parked();
        report(d);
        d.landingLightsOn = true;
        report(d);
        d.gearDown = false;
        d.flapsRatio = 0.37;
        report(d);
        QCOMPARE(accLines(), (QStringList{
                                 R"($CQOBS1:@94386:ACC:{"config":{"lights":{"landing_on":true}}})",
                                 R"($CQOBS1:@94386:ACC:{"config":{"flaps_pct":35,"gear_down":false}})",
                             }));
        QCOMPARE(user->sendTokens(), 8);
    }

    void theChangeHeldBackByAnEmptyBucketGoesOutWithTheNextOneAfterARefill() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        UserAircraftConfigData d = parked();
        report(d);
        for (int i = 1; i <= 10; ++i) {
            d.flapsRatio = i * 0.05;
            report(d);
        }
        d.taxiLightsOn = true;
        report(d);
        const QStringList burst = accLines();
        QCOMPARE(burst.size(), 10);
        QCOMPARE(burst.last(), QStringLiteral(R"($CQOBS1:@94386:ACC:{"config":{"flaps_pct":50}})"));

        user->onRefillTimer();
        d.strobesOn = true;
        report(d);
        QCOMPARE(
            accLines(),
            QStringList{R"($CQOBS1:@94386:ACC:{"config":{"lights":{"strobe_on":true,"taxi_on":true}}})"});
    }

    void aFullRequestIsAnsweredAtOnceWithoutAToken() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        report(parked());
        QVERIFY(h.deliver(QStringLiteral(R"($CQCES123:OBS1:ACC:{"request":"full"})")));
        QCOMPARE(
            accLines(),
            (QStringList{QStringLiteral(
                R"($CQOBS1:CES123:ACC:{"config":{"engines":{"1":{"is_reversing":false,"on":true},"2":)"
                R"({"is_reversing":false,"on":true}},"flaps_pct":0,"gear_down":true,"is_full_data":true,)"
                R"("lights":{"beacon_on":true,"landing_on":false,"nav_on":true,"strobe_on":false,)"
                R"("taxi_on":false},"on_ground":true,"spoilers_out":false}})")}));
        QCOMPARE(user->sendTokens(), 10);
    }

    void beforeAnyReportARequestIsAnsweredFromAnAllOffAircraft() {
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        QVERIFY(h.deliver(QStringLiteral(R"($CQCES123:OBS1:ACC:{"request":"full"})")));
        QVERIFY(h.deliver(QStringLiteral(R"($CQCES123:OBS1:ACC:{"config":{"gear_down":true}})")));
        QCOMPARE(accLines(),
                 (QStringList{QStringLiteral(
                     R"($CQOBS1:CES123:ACC:{"config":{"flaps_pct":0,"gear_down":false,"is_full_data":true,)"
                     R"("lights":{"beacon_on":false,"landing_on":false,"nav_on":false,"strobe_on":false,)"
                     R"("taxi_on":false},"on_ground":false,"spoilers_out":false}})")}));
    }

    void changesWhileOffTheNetworkUseTokensAndReachNobody() {
        bind();
        UserAircraftConfigData d = parked();
        report(d);
        d.landingLightsOn = true;
        report(d);
        QCOMPARE(user->sendTokens(), 9);
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        report(d); // already sent as far as the others are concerned
        QVERIFY(accLines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUserAircraftManager)
#include "tst_useraircraftmanager.moc"
