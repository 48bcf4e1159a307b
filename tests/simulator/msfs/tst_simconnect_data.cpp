#include "support/SimConnectRig.h"

#include <QtTest>

#include <limits>
#include <memory>

using namespace velk::simulator::msfs;
using SI = StandInSimConnect;

namespace {
SimVarBinding withConversion(std::uint8_t conversion) {
    SimVarBinding binding;
    binding.simVar = "X";
    binding.conversion = conversion;
    return binding;
}
} // namespace

class TestSimConnectData : public QObject {
    Q_OBJECT

    std::unique_ptr<SimConnectRig> rig;

private slots:
    void init() { rig = std::make_unique<SimConnectRig>(); }
    void cleanup() { rig.reset(); }

    void conversionsBetweenApplicationAndSimulatorUnits_data() {
        QTest::addColumn<int>("conversion");
        QTest::addColumn<QVariant>("app");
        QTest::addColumn<QVariant>("sim");
        QTest::addColumn<QVariant>("back"); // fromSimValue(sim)
        QTest::newRow("BCD16 123.45") << 1 << QVariant(123.45) << QVariant(0x2345) << QVariant(123.45);
        QTest::newRow("BCD16 118.0") << 1 << QVariant(118.0) << QVariant(0x1800) << QVariant(118.0);
        QTest::newRow("BCD16 nearest kHz") << 1 << QVariant(121.4999) << QVariant(0x2150) << QVariant(121.5);
        QTest::newRow("BCO16 7000") << 2 << QVariant(7000) << QVariant(0x7000) << QVariant(7000);
        QTest::newRow("BCO16 21") << 2 << QVariant(21) << QVariant(0x0021) << QVariant(21);
        QTest::newRow("BCO16 abs, four digits")
            << 2 << QVariant(-17654) << QVariant(0x7654) << QVariant(7654);
        QTest::newRow("BCO16 smallest integer")
            << 2 << QVariant(std::numeric_limits<qint64>::min()) << QVariant(0x5808) << QVariant(5808);
        QTest::newRow("percent on") << 3 << QVariant(true) << QVariant(100.0) << QVariant(true);
        QTest::newRow("percent off") << 3 << QVariant(false) << QVariant(0.0) << QVariant(false);
        QTest::newRow("radians") << 4 << QVariant(180.0) << QVariant(M_PI) << QVariant(180.0);
        QTest::newRow("axis half") << 5 << QVariant(0.5) << QVariant(8191.5) << QVariant(0.5);
        QTest::newRow("axis clamped") << 5 << QVariant(2.0) << QVariant(16383.0) << QVariant(1.0);
        QTest::newRow("ratio clamped") << 6 << QVariant(-0.5) << QVariant(0.0) << QVariant(0.0);
        QTest::newRow("ratio percent") << 6 << QVariant(0.25) << QVariant(0.25) << QVariant(0.25);
        QTest::newRow("none") << 0 << QVariant(3.5) << QVariant(3.5) << QVariant(3.5);
    }
    void conversionsBetweenApplicationAndSimulatorUnits() {
        QFETCH(int, conversion);
        QFETCH(QVariant, app);
        QFETCH(QVariant, sim);
        QFETCH(QVariant, back);
        const SimVarBinding binding = withConversion(std::uint8_t(conversion));
        const QVariant to = toSimValue(binding, app);
        QCOMPARE(to.typeId(), sim.typeId());
        if (to.typeId() == QMetaType::Double)
            QVERIFY(qFuzzyCompare(to.toDouble() + 1, sim.toDouble() + 1));
        else
            QCOMPARE(to, sim);
        QCOMPARE(fromSimValue(binding, sim), back);
        // Garbage never throws.
        QCOMPARE(fromSimValue(withConversion(6), 55.0), QVariant(0.55));
        QCOMPARE(fromSimValue(withConversion(3), 0.01), QVariant(false));
        QVERIFY(toSimValue(withConversion(1), QVariant("x")).isValid());
    }

    void catalogueResolvesRowsPerProfile() {
        const auto rows2020 = readableDefinitions(MsfsRuntimeProfile::Msfs2020);
        QCOMPARE(rows2020.size(), 57);
        QCOMPARE(rows2020.first().keyName, QString("latitude"));
        QCOMPARE(rows2020.last().key, SimKey::SimPaused);
        QCOMPARE(findDefinition(MsfsRuntimeProfile::Msfs2024, SimKey::AltitudeAgl).simVar,
                 QString("PLANE ALT ABOVE GROUND MINUS CG"));
        QCOMPARE(findDefinition(MsfsRuntimeProfile::Unknown, SimKey::AltitudeAgl).simVar,
                 QString("PLANE ALT ABOVE GROUND"));
        QCOMPARE(findDefinition(MsfsRuntimeProfile::Msfs2020, SimKey::GearHandlePosition).simVar,
                 QString("GEAR HANDLE POSITION"));
        QVERIFY(findDefinition(MsfsRuntimeProfile::Msfs2020, SimKey(900)).simVar.isEmpty());
        QCOMPARE(findEventDefinition(MsfsRuntimeProfile::Msfs2024, 2), QString("COM2_RADIO_SET_HZ"));
        QVERIFY(findEventDefinition(MsfsRuntimeProfile::Msfs2020, 3).isEmpty());
    }

    void registrationDefinesGroupsTitleAndTraffic() {
        rig->session.setTrafficSnapshotEnabled(true);
        QVERIFY(rig->connect());
        rig->session.registerDataDefinitions();
        const auto adds = rig->lib.callsOf("SimConnect_AddToDataDefinition");
        QCOMPARE(adds.size(), 57 + 1 + 3);
        QCOMPARE(adds[0].args, (QVariantList{0u, "PLANE LATITUDE", "degrees", 4u, 0.0f, 0xFFFFFFFFu}));
        QCOMPARE(adds[57].args, (QVariantList{50000u, "TITLE", QVariant(), 9u, 0.0f, 0xFFFFFFFFu}));
        QCOMPARE(adds[58].args, (QVariantList{40000u, "ATC ID", QVariant(), 7u, 0.0f, 0xFFFFFFFFu}));
        const auto requests = rig->lib.callsOf("SimConnect_RequestDataOnSimObject");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].args, (QVariantList{50001u, 50000u, 0u, 1u, 0u, 0u, 0u, 0u}));
        QCOMPARE(rig->lib.callsOf("SimConnect_RequestDataOnSimObjectType")[0].args,
                 (QVariantList{40001u, 40000u, 30000u, 2u}));
        QVERIFY(rig->session.isTrafficSnapshotTimerActive());
        rig->lib.clearCalls();
        rig->session.registerDataDefinitions(); // already registered
        QVERIFY(rig->lib.calls.isEmpty());
    }

    void failedRegistrationBlocksSubscriptions() {
        QVERIFY(rig->connect());
        rig->lib.fail("SimConnect_AddToDataDefinition", 1,
                      [](const SI::Call& call) { return call.args[1] == "PRESSURE ALTITUDE"; });
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->session.registerDataDefinitions();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0][1].toString(), QString("Failed to register SimVar: PRESSURE ALTITUDE"));
        QVERIFY(!rig->session.definitionsRegistered());
        rig->lib.clearCalls();
        QTest::ignoreMessage(QtWarningMsg, "Cannot subscribe data group: definitions not registered");
        rig->session.subscribeDataGroup(UpdateGroup::CoreFlight);
        QVERIFY(rig->lib.calls.isEmpty());
    }

    void subscribeOnceUnsubscribeAndAskOnce() {
        QVERIFY(rig->connect());
        rig->session.registerDataDefinitions();
        rig->lib.clearCalls();
        rig->session.subscribeDataGroup(UpdateGroup::Environment);
        rig->session.subscribeDataGroup(UpdateGroup::Environment);
        rig->session.requestDataGroup(UpdateGroup::Environment);
        rig->session.unsubscribeDataGroup(UpdateGroup::Environment);
        rig->session.unsubscribeDataGroup(UpdateGroup::Environment);
        rig->session.requestDataGroup(UpdateGroup::Environment); // not subscribed: warning only
        const auto requests = rig->lib.callsOf("SimConnect_RequestDataOnSimObject");
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].args, (QVariantList{3u, 3u, 0u, 3u, 1u, 0u, 0u, 0u}));
        QCOMPARE(requests[1].args, (QVariantList{3u, 3u, 0u, 1u, 0u, 0u, 0u, 0u}));
        QCOMPARE(requests[2].args, (QVariantList{3u, 3u, 0u, 0u, 0u, 0u, 0u, 0u}));

        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->lib.fail("SimConnect_RequestDataOnSimObject");
        rig->session.subscribeDataGroup(UpdateGroup::CoreFlight);
        QCOMPARE(errors[0][1].toString(), QString("Failed to subscribe to data group: 0"));
        QVERIFY(!rig->session.isGroupSubscribed(UpdateGroup::CoreFlight));
    }

    void groupDataIsParsedUpToTheLastCompleteValue_data() {
        QTest::addColumn<quint32>("requestId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<bool>("emitted");
        const QByteArray core = SI::f64(51.5) + SI::f64(-0.25) + SI::f64(100) + SI::f64(2) + SI::f64(1500) +
                                SI::f64(140) + SI::f64(M_PI / 2);
        QTest::newRow("core, cut after pitch")
            << 0u << core
            << QVariantMap{{"latitude", 51.5},    {"longitude", -0.25},         {"altitudeMslM", 100.0},
                           {"altitudeAglM", 2.0}, {"altitudePressure", 1500.0}, {"groundSpeed", 140.0},
                           {"pitch", 90.0}}
            << true;
        QTest::newRow("latitude only")
            << 0u << SI::f64(1) + QByteArray(7, 'x') << QVariantMap{{"latitude", 1.0}} << true;
        QTest::newRow("empty") << 0u << QByteArray() << QVariantMap{} << true;
        QTest::newRow("strings then double")
            << 3u << SI::text("G-ABCD", 256) + SI::text("A320", 256) + SI::f64(1013.25)
            << QVariantMap{{"atcId", "G-ABCD"}, {"atcModel", "A320"}, {"qnh", 1013.25}} << true;
        QTest::newRow("radios") << 2u << SI::i32(1) + SI::i32(0x2345) + SI::i32(0x1800) + SI::i32(1)
                                << QVariantMap{{"avionicsPowerOn", true},
                                               {"com1Frequency", 123.45},
                                               {"com1StandbyFrequency", 118.0},
                                               {"com1TransmitEnabled", true}}
                                << true;
        QTest::newRow("no such group") << 7u << SI::f64(1) << QVariantMap{} << false;
        QTest::newRow("request id beyond a byte") << 256u << SI::f64(1) << QVariantMap{} << false;
    }
    void groupDataIsParsedUpToTheLastCompleteValue() {
        QFETCH(quint32, requestId);
        QFETCH(QByteArray, payload);
        QFETCH(QVariantMap, expected);
        QFETCH(bool, emitted);
        QVERIFY(rig->connect());
        rig->registerAndSubscribe();
        QSignalSpy data(&rig->session, &SimConnectSession::dataReceived);
        rig->deliver(SI::objectDataMessage(requestId, payload));
        QCOMPARE(data.size(), emitted ? 1 : 0);
        if (!emitted)
            return;
        QCOMPARE(data[0][0].value<UpdateGroup>(), UpdateGroup(requestId));
        QCOMPARE(data[0][1].toMap(), expected);
    }

    void userTitleIsReportedOnceWhenComplete() {
        QVERIFY(rig->connect());
        rig->registerAndSubscribe();
        QSignalSpy titles(&rig->session, &SimConnectSession::userAircraftTitleDetected);
        rig->deliver(SI::objectDataMessage(50001, SI::text("A320neo", 255)));
        rig->deliver(SI::objectDataMessage(50001, SI::text("   ", 256)));
        rig->deliver(SI::objectDataMessage(50001, SI::text(" Asobo A320neo ", 256)));
        QCOMPARE(titles.size(), 1);
        QCOMPARE(titles[0][0].toString(), QString("Asobo A320neo"));
    }

    void writesUseAShortLivedDefinitionPerGroup() {
        QVERIFY(rig->connect());
        rig->registerAndSubscribe();
        QTest::ignoreMessage(QtWarningMsg, "Cannot set data value: no active binding for key 18");
        rig->session.setDataValue(SimKey::GearHandlePosition, true);
        QVERIFY(rig->lib.calls.isEmpty());

        rig->session.setDataValue(SimKey::TransponderCode, 7000);
        rig->session.setObjectDataValue(17, SimKey::GearHandlePosition, true);
        rig->session.setObjectDataValue(17, SimKey::SpeedbrakeRatio, 0.5);
        QStringList trace;
        for (const auto& call : rig->lib.calls)
            trace << call.function.mid(11) + ":" + call.args.value(0).toString() + ":" +
                         call.args.value(1).toString() + ":" + call.data.toHex();
        QCOMPARE(trace, (QStringList{
                            "AddToDataDefinition:1002:TRANSPONDER CODE:1:",
                            "SetDataOnSimObject:1002:0:00700000",
                            "ClearDataDefinition:1002::",
                            "AddToDataDefinition:1001:GEAR HANDLE POSITION:",
                            "SetDataOnSimObject:1001:17:01000000",
                            "ClearDataDefinition:1001::",
                            "AddToDataDefinition:1001:SPOILERS HANDLE POSITION:",
                            "SetDataOnSimObject:1001:17:" + SI::f64(8191.5).toHex(),
                            "ClearDataDefinition:1001::",
                        }));
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->lib.clearCalls();
        rig->lib.fail("SimConnect_SetDataOnSimObject");
        rig->session.setDataValue(SimKey::TransponderCode, 1200);
        QCOMPARE(rig->lib.callsOf("SimConnect_ClearDataDefinition").size(), 1);
        rig->lib.fail("SimConnect_AddToDataDefinition");
        rig->session.setObjectDataValue(9, SimKey::NavLights, true);
        QCOMPARE(rig->lib.callsOf("SimConnect_ClearDataDefinition").size(), 1);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors[0][1].toString(), QString("Failed to set data value: TRANSPONDER CODE:1"));
        QCOMPARE(errors[1][1].toString(), QString("Failed to set object 9 data value: LIGHT NAV"));
    }

    void commandsMapEventsOncePerConnection() {
        QVERIFY(rig->connect());
        rig->lib.fail("SimConnect_MapClientEventToSimEvent");
        rig->session.sendCommand(1, 122800000); // mapping refused: nothing sent
        rig->session.sendCommand(1, 122800000);
        rig->session.sendCommand(0, 1);
        rig->session.sendCommand(1, 121500000);
        rig->session.sendCommand(9, 1);     // no such event
        rig->session.sendCommand(65537, 1); // not a 16-bit key
        QStringList maps;
        for (const auto& call : rig->lib.callsOf("SimConnect_MapClientEventToSimEvent"))
            maps << call.args[0].toString() + "=" + call.args[1].toString();
        QCOMPARE(maps,
                 (QStringList{"10000=COM_RADIO_SET_HZ", "10000=COM_RADIO_SET_HZ", "10001=XPNDR_IDENT_ON"}));
        const auto sent = rig->lib.callsOf("SimConnect_TransmitClientEvent");
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[0].args, (QVariantList{0u, 10000u, 122800000u, 1u, 16u}));
        QCOMPARE(sent[2].args[1], QVariant(10000u));

        rig->session.disconnect();
        QVERIFY(rig->connect());
        rig->session.sendCommand(0, 1);
        QCOMPARE(rig->lib.callsOf("SimConnect_MapClientEventToSimEvent")[0].args[0], QVariant(10000u));
    }

    void operationsWhileDisconnectedTouchNothing() {
        rig->session.registerDataDefinitions();
        rig->session.subscribeDataGroup(UpdateGroup::CoreFlight);
        rig->session.requestDataGroup(UpdateGroup::CoreFlight);
        rig->session.setDataValue(SimKey::TransponderCode, 7000);
        rig->session.setObjectDataValue(1, SimKey::NavLights, true);
        rig->session.sendCommand(0, 1);
        rig->session.createRemoteAircraft(1, "A", "", "X", 0, 0, 0, 0, 0, 0, false, 0);
        rig->session.removeRemoteAircraft(1, 1);
        rig->session.updateRemoteAircraftPosition(1, 0, 0, 0, 0, 0, 0, false, 0);
        rig->session.requestTrafficSnapshot();
        rig->session.enumerateInputEvents();
        QVERIFY(!rig->session.registerWaypointDefinition());
        QVERIFY(!rig->session.ensureEventMapped(1));
        QVERIFY(rig->lib.calls.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimConnectData)
#include "tst_simconnect_data.moc"
