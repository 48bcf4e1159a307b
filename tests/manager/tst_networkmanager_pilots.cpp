// Other pilots: the pilot table, their information requests, types, positions
// and departure, and the controllers relayed to the controller table.
#include "tst_networkmanager_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
using velk::model::AircraftVisualState;
using velk::model::VelocityVector;
using velk::test::SessionHarness;

namespace {

QString fast(const QString& prefix, const QString& callsign, double vx, double vz) {
    return QStringLiteral("%1%2:50.000000:8.500000:35000.00:0.00:0:%3:0.0000:%4:0.0000:0.0000:0.0000:0.00")
        .arg(prefix, callsign, QString::number(vx, 'f', 4), QString::number(vz, 'f', 4));
}

QString flightPlan(const QString& callsign, const QString& aircraft) {
    return QStringLiteral("$FP%1:SERVER:I:%2:480:EDDF:1200:1200:FL350:KJFK:8:0:9:0:EGLL:none:DCT")
        .arg(callsign, aircraft);
}

} // namespace

class TestNetworkManagerPilots : public QObject {
    Q_OBJECT

private:
    SessionHarness h;

private slots:
    void initTestCase() {
        // A small aircraft-type database, imported at its first use.
        QDir().mkpath(velk::test::appDir() + "/resources");
        QFile doc(velk::test::appDir() + "/resources/Doc8643.txt");
        QVERIFY(doc.open(QIODevice::WriteOnly));
        doc.write(
            "AIRBUS\tA-320\tA320\tL2J\tM\nBOEING\t737-800\tB738\tL2J\tM\nBOEING\t747-400\tB744\tL4J\tH\n");
        doc.close();
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }
    void init() {
        h.create();
        QVERIFY(h.loginPilot());
    }
    void cleanup() {
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::AuthVatsim, false);
        h.destroy();
    }

    void aRemotePilotIsAskedTypedAddedMovedAndForgotten() {
        QSignalSpy slow(h.nm.get(), &NetworkManager::slowPositionUpdateReceived);
        QSignalSpy fastSpy(h.nm.get(), &NetworkManager::fastPositionUpdateReceived);
        QSignalSpy info(h.nm.get(), &NetworkManager::aircraftInfoReceived);
        QSignalSpy deleted(h.nm.get(), &NetworkManager::pilotDeleted);

        QVERIFY(h.deliver(QStringLiteral("@N:dlh1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sentLines(), (QStringList{"#SBABC123:DLH1:PIR", "$CQABC123:SERVER:FP:DLH1"}));
        QCOMPARE(slow.count(), 1);
        QCOMPARE(slow.first().at(0).toString(), QStringLiteral("DLH1"));
        QCOMPARE(slow.first().at(2).toDouble(), 450.0);
        QCOMPARE(slow.first().at(1).value<AircraftVisualState>().altitudeTrue, 35000.0);
        QVERIFY(h.deliver(QStringLiteral("@N:DLH1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sentLines(), QStringList());
        QCOMPARE(h.sim->count("addRemoteAircraft"), 0);

        // The type goes through the aircraft-type database.
        QVERIFY(h.deliver(
            QStringLiteral("#SBDLH1:ABC123:PI:GEN:EQUIPMENT=xx/a320:AIRLINE=dlh:LIVERY=swift_abc")));
        QCOMPARE(info.last(), (QVariantList{"DLH1", "A320", "DLH"}));
        QCOMPARE(h.sim->count("addRemoteAircraft"), 1);
        const auto added = h.sim->callsTo("addRemoteAircraft").first().args.first().value<RemoteAircraft>();
        QCOMPARE(added.livery, QStringLiteral("SWIFT_ABC"));
        QCOMPARE(added.modelHint, QStringLiteral("SWIFT_ABC"));
        QCOMPARE(h.sentLines(), QStringList{R"($CQABC123:DLH1:ACC:{"request":"full"})"});

        QVERIFY(h.deliver(QStringLiteral("#SBDLH1:ABC123:PI:GEN:EQUIPMENT=A320:CSL=XYZ")));
        QCOMPARE(h.nm->pilot("DLH1")->modelHint, QStringLiteral("XYZ"));
        QCOMPARE(h.nm->pilot("DLH1")->airline, QStringLiteral("DLH"));

        QVERIFY(h.deliver(
            QStringLiteral(R"($CQDLH1:ABC123:ACC:{"config":{"is_full_data":true,"gear_down":true}})")));
        QCOMPARE(h.sim->count("updateRemoteAircraftConfig"), 1);
        QVERIFY(h.deliver(QStringLiteral("@N:DLH1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sim->count("updateRemoteAircraftPosition"), 1);

        QVERIFY(h.deliver(fast("^", "dlh1", 3, 4)));
        QCOMPARE(fastSpy.count(), 1);
        QCOMPARE(fastSpy.first().at(0).toString(), QStringLiteral("DLH1"));
        QCOMPARE(fastSpy.first().at(2).value<VelocityVector>(), (VelocityVector{3, 0, 4}));
        QVERIFY(qAbs(h.nm->pilot("DLH1")->groundSpeed - 9.71922) < 1e-5);
        QCOMPARE(h.sim->count("updateRemoteAircraftFastPosition"), 1);

        // The remote aircraft table takes it out of the simulator, on pilotDeleted.
        QVERIFY(h.deliver(QStringLiteral("#DPDLH1:1234")));
        QCOMPARE(h.sim->count("removeRemoteAircraft"), 0);
        QCOMPARE(deleted.last().at(0).toString(), QStringLiteral("DLH1"));
        QCOMPARE(h.nm->pilot("DLH1"), nullptr);
    }

    void groundSpeedFollowsTheFastPositionVelocities() {
        QVERIFY(h.deliver(fast("^", "DLH2", 500, 0)));
        QCOMPARE(h.nm->pilot("DLH2")->groundSpeed, 900.0);
        QVERIFY(h.deliver(fast("#SL", "DLH2", 0.03, 0.03)));
        QCOMPARE(h.nm->pilot("DLH2")->groundSpeed, 900.0);
        QSignalSpy fastSpy(h.nm.get(), &NetworkManager::fastPositionUpdateReceived);
        QVERIFY(h.deliver(QStringLiteral("#STdlh2:50.000000:8.500000:35000.00:0.00:0:0.00")));
        QCOMPARE(h.nm->pilot("DLH2")->groundSpeed, 0.0);
        QCOMPARE(fastSpy.first().at(0).toString(), QStringLiteral("DLH2"));
    }

    void noFlightPlanLetsTheInformationBeAskedAgain() {
        QVERIFY(h.deliver(QStringLiteral("@N:DLH3:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sentLines().size(), 2);
        QVERIFY(h.deliver(QStringLiteral("$ERSERVER:ABC123:008:dlh3:No flightplan")));
        QVERIFY(h.deliver(QStringLiteral("@N:DLH3:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sentLines(), (QStringList{"#SBABC123:DLH3:PIR", "$CQABC123:SERVER:FP:DLH3"}));
    }

    void theFlightPlanIsFetchedAtMostOncePerPilot() {
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::AuthVatsim, true);
        QVERIFY(h.deliver(QStringLiteral("@N:DLH4:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sentLines(), (QStringList{"#SBABC123:DLH4:PIR", "$CQABC123:SERVER:FP:DLH4",
                                             "#TMABC123:SERVER:FP:DLH4:GET"}));
        QVERIFY(h.deliver(flightPlan("DLH4", "H/B744/L")));
        QCOMPARE(h.nm->pilot("DLH4")->equipment, QStringLiteral("B744"));
        const int updates = h.sim->count("updateRemoteAircraftConfig");
        QVERIFY(h.deliver(flightPlan("DLH4", "b744")));
        QCOMPARE(h.sim->count("updateRemoteAircraftConfig"), updates);
        QVERIFY(h.deliver(flightPlan("DLH4", "T/B738/F")));
        QCOMPARE(h.sim->count("updateRemoteAircraftConfig"), updates + 1);
        QCOMPARE(h.sim->count("addRemoteAircraft"), 1);
        QCOMPARE(h.sentLines(), QStringList{R"($CQABC123:DLH4:ACC:{"request":"full"})"});
        QVERIFY(h.deliver(flightPlan("DLH5", " ")));
        QCOMPARE(h.nm->pilot("DLH5"), nullptr);
    }

    void ourPlaneInformationIsAnswered() {
        QVERIFY(h.deliver(QStringLiteral("#SBDLH1:ABC123:PIR")));
        QCOMPARE(h.sentLines(), QStringList{"#SBABC123:DLH1:PI:GEN:EQUIPMENT=A320:AIRLINE=ABC"});
    }

    void departuresAndControllersAreRelayed() {
        QSignalSpy voice(h.nm.get(), &NetworkManager::disableVoiceTransmit);
        QSignalSpy deleted(h.nm.get(), &NetworkManager::pilotDeleted);
        QSignalSpy atc(h.nm.get(), &NetworkManager::controllerUpdateReceived);
        QSignalSpy atcGone(h.nm.get(), &NetworkManager::controllerDeleted);
        QVERIFY(h.deliver(QStringLiteral("#DPabc123:1")));
        QVERIFY(h.deliver(QStringLiteral("#DPNOBODY:1")));
        QCOMPARE(voice.count(), 1);
        QCOMPARE(deleted.count(), 2);
        QVERIFY(h.deliver(QStringLiteral("%ZSSS_TWR:18100:4:50:5:31.10000:121.30000:0")));
        QVERIFY(h.deliver(QStringLiteral("#DAzsss_twr:1")));
        QCOMPARE(atc.first(), (QVariantList{"ZSSS_TWR", 118100u, 31.1, 121.3}));
        QCOMPARE(atcGone.first().at(0).toString(), QStringLiteral("ZSSS_TWR"));
    }

    // Only pilots with a position and heard from within the stale limit.
    void knownPilotsStillHeardFromArePutIntoANewBackEnd() {
        qint64 clockMs = QDateTime::currentMSecsSinceEpoch();
        h.nm->setClock([&clockMs] { return clockMs; });
        const QString position = QStringLiteral("@N:%1:1200:1:50.000000:8.500000:35000:450:0:0");
        QVERIFY(h.deliver(QStringLiteral("#SBDLH5:ABC123:PI:GEN:EQUIPMENT=B738"))); // no position
        QVERIFY(h.deliver(position.arg("DLH4")));
        QVERIFY(h.deliver(QStringLiteral("#SBDLH4:ABC123:PI:GEN:EQUIPMENT=B738")));
        clockMs += 15'000;
        QVERIFY(h.deliver(QStringLiteral("#SBDLH6:ABC123:PI:GEN:EQUIPMENT=B738")));
        QVERIFY(h.deliver(position.arg("DLH6")));
        QVERIFY(h.deliver(position.arg("DLH7"))); // no type
        clockMs += 1;
        auto second = std::make_shared<velk::test::FakeSimulator>();
        h.nm->setSimulator(second);
        QCOMPARE(second->count("addRemoteAircraft"), 1);
        QCOMPARE(second->callsTo("addRemoteAircraft").first().args.first().value<RemoteAircraft>().callsign,
                 QStringLiteral("DLH6"));
    }

    // Taking them out of the simulator is the remote aircraft table's.
    void pilotsNotHeardFromExpire() {
        qint64 clockMs = QDateTime::currentMSecsSinceEpoch();
        h.nm->setClock([&clockMs] { return clockMs; });
        QVERIFY(h.deliver(QStringLiteral("@N:DLH1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QVERIFY(h.deliver(QStringLiteral("#SBDLH1:ABC123:PI:GEN:EQUIPMENT=A320")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:FP:CALLSIGN=DLH2:AIRCRAFT=B738")));
        h.sim->clearCalls();
        clockMs += 15'000;
        h.nm->expireStalePilots();
        QCOMPARE(h.nm->pilotCount(), 2);
        clockMs += 1;
        h.nm->expireStalePilots();
        QCOMPARE(h.nm->pilotCount(), 0);
        QCOMPARE(h.sim->count("removeRemoteAircraft"), 0);
        // Heard from again: a new pilot, asked for its plane again.
        QVERIFY(h.deliver(QStringLiteral("@N:DLH1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QVERIFY(h.sentLines().contains(QStringLiteral("#SBABC123:DLH1:PIR")));
    }

    void aFloodOfCallsignsIsCappedDroppingTheLeastRecentlyHeard() {
        qint64 clockMs = QDateTime::currentMSecsSinceEpoch();
        h.nm->setClock([&clockMs] { return clockMs; });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Pilot table full at"));
        const int flood = NetworkManager::MaxPilots + 1;
        for (int i = 0; i < flood; ++i) {
            ++clockMs;
            emit h.nm->fsdClient()->raisePlaneInfoResponseReceived(
                velk::fsd::pdu::PlaneInfoResponse(QStringLiteral("FAKE%1").arg(i), QStringLiteral("ABC123"),
                                                  QStringLiteral("B738"), QString(), QString(), QString()));
        }
        QVERIFY(h.nm->pilotCount() <= NetworkManager::MaxPilots);
        QVERIFY(h.nm->pilotCount() >= NetworkManager::MaxPilots * 9 / 10);
        QVERIFY(h.nm->pilot(QStringLiteral("FAKE%1").arg(flood - 1)) != nullptr);
        QCOMPARE(h.nm->pilot(QStringLiteral("FAKE0")), nullptr);
    }

    void anObserverDoesNotSeeItsOwnAircraft() {
        h.destroy();
        h.create();
        h.bindValidSimulator();
        QVERIFY(h.loginObserver(QStringLiteral("ABC123X")));
        QSignalSpy slow(h.nm.get(), &NetworkManager::slowPositionUpdateReceived);
        QSignalSpy fastSpy(h.nm.get(), &NetworkManager::fastPositionUpdateReceived);
        for (const char* callsign : {"ABC123", "ABC12", "ABC123XY"}) {
            QVERIFY(h.deliver(QStringLiteral("@N:%1:1200:1:50.000000:8.500000:35000:450:0:0").arg(callsign)));
        }
        QVERIFY(h.deliver(fast("^", "ABC123", 1, 1)));
        QCOMPARE(slow.count(), 2);
        QCOMPARE(slow.at(0).at(0).toString(), QStringLiteral("ABC12"));
        QCOMPARE(fastSpy.count(), 1);
        // Received callsigns are plain text, never a pattern.
        QVERIFY(h.deliver(QStringLiteral("@N:.*:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(slow.count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerPilots)
#include "tst_networkmanager_pilots.moc"
