// Position reports of the user's aircraft, as the FSD server receives them.
#include "tst_networkmanager_fixture.h"

using velk::model::RadioStackState;
using velk::model::UserAircraftConfigData;
using velk::model::UserAircraftData;
using velk::test::SessionHarness;

namespace {

const QString kPosition = QStringLiteral("@N:ABC123:2000:1:31.143420:121.805200:10000:250:4236131328:120");
const QString kHead = QStringLiteral("ABC123:31.143420:121.805200:10000.90:328.08:4236131328:");
const QString kStopped = QStringLiteral("#ST") + kHead + QStringLiteral("0.00");
const QString kPaused =
    QStringLiteral("^") + kHead + QStringLiteral("0.0000:0.0000:0.0000:0.0000:0.0000:0.0000:0.00");

} // namespace

class TestNetworkManagerPositions : public QObject {
    Q_OBJECT

private:
    SessionHarness h;

    // Airborne at FL100 with the given velocities.
    void fly(double latitudeVelocity, double bankVelocity = 0.0) {
        UserAircraftData d;
        d.latitude = 31.14342;
        d.longitude = 121.8052;
        d.altitudeMslM = 3048;
        d.altitudeAglM = 100;
        d.groundSpeed = 250.7;
        d.pitch = 5;
        d.bank = 10;
        d.heading = 270;
        d.latitudeVelocity = latitudeVelocity;
        d.bankVelocity = bankVelocity;
        h.sim->setUserAircraftData(d);
    }

private slots:
    void initTestCase() {
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }

    void init() {
        h.create();
        QVERIFY(h.loginPilot());
        h.sim->altitudeFeet = 10000.9;
        h.sim->pressureAltitudeFeet = 10120.2;
        RadioStackState radio;
        radio.transponderCode = 2000;
        radio.squawkingModeC = true;
        h.sim->setRadioStackState(radio);
        UserAircraftConfigData config;
        config.onGround = false;
        h.sim->setUserAircraftConfigData(config);
    }

    void cleanup() { h.destroy(); }

    void aStillAircraftSendsOnlyItsPosition() {
        fly(0.0049);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{kPosition});
    }

    void aMovingAircraftSendsTheSlowReportFirst() {
        fly(0.005);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(),
                 (QStringList{"#SL" + kHead + "0.0000:0.0000:0.0050:0.0000:0.0000:0.0000:0.00", kPosition}));
    }

    void aRollRateAloneCountsAsStill() {
        fly(0.0, 0.3);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{kPosition});
    }

    void aPausedSimulatorReportsZeroVelocities() {
        fly(2.0);
        emit h.sim->simPausedStateChanged(true);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(), (QStringList{kPaused, kPosition}));
        h.nm->onFastPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{kPaused});
    }

    void sendFastStartsAndStopsTheFastReports() {
        QVERIFY(h.deliver(QStringLiteral("$SFSERVER:OTHER1:1")));
        QVERIFY(!h.nm->isFastPositionTimerActive());
        QVERIFY(h.deliver(QStringLiteral("$SFSERVER:abc123:1")));
        QVERIFY(h.nm->isFastPositionTimerActive());

        fly(1.5);
        h.nm->onFastPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{"^" + kHead + "0.0000:0.0000:1.5000:0.0000:0.0000:0.0000:0.00"});
        fly(0.0);
        h.nm->onFastPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{kStopped});

        QVERIFY(h.deliver(QStringLiteral("$SFSERVER:ABC123:0")));
        QVERIFY(!h.nm->isFastPositionTimerActive());
        QCOMPARE(h.sentLines(), QStringList{kStopped});
    }

    void anObserverSendsItsPositionAndNoFastReports() {
        h.destroy();
        h.create();
        QVERIFY(h.loginObserver());
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(), QStringList{"%ABC_OBS:99998:0:40:1:0.00000:0.00000:0"});
        QVERIFY(h.deliver(QStringLiteral("$SFSERVER:ABC_OBS:1")));
        h.nm->onFastPositionTimer();
        QCOMPARE(h.sentLines(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerPositions)
#include "tst_networkmanager_positions.moc"
