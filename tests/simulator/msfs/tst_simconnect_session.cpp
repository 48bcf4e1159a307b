#include "support/SimConnectRig.h"

#include <QtTest>

#include <memory>

using namespace velk::simulator::msfs;

class TestSimConnectSession : public QObject {
    Q_OBJECT

    std::unique_ptr<SimConnectRig> rig;

private slots:
    void init() { rig = std::make_unique<SimConnectRig>(); }
    void cleanup() { rig.reset(); }

    void connectTriesTheNewerLibraryFirstAndCollectsEveryFailure_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("missing2024");
        QTest::addColumn<QString>("missing2020");
        QTest::addColumn<QString>("failOpen");
        QTest::addColumn<int>("profile"); // -1: connect fails
        QTest::addColumn<QString>("error");

        const QString both = "SimConnect2024.dll,SimConnect.dll";
        QTest::newRow("no library")
            << QStringList{} << ""
            << ""
            << "" << -1
            << "Failed to connect to MSFS via SimConnect: Failed to load SimConnect2024.dll "
               "(Win32 error 126); Failed to load SimConnect.dll (Win32 error 126)";
        QTest::newRow("2024 lacks a required call") << both.split(',') << "SimConnect_AIRemoveObject"
                                                    << ""
                                                    << "" << 1 << "";
        QTest::newRow("both unusable")
            << both.split(',') << "SimConnect_AIRemoveObject"
            << ""
            << "SimConnect.dll" << -1
            << "Failed to connect to MSFS via SimConnect: Failed to resolve SimConnect_AIRemoveObject from "
               "SimConnect2024.dll; SimConnect.dll open failed with HRESULT 0x80004005";
        QTest::newRow("open without a handle") << QStringList{"SimConnect.dll"} << ""
                                               << ""
                                               << "no handle" << -1
                                               << "Failed to connect to MSFS via SimConnect: Failed to load "
                                                  "SimConnect2024.dll (Win32 error 126); "
                                                  "SimConnect.dll open returned no handle";
        QTest::newRow("optional calls missing") << QStringList{"SimConnect.dll"} << ""
                                                << "SimConnect_AICreateNonATCAircraft_EX1"
                                                << "" << 1 << "";
        QTest::newRow("2024 library") << both.split(',') << ""
                                      << ""
                                      << "" << 2 << "";
    }
    void connectTriesTheNewerLibraryFirstAndCollectsEveryFailure() {
        QFETCH(QStringList, files);
        QFETCH(QString, missing2024);
        QFETCH(QString, missing2020);
        QFETCH(QString, failOpen);
        QFETCH(int, profile);
        QFETCH(QString, error);
        rig->lib.files = QSet<QString>(files.begin(), files.end());
        rig->lib.missingFunctions["SimConnect2024.dll"] = {missing2024};
        rig->lib.missingFunctions["SimConnect.dll"] = {missing2020, "SimConnect_EnumerateInputEvents",
                                                       "SimConnect_SubscribeInputEvent"};
        if (failOpen == "no handle")
            rig->lib.openWithoutHandle = true;
        else if (!failOpen.isEmpty())
            rig->lib.fail("SimConnect_Open", 1, [](const auto&) { return true; });
        if (!failOpen.isEmpty() && files.contains("SimConnect2024.dll") && missing2024.isEmpty())
            QFAIL("row would fail the wrong library");
        QSignalSpy connected(&rig->session, &SimConnectSession::connected);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);

        QCOMPARE(rig->session.connectToSimulator(), profile >= 0);
        QCOMPARE(rig->session.isConnected(), profile >= 0);
        QCOMPARE(connected.size(), profile >= 0 ? 1 : 0);
        if (profile < 0) {
            QCOMPARE(errors.size(), 1);
            QCOMPARE(errors[0][0].value<SimConnectError>(), SimConnectError::ConnectFailed);
            QCOMPARE(errors[0][1].toString(), error);
            QVERIFY(!simConnectFunctions().module);
            QCOMPARE(rig->lib.loads, rig->lib.unloads);
            return;
        }
        QCOMPARE(int(rig->session.runtimeProfile()), profile);
        const auto open = rig->lib.callsOf("SimConnect_Open").last().args;
        QCOMPARE(open, (QVariantList{"VELK Client", true, 0u, true, 0xFFFFFFFFu}));
    }

    void withoutStandInNoLibraryIsFound() {
        installSimConnectLoader(nullptr);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        QVERIFY(!rig->session.connectToSimulator());
        installSimConnectLoader(&rig->lib);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0][1].toString().startsWith("Failed to connect to MSFS via SimConnect: Failed to load "
                                                   "SimConnect2024.dll"));
    }

    void reconnectReusesTheLoadedLibraryAndConnectTwiceIsHarmless() {
        QVERIFY(rig->connect("SimConnect2024.dll"));
        const int lookups = rig->lib.lookups;
        QVERIFY(rig->session.connectToSimulator()); // already connected
        QVERIFY(rig->lib.callsOf("SimConnect_Open").isEmpty());

        QSignalSpy disconnected(&rig->session, &SimConnectSession::disconnected);
        rig->session.disconnect();
        rig->session.disconnect();
        QCOMPARE(disconnected.size(), 1);
        QCOMPARE(rig->lib.callsOf("SimConnect_Close").size(), 1);
        QCOMPARE(rig->session.runtimeProfile(), MsfsRuntimeProfile::Unknown);

        QVERIFY(rig->session.connectToSimulator());
        QCOMPARE(rig->lib.loads, 1);
        QCOMPARE(rig->lib.lookups, lookups);
    }

    void openMessageSetsVersionsAndMaySwitchTheProfile_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("app");
        QTest::addColumn<quint32>("major");
        QTest::addColumn<int>("profile");
        QTest::addColumn<int>("profileSignals");
        // MSFS 2020 reports "KittyHawk" 11.0.x.
        QTest::newRow("KittyHawk 11 confirms 2020")
            << "SimConnect.dll" << QByteArray("KittyHawk") << 11u << 1 << 0;
        QTest::newRow("KittyHawk on the 2024 library")
            << "SimConnect2024.dll" << QByteArray("KittyHawk") << 11u << 1 << 1;
        QTest::newRow("major 11 alone") << "SimConnect2024.dll" << QByteArray() << 11u << 1 << 1;
        QTest::newRow("major 12") << "SimConnect.dll" << QByteArray() << 12u << 2 << 1;
        QTest::newRow("Limitless on the 2020 library")
            << "SimConnect.dll" << QByteArray(" Limitless ") << 0u << 2 << 1;
        QTest::newRow("name with 2024") << "SimConnect.dll" << QByteArray("MSFS 2024") << 0u << 2 << 1;
        QTest::newRow("major 2 decides nothing") << "SimConnect.dll" << QByteArray() << 2u << 1 << 0;
        QTest::newRow("Flight Simulator decides nothing")
            << "SimConnect2024.dll" << QByteArray("Microsoft Flight Simulator") << 1u << 2 << 0;
    }
    void openMessageSetsVersionsAndMaySwitchTheProfile() {
        QFETCH(QString, file);
        QFETCH(QByteArray, app);
        QFETCH(quint32, major);
        QFETCH(int, profile);
        QFETCH(int, profileSignals);
        rig->session.setTrafficSnapshotEnabled(true);
        QVERIFY(rig->connect(file));
        rig->registerAndSubscribe();
        QSignalSpy profiles(&rig->session, &SimConnectSession::runtimeProfileDetected);
        QSignalSpy msfs(&rig->session, &SimConnectSession::msfsVersionDetected);
        QSignalSpy lib(&rig->session, &SimConnectSession::simConnectVersionDetected);

        rig->deliver(StandInSimConnect::openMessage(app, {major, 36, 2, 0}, {12, 0, 62, 3}));

        QCOMPARE(int(rig->session.runtimeProfile()), profile);
        QCOMPARE(profiles.size(), profileSignals);
        QCOMPARE(msfs.size(), 1);
        QCOMPARE(msfs[0][0].toString(), QString("%1.36.2.0").arg(major));
        QCOMPARE(lib[0][0].toString(), QString("12.0.62.3"));
        QCOMPARE(rig->session.simConnectVersion(), QString("12.0.62.3"));
        const auto clears = rig->lib.callsOf("SimConnect_ClearDataDefinition");
        if (profileSignals == 0) {
            QVERIFY(clears.isEmpty());
            QVERIFY(rig->lib.callsOf("SimConnect_AddToDataDefinition").isEmpty());
            return;
        }
        // Torn down (groups, traffic, title) and built again under the new names.
        QStringList cleared;
        for (const auto& call : clears)
            cleared << call.args[0].toString();
        QCOMPARE(cleared, (QStringList{"0", "1", "2", "3", "40000", "50000"}));
        int never = 0, frame = 0;
        for (const auto& call : rig->lib.callsOf("SimConnect_RequestDataOnSimObject")) {
            never += call.args[3].toUInt() == sim::kPeriodNever;
            frame += call.args[3].toUInt() == sim::kPeriodSimFrame;
        }
        QCOMPARE(never, 4);
        QCOMPARE(frame, 4);
        QVERIFY(rig->session.definitionsRegistered());
        const QString agl = profile == 2 ? "PLANE ALT ABOVE GROUND MINUS CG" : "PLANE ALT ABOVE GROUND";
        bool added = false;
        for (const auto& call : rig->lib.callsOf("SimConnect_AddToDataDefinition"))
            added = added || call.args[1].toString() == agl;
        QVERIFY(added);
        QCOMPARE(rig->lib.callsOf("SimConnect_EnumerateInputEvents").size(), 1);
    }

    void quitInTheMiddleOfABatchClosesAndEndsIt() {
        QVERIFY(rig->connect());
        QSignalSpy disconnected(&rig->session, &SimConnectSession::disconnected);
        QSignalSpy created(&rig->session, &SimConnectSession::remoteAircraftCreated);
        rig->lib.queue(StandInSimConnect::header(8, 5)); // too short to read: skipped
        rig->lib.queue(StandInSimConnect::assignedObjectIdMessage(4, 40));
        rig->lib.queue(StandInSimConnect::quitMessage());
        rig->lib.queue(StandInSimConnect::assignedObjectIdMessage(5, 50));
        rig->session.dispatchPump();
        QCOMPARE(created.size(), 1);
        QCOMPARE(disconnected.size(), 1);
        QVERIFY(!rig->session.isConnected());
        QCOMPARE(rig->lib.queued(), 1);
        rig->session.dispatchPump(); // not connected: nothing read
        QCOMPARE(rig->lib.queued(), 1);
    }

    void exceptionsAreIgnoredReportedOrSwitchTrafficOff_data() {
        QTest::addColumn<quint32>("exception");
        QTest::addColumn<bool>("trafficOn");
        QTest::addColumn<QString>("culprit"); // the call the exception names: "traffic" or a data "group"
        QTest::addColumn<bool>("sendIds");    // the library offers GetLastSentPacketID
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("trafficAfter");
        QTest::newRow("unrecognized id") << 3u << true << "group" << true << "" << true;
        QTest::newRow("data error") << 20u << true << "group" << true << "" << true;
        QTest::newRow("name of traffic, traffic off") << 7u << false << "traffic" << true << "" << false;
        QTest::newRow("name of traffic") << 7u << true << "traffic" << true << "" << false;
        QTest::newRow("name of a data group") << 7u << true << "group" << true << "" << true;
        QTest::newRow("name, library without send ids") << 7u << true << "group" << false << "" << false;
        QTest::newRow("definition error of traffic") << 28u << true << "traffic" << true << "" << false;
        QTest::newRow("definition error of a data group")
            << 28u << true << "group" << true << "SimConnect exception code: 28 (DEFINITION_ERROR)" << true;
        QTest::newRow("datum id with traffic off")
            << 30u << false << "traffic" << true << "SimConnect exception code: 30 (DATUM_ID)" << false;
        QTest::newRow("version mismatch")
            << 5u << true << "group" << true << "SimConnect exception code: 5 (VERSION_MISMATCH)" << true;
        QTest::newRow("unnamed") << 50u << true << "group" << true
                                 << "SimConnect exception code: 50 (UNKNOWN)" << true;
        QTest::newRow("gap in names")
            << 15u << true << "group" << true << "SimConnect exception code: 15 (UNKNOWN)" << true;
    }
    void exceptionsAreIgnoredReportedOrSwitchTrafficOff() {
        QFETCH(quint32, exception);
        QFETCH(bool, trafficOn);
        QFETCH(QString, culprit);
        QFETCH(bool, sendIds);
        QFETCH(QString, error);
        QFETCH(bool, trafficAfter);
        if (!sendIds)
            rig->lib.missingFunctions["SimConnect.dll"] = {"SimConnect_GetLastSentPacketID"};
        rig->session.setTrafficSnapshotEnabled(true);
        QVERIFY(rig->connect());
        rig->registerAndSubscribe();
        rig->session.requestTrafficSnapshot();
        const std::uint32_t trafficSendId = rig->lib.lastSendId();
        rig->session.requestDataGroup(UpdateGroup::CoreFlight);
        const std::uint32_t groupSendId = rig->lib.lastSendId();
        rig->session.setTrafficSnapshotEnabled(trafficOn);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        QSignalSpy failed(&rig->session, &SimConnectSession::remoteAircraftCreateFailed);
        QSignalSpy traffic(&rig->session, &SimConnectSession::trafficSnapshotReceived);

        rig->deliver(StandInSimConnect::exceptionMessage(
            exception, culprit == "traffic" ? trafficSendId : groupSendId, 2));

        QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty()) {
            QCOMPARE(errors[0][0].value<SimConnectError>(), SimConnectError::RequestFailed);
            QCOMPARE(errors[0][1].toString(), error);
        }
        QCOMPARE(failed.size(), 0);
        QCOMPARE(rig->session.trafficSnapshotEnabled(), trafficAfter);
        QCOMPARE(rig->session.isTrafficSnapshotTimerActive(), trafficAfter);
        QCOMPARE(traffic.size(), trafficOn && !trafficAfter ? 1 : 0);
        QVERIFY(rig->session.isConnected());
    }

    void aSecondSessionNeverUnloadsTheLibraryInUse() {
        QVERIFY(rig->connect("SimConnect.dll"));
        rig->lib.files = {"SimConnect2024.dll", "SimConnect.dll"};
        rig->lib.fail("SimConnect_Open");
        SimConnectSession second;
        QVERIFY(!second.connectToSimulator()); // neither replaces nor unloads the library in use
        QCOMPARE(rig->lib.unloads, 0);
        rig->session.registerDataDefinitions(); // still calls through it
        QVERIFY(rig->session.definitionsRegistered());
        QVERIFY(second.connectToSimulator());
        QCOMPARE(second.runtimeProfile(), MsfsRuntimeProfile::Msfs2020);
    }
};

QTEST_GUILESS_MAIN(TestSimConnectSession)
#include "tst_simconnect_session.moc"
