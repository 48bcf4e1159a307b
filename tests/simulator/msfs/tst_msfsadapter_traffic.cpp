#include "AppConfig.h"
#include "ConfigKeys.h"
#include "simulator/msfs/MsfsAdapter.h"
#include "support/AircraftIcaoFixtures.h"
#include "support/MsfsAdapterRig.h"
#include "tst_msfslibrary_fixture.h"

#include <QtTest>

using namespace velk;
using namespace velk::simulator::msfs;
using SI = StandInSimConnect;
using Sim = simulator::Simulator;

namespace {

manager::RemoteAircraft pilot(const QString& callsign, const QString& type = "A20N") {
    manager::RemoteAircraft aircraft;
    aircraft.callsign = callsign;
    aircraft.equipment = type;
    aircraft.airline = "DLH";
    aircraft.visualState = {31.5, 121.25, 3000, 0, 2, 270, 1, 0};
    aircraft.groundSpeed = 250.9;
    return aircraft;
}

} // namespace

class TestMsfsAdapterTraffic : public QObject, private MsfsAdapterRig {
    Q_OBJECT

    void connectAdapter(const QString& file = "SimConnect.dll") {
        lib->files = {file};
        adapter->reconnectSimulator();
        QVERIFY(adapter->session().isConnected());
        lib->clearCalls();
    }
    // Adds a pilot and lets the simulator name its object.
    void place(const QString& callsign, uint objectId) {
        adapter->addRemoteAircraft(pilot(callsign));
        const auto creates = lib->callsOf("SimConnect_AICreateNonATCAircraft");
        QVERIFY(!creates.isEmpty());
        deliver(SI::assignedObjectIdMessage(creates.last().args[2].toUInt(), objectId));
        QCOMPARE(adapter->objectIdOf(callsign), objectId);
        lib->clearCalls();
    }

private slots:
    void initTestCase() {
        qunsetenv("APPDATA");
        qunsetenv("LOCALAPPDATA");
        test::isolateUserDataFolder();
        QFile::remove(test::icaoDatabasePath(test::appDir()));
        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(test::appDir()),
                                        {test::icaoRecord(1, "A20N", "AIRBUS", "A-320neo")}));
        const QString p20 = test::freshDir("models") + "/P20";
        QVERIFY(test::writeText(p20 + "/Community/a320/SimObjects/Airplanes/X/aircraft.cfg",
                                "[GENERAL]\nicao_type_designator = A20N\n"
                                "[FLTSIM.0]\ntitle = Airbus A320 2020\natc_airline = DLH\n"));
        test::setInstall(MsfsRuntimeProfile::Msfs2020, p20);
        QVERIFY(test::rescan());
    }
    void init() { start(); }
    void cleanup() { stop(); }

    void addedPilotIsMatchedCreatedAndReported() {
        connectAdapter();
        QSignalSpy status(adapter.get(), &Sim::trafficMappingStatusChanged);
        QSignalSpy added(adapter.get(), &Sim::aircraftAddedToSim);
        auto aircraft = pilot("DLH4AB");
        aircraft.hasConfig = true;
        aircraft.config.gearDown = true;
        adapter->addRemoteAircraft(aircraft);
        QCOMPARE(status.size(), 1);
        QCOMPARE(status[0][0].toString(), QString("MSFS 映射 DLH4AB -> Airbus A320 2020"));
        const auto creates = lib->callsOf("SimConnect_AICreateNonATCAircraft");
        QCOMPARE(creates.size(), 1);
        QCOMPARE(creates[0].args[0].toString(), QString("Airbus A320 2020"));
        QCOMPARE(creates[0].args[1].toString(), QString("DLH4AB"));
        // Pitch 2 and bank 1 reach MSFS with its signs; heading 270 as is.
        QCOMPARE(creates[0].data.mid(24, 24), SI::f64(-2) + SI::f64(-1) + SI::f64(270));
        const uint requestId = creates[0].args[2].toUInt();
        QVERIFY(requestId != 0);
        QVERIFY(adapter->isAddPending("DLH4AB"));
        adapter->addRemoteAircraft(aircraft); // still pending: no second object
        QCOMPARE(lib->callsOf("SimConnect_AICreateNonATCAircraft").size(), 1);
        QCOMPARE(added.size(), 0);

        lib->clearCalls();
        deliver(SI::assignedObjectIdMessage(requestId + 100, 5)); // not ours
        QCOMPARE(added.size(), 0);
        deliver(SI::assignedObjectIdMessage(requestId, 42));
        QCOMPARE(added.size(), 1);
        QCOMPARE(added[0][0].toString(), QString("DLH4AB"));
        QCOMPARE(adapter->objectIdOf("DLH4AB"), 42u);
        // The configuration received before the object existed is applied now.
        const auto sets = lib->callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(sets.size(), 1);
        QCOMPARE(sets[0].args[1].toUInt(), 42u);
    }

    void aPilotRemovedOnItsArrivalIsNotConfigured() {
        connectAdapter();
        connect(adapter.get(), &Sim::aircraftAddedToSim, this, [this](const QString& callsign) {
            adapter->removeRemoteAircraft(callsign, "Deleted");
            adapter->addRemoteAircraft(pilot("DLH9"));
        });
        auto aircraft = pilot("DLH8");
        aircraft.hasConfig = true;
        aircraft.config.gearDown = true;
        adapter->addRemoteAircraft(aircraft);
        const uint requestId = lib->callsOf("SimConnect_AICreateNonATCAircraft")[0].args[2].toUInt();
        lib->clearCalls();
        deliver(SI::assignedObjectIdMessage(requestId, 42));
        QCOMPARE(lib->callsOf("SimConnect_AIRemoveObject").size(), 1);
        QVERIFY(lib->callsOf("SimConnect_SetDataOnSimObject").isEmpty());
        QVERIFY(adapter->isAddPending("DLH9"));
    }

    void theOpenMessageDecidesWhichModelsFit_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<QString>("created"); // empty: no local model
        QTest::newRow("KittyHawk 11 on the 2020 library")
            << "SimConnect.dll" << SI::openMsfs2020() << "Airbus A320 2020";
        QTest::newRow("KittyHawk 11 on the 2024 library")
            << "SimConnect2024.dll" << SI::openMsfs2020() << "Airbus A320 2020";
        QTest::newRow("major 12") << "SimConnect.dll" << SI::openMessage("", {12, 0, 1, 0}, {12, 0, 1, 0})
                                  << "";
    }
    void theOpenMessageDecidesWhichModelsFit() {
        QFETCH(QString, file);
        QFETCH(QByteArray, open);
        QFETCH(QString, created);
        lib->answerCreates = true;
        connectAdapter(file);
        deliver(open);
        QSignalSpy status(adapter.get(), &Sim::trafficMappingStatusChanged);
        auto aircraft = pilot("CES123");
        aircraft.airline = "";
        aircraft.livery = "star";
        adapter->addRemoteAircraft(aircraft);
        deliver(); // the simulator names the object
        const auto creates = lib->callsOf("SimConnect_AICreateNonATCAircraft");
        QCOMPARE(creates.value(0).args.value(0).toString(), created);
        QCOMPARE(adapter->objectIdOf("CES123") != 0, !created.isEmpty());
        if (created.isEmpty())
            QCOMPARE(status.value(0).value(0).toString(), QString("MSFS 无本地模型匹配：A20N/CES/STAR"));
    }

    void pilotsWithoutTypeOrConnectionAreNotAdded_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("connected");
        QTest::newRow("no type") << "" << true;
        QTest::newRow("not connected") << "A20N" << false;
    }
    void pilotsWithoutTypeOrConnectionAreNotAdded() {
        QFETCH(QString, type);
        QFETCH(bool, connected);
        if (connected)
            connectAdapter();
        else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot add remote aircraft"));
        adapter->addRemoteAircraft(pilot("AAL1", type));
        QVERIFY(!adapter->isAddPending("AAL1"));
        QVERIFY(lib->callsOf("SimConnect_AICreateNonATCAircraft").isEmpty());
    }

    void positionsAndConfigurationReachThePlacedObject() {
        connectAdapter();
        place("DLH1", 7);
        auto aircraft = pilot("DLH1");
        aircraft.groundSpeed = 140;
        adapter->updateRemoteAircraftPosition(aircraft, {31.6, 121.3, 2500, 0, 1, 90, 0, 0});
        auto moves = lib->callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves[0].args[0].toUInt(), SimConnectSession::kWaypointDefinition);
        QCOMPARE(moves[0].args[1].toUInt(), 7u);
        QCOMPARE(moves[0].data.left(8), SI::f64(31.6));
        QCOMPARE(moves[0].data.mid(16, 8), SI::f64(2500));
        QCOMPARE(moves[0].data.mid(28, 8), SI::f64(140));
        lib->clearCalls();
        adapter->updateRemoteAircraftFastPosition(aircraft, {31.7, 121.3, 2400, 0, 1, 90, 0, 0}, {}, {});
        QCOMPARE(lib->callsOf("SimConnect_SetDataOnSimObject").size(), 1);

        lib->clearCalls();
        aircraft.config.gearDown = false;
        aircraft.config.flapsPct = 50;
        aircraft.config.spoilersOut = true;
        aircraft.config.lights->beaconOn = true;
        aircraft.config.lights->navOn = false;
        adapter->updateRemoteAircraftConfig(aircraft);
        QStringList written;
        for (const auto& call : lib->callsOf("SimConnect_AddToDataDefinition"))
            written << call.args[1].toString();
        QCOMPARE(written, (QStringList{"GEAR HANDLE POSITION", "FLAPS HANDLE PERCENT",
                                       "SPOILERS HANDLE POSITION", "LIGHT BEACON", "LIGHT NAV"}));
        const auto sets = lib->callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(sets.size(), 5);
        QCOMPARE(sets[1].data, SI::f64(0.5));
        QCOMPARE(sets[2].data, SI::f64(16383));
        for (const auto& set : sets)
            QCOMPARE(set.args[1].toUInt(), 7u);

        lib->clearCalls();
        adapter->updateRemoteAircraftPosition(pilot("UNKNOWN"), {});
        QVERIFY(lib->calls.isEmpty());
    }

    void removalTakesTheObjectOut() {
        connectAdapter();
        place("DLH1", 7);
        place("DLH2", 8);
        QSignalSpy removed(adapter.get(), &Sim::aircraftRemovedFromSim);
        adapter->removeRemoteAircraft("DLH1", "Deleted");
        auto removes = lib->callsOf("SimConnect_AIRemoveObject");
        QCOMPARE(removes.size(), 1);
        QCOMPARE(removes[0].args[0].toUInt(), 7u);
        QVERIFY(removes[0].args[1].toUInt() != 0);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed[0][0].toString(), QString("DLH1"));
        adapter->removeRemoteAircraft("DLH1", "Deleted"); // gone already
        adapter->removeAllRemoteAircraft();
        QCOMPARE(lib->callsOf("SimConnect_AIRemoveObject").size(), 2);
        QCOMPARE(removed.size(), 2);
        QCOMPARE(adapter->objectIdOf("DLH2"), 0u);
    }

    void removalBeforeTheObjectIsNamedLeavesNoOrphan() {
        connectAdapter();
        QSignalSpy added(adapter.get(), &Sim::aircraftAddedToSim);
        adapter->addRemoteAircraft(pilot("DLH1"));
        const uint requestId = lib->callsOf("SimConnect_AICreateNonATCAircraft")[0].args[2].toUInt();
        adapter->removeRemoteAircraft("DLH1", "Stale");
        QVERIFY(lib->callsOf("SimConnect_AIRemoveObject").isEmpty());
        adapter->addRemoteAircraft(pilot("DLH1")); // back before the first object was named
        const uint secondId = lib->callsOf("SimConnect_AICreateNonATCAircraft")[1].args[2].toUInt();
        QVERIFY(secondId != requestId);
        deliver(SI::assignedObjectIdMessage(requestId, 9));
        QCOMPARE(added.size(), 0);
        const auto removes = lib->callsOf("SimConnect_AIRemoveObject");
        QCOMPARE(removes.size(), 1);
        QCOMPARE(removes[0].args[0].toUInt(), 9u);
        deliver(SI::assignedObjectIdMessage(secondId, 10));
        QCOMPARE(added.size(), 1);
        QCOMPARE(adapter->objectIdOf("DLH1"), 10u);
    }

    void refusedCreationsFreeOnlyTheirCallsign() {
        connectAdapter();
        lib->fail("SimConnect_AICreateNonATCAircraft"); // refused by the call itself
        adapter->addRemoteAircraft(pilot("DLH1"));
        QVERIFY(!adapter->isAddPending("DLH1"));
        lib->clearCalls();
        adapter->addRemoteAircraft(pilot("DLH1"));
        adapter->addRemoteAircraft(pilot("DLH2"));
        const auto creates = lib->callsOf("SimConnect_AICreateNonATCAircraft");
        deliver(SI::exceptionMessage(22, creates[1].sendId)); // the simulator refuses the second
        deliver(SI::exceptionMessage(22));                    // names no call: nobody is charged
        QVERIFY(adapter->isAddPending("DLH1"));
        QVERIFY(!adapter->isAddPending("DLH2"));
        deliver(SI::assignedObjectIdMessage(creates[0].args[2].toUInt(), 41));
        QCOMPARE(adapter->objectIdOf("DLH1"), 41u);
        adapter->addRemoteAircraft(pilot("DLH2")); // can be added again
        QVERIFY(adapter->isAddPending("DLH2"));
        QVERIFY(lib->callsOf("SimConnect_AIRemoveObject").isEmpty());
    }

    void anUnansweredCreationExpiresAndItsLateObjectIsRemoved() {
        connectAdapter();
        adapter->addRemoteAircraft(pilot("DLH1"));
        const uint first = lib->callsOf("SimConnect_AICreateNonATCAircraft")[0].args[2].toUInt();
        clock = MsfsAdapter::kCreateTimeoutMs - 1;
        adapter->expirePendingCreations();
        QVERIFY(adapter->isAddPending("DLH1"));
        clock = MsfsAdapter::kCreateTimeoutMs;
        adapter->expirePendingCreations();
        QVERIFY(!adapter->isAddPending("DLH1"));
        adapter->addRemoteAircraft(pilot("DLH1"));
        const uint second = lib->callsOf("SimConnect_AICreateNonATCAircraft")[1].args[2].toUInt();
        deliver(SI::assignedObjectIdMessage(first, 9)); // too late: nobody tracks it
        deliver(SI::assignedObjectIdMessage(4242, 5));  // no request of ours
        QList<uint> removed;
        for (const auto& call : lib->callsOf("SimConnect_AIRemoveObject"))
            removed << call.args[0].toUInt();
        QCOMPARE(removed, (QList<uint>{9, 5}));
        deliver(SI::assignedObjectIdMessage(second, 10));
        QCOMPARE(adapter->objectIdOf("DLH1"), 10u);
    }

    void failuresKeepTheAircraftAndOnlyALostConnectionRemovesThem_data() {
        QTest::addColumn<QString>("event");
        QTest::newRow("exception 33 on a move") << "exception";
        QTest::newRow("failed waypoint write") << "waypoint";
        QTest::newRow("quit") << "quit";
    }
    void failuresKeepTheAircraftAndOnlyALostConnectionRemovesThem() {
        QFETCH(QString, event);
        connectAdapter();
        place("DLH1", 7);
        place("DLH2", 8);
        adapter->addRemoteAircraft(pilot("DLH3")); // still pending
        QSignalSpy removed(adapter.get(), &Sim::aircraftRemovedFromSim);
        QSignalSpy state(adapter.get(), &Sim::simConnectionStateChanged);
        if (event == "waypoint")
            lib->fail("SimConnect_SetDataOnSimObject");
        adapter->updateRemoteAircraftPosition(pilot("DLH1"), {31.6, 121.3, 2500, 0, 1, 90, 0, 0});
        if (event == "exception")
            deliver(SI::exceptionMessage(33, lib->lastSendId()));
        const bool lost = event == "quit";
        if (lost)
            deliver(SI::quitMessage());
        QCOMPARE(adapter->session().isConnected(), !lost);
        QCOMPARE(adapter->objectIdOf("DLH1") + adapter->objectIdOf("DLH2"), lost ? 0u : 15u);
        QCOMPARE(adapter->isAddPending("DLH3"), !lost);
        QCOMPARE(removed.size(), lost ? 2 : 0);
        QCOMPARE(state.size(), lost ? 1 : 0);
        clock = 1000;
        adapter->tickConnection();
        QVERIFY(adapter->session().isConnected());
    }

    void trafficSnapshotIsPassedOn() {
        connectAdapter();
        QSignalSpy traffic(adapter.get(), &Sim::trafficSnapshotChanged);
        deliver(SI::trafficReply({{17, "", 31.1, 121.8}}).first());
        QCOMPARE(traffic.size(), 1);
        const QVariantMap contact = traffic[0][0].toList().value(0).toMap();
        const QStringList keys{"objectId",  "label",        "atcId",       "latitude",
                               "longitude", "altitudeFeet", "headingTrue", "groundSpeedKnots",
                               "onGround",  "beaconOn",     "navOn",       "strobeOn"};
        for (const QString& key : keys)
            QVERIFY2(contact.contains(key), qPrintable(key));
        QCOMPARE(contact["label"].toString(), QString("OBJ-17"));
        QCOMPARE(contact["latitude"].toDouble(), 31.1);
    }

    void libraryReloadShowsScanningThenTheCount() {
        QSignalSpy status(adapter.get(), &Sim::trafficMappingStatusChanged);
        AppConfig::instance()->setValue(ConfigKeys::ProfileRealname,
                                        QStringLiteral("x")); // other keys: nothing
        QCOMPARE(status.size(), 0);
        AppConfig::instance()->setValue(ConfigKeys::MSFSLibraryReloadToken, 7);
        QCOMPARE(status.value(0).value(0).toString(), QString("MSFS 机库扫描中..."));
        QTRY_VERIFY_WITH_TIMEOUT((adapter->pollLibrary(), MsfsAircraftLibrary::instance()->isReady()), 20000);
        adapter->pollLibrary();
        QCOMPARE(status.last().value(0).toString(), QString("MSFS 机库已扫描：1 个模型"));
        const int shown = int(status.size());
        adapter->pollLibrary();
        QCOMPARE(status.size(), shown);
    }
};

QTEST_GUILESS_MAIN(TestMsfsAdapterTraffic)
#include "tst_msfsadapter_traffic.moc"
