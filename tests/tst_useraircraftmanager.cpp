// The user's side of the configuration exchange: the token bucket, answers to
// full requests, and mode C at take-off.
#include "manager/NetworkManager.h"
#include "manager/UserAircraftManager.h"
#include "model/MetaTypes.h"
#include "support/FakeSimulator.h"

#include <QTest>

#include <memory>

using velk::manager::NetworkManager;
using velk::manager::UserAircraftManager;
using velk::model::RadioStackState;
using velk::model::UserAircraftConfigData;
using velk::test::FakeSimulator;

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
    std::shared_ptr<NetworkManager> nm;
    std::shared_ptr<FakeSimulator> sim;
    std::unique_ptr<UserAircraftManager> user;

    void bind() {
        nm->setSimulator(sim);
        sim->clearCalls();
    }

    void report(const UserAircraftConfigData& d) { emit sim->userAircraftConfigDataChanged(d); }

    void modeC(bool on) {
        RadioStackState radios;
        radios.squawkingModeC = on;
        sim->setRadioStackState(radios);
    }

private slots:
    void initTestCase() { velk::model::registerMetaTypes(); }

    void init() {
        nm = std::make_shared<NetworkManager>();
        sim = std::make_shared<FakeSimulator>();
        user = std::make_unique<UserAircraftManager>(nm);
    }

    void cleanup() {
        user.reset();
        nm.reset();
        sim.reset();
    }

    void theBucketStartsFullAndRefillsForTheWholeLife() {
        QCOMPARE(user->sendTokens(), 10);
        QVERIFY(user->isRefillRunning());
        user->onRefillTimer();
        QCOMPARE(user->sendTokens(), 10);
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
        emit sim->simConnectionStateChanged(true);
        modeC(false);
        UserAircraftConfigData d = parked();
        report(d);
        report(d);
        d.onGround = false;
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 1);
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 1);

        // Landing and taking off again with mode C on: nothing to switch.
        d.onGround = true;
        report(d);
        modeC(true);
        d.onGround = false;
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 1);

        // And with mode C off at the next take-off it toggles again.
        d.onGround = true;
        report(d);
        modeC(false);
        d.onGround = false;
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 2);
    }

    void theFirstReportAfterTheBackEndReconnectsNeverToggles() {
        bind();
        emit sim->simConnectionStateChanged(true);
        UserAircraftConfigData d = parked();
        report(d);
        emit sim->simConnectionStateChanged(false);
        emit sim->simConnectionStateChanged(true);
        d.onGround = false;
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 0);
    }

    void noTakeOffCheckWhileTheBackEndIsNotConnected() {
        bind();
        UserAircraftConfigData d = parked();
        report(d);
        d.onGround = false;
        report(d);
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 0);
    }

    void aNewBackEndReplacesTheOldOneWithoutResettingTheExchange() {
        bind();
        report(parked());
        auto second = std::make_shared<FakeSimulator>();
        nm->setSimulator(second);

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
        QCOMPARE(sim->count(QStringLiteral("transponderModeToggle")), 0);
    }
};

QTEST_GUILESS_MAIN(TestUserAircraftManager)
#include "tst_useraircraftmanager.moc"
