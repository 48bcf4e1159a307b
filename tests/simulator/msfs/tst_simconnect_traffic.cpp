#include "support/SimConnectRig.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace velk::simulator::msfs;
using SI = StandInSimConnect;

class TestSimConnectTraffic : public QObject {
    Q_OBJECT

    std::unique_ptr<SimConnectRig> rig;

    AiInitialPosition positionOf(const SI::Call& call) {
        AiInitialPosition position;
        std::memcpy(&position, call.data.constData(), sizeof(position));
        return position;
    }

private slots:
    void init() { rig = std::make_unique<SimConnectRig>(); }
    void cleanup() { rig.reset(); }

    void creationPicksTheCallAndShapesItsArguments_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("ex1Fails");
        QTest::addColumn<bool>("legacyFails");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("failedSignals");
        QTest::newRow("2020 uses the legacy call")
            << "SimConnect.dll" << false << false << QStringList{"SimConnect_AICreateNonATCAircraft"} << 0;
        QTest::newRow("2024 passes the livery") << "SimConnect2024.dll" << false << false
                                                << QStringList{"SimConnect_AICreateNonATCAircraft_EX1"} << 0;
        QTest::newRow("EX1 refused falls back")
            << "SimConnect2024.dll" << true << false
            << QStringList{"SimConnect_AICreateNonATCAircraft_EX1", "SimConnect_AICreateNonATCAircraft"} << 0;
        QTest::newRow("legacy refused")
            << "SimConnect.dll" << false << true << QStringList{"SimConnect_AICreateNonATCAircraft"} << 1;
    }
    void creationPicksTheCallAndShapesItsArguments() {
        QFETCH(QString, file);
        QFETCH(bool, ex1Fails);
        QFETCH(bool, legacyFails);
        QFETCH(QStringList, calls);
        QFETCH(int, failedSignals);
        QVERIFY(rig->connect(file));
        if (ex1Fails)
            rig->lib.fail("SimConnect_AICreateNonATCAircraft_EX1");
        if (legacyFails)
            rig->lib.fail("SimConnect_AICreateNonATCAircraft");
        QSignalSpy failed(&rig->session, &SimConnectSession::remoteAircraftCreateFailed);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->session.createRemoteAircraft(7, " Airbus A320 ", "Blue", "ABCDEFGHIJKLMN", 1.5, 2.5, 3000, 1, 2,
                                          270, true, 250.9);
        QStringList made;
        for (const auto& call : rig->lib.calls)
            made << call.function;
        QCOMPARE(made, calls);
        QCOMPARE(failed.size(), failedSignals);
        QCOMPARE(errors.size(), 0);
        const auto& last = rig->lib.calls.last();
        QCOMPARE(last.args.first().toString(), QString(" Airbus A320 "));
        QCOMPARE(last.args[last.args.size() - 2].toString(), QString("ABCDEFGHIJK"));
        QCOMPARE(last.args.last(), QVariant(7u));
        if (last.function.endsWith("EX1"))
            QCOMPARE(last.args[1].toString(), QString("Blue"));
        const AiInitialPosition position = positionOf(last);
        QCOMPARE(position.latitude, 1.5);
        QCOMPARE(position.heading, 270.0);
        QCOMPARE(position.onGround, 1u);
        QCOMPARE(position.airspeed, 250u);
    }

    void creationEdgesAndTheAssignedObject() {
        QVERIFY(rig->connect());
        rig->session.createRemoteAircraft(1, "   ", "", "X", 0, 0, 0, 0, 0, 0, false, 10);
        QVERIFY(rig->lib.calls.isEmpty());
        rig->session.createRemoteAircraft(2, "T", "", "X", 0, 0, 0, 0, 0, 0, false, -5.0);
        rig->session.createRemoteAircraft(3, "T", "", "X", 0, 0, 0, 0, 0, 0, false, 1e12);
        QCOMPARE(positionOf(rig->lib.calls[0]).airspeed, 0u);
        QCOMPARE(positionOf(rig->lib.calls[1]).airspeed, 0xFFFFFFFFu);

        QSignalSpy created(&rig->session, &SimConnectSession::remoteAircraftCreated);
        rig->deliver(SI::assignedObjectIdMessage(2, 4242));
        QCOMPARE(created.size(), 1);
        QCOMPARE(created[0][0].toUInt(), 2u);
        QCOMPARE(created[0][1].toUInt(), 4242u);
    }

    void removalReportsItsOutcome() {
        QVERIFY(rig->connect());
        QSignalSpy removed(&rig->session, &SimConnectSession::remoteAircraftRemoved);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->session.removeRemoteAircraft(4242, 9);
        QCOMPARE(rig->lib.callsOf("SimConnect_AIRemoveObject")[0].args, (QVariantList{4242u, 9u}));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed[0][0].toUInt(), 9u);
        rig->lib.fail("SimConnect_AIRemoveObject");
        rig->session.removeRemoteAircraft(5, 10);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(errors[0][1].toString(), QString("Failed to remove remote aircraft object 5"));
    }

    void movesWriteOneWaypointAndDefineItOncePerConnection() {
        QVERIFY(rig->connect());
        rig->session.updateRemoteAircraftPosition(12, 1.5, 2.5, 3500, 5, 6, 7, true, -5.0);
        rig->session.updateRemoteAircraftPosition(12, 1.5, 2.5, 3500, 5, 6, 7, false, 250.9);
        QCOMPARE(rig->lib.callsOf("SimConnect_AddToDataDefinition").size(), 1);
        QCOMPARE(rig->lib.callsOf("SimConnect_AddToDataDefinition")[0].args,
                 (QVariantList{30000u, "AI WAYPOINT LIST", "number", 14u, 0.0f, 0xFFFFFFFFu}));
        const auto sets = rig->lib.callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(sets.size(), 2);
        QCOMPARE(sets[0].args, (QVariantList{30000u, 12u, 0u, 1u, 44u}));
        const auto field = [](const QByteArray& data, int offset, auto value) {
            std::memcpy(&value, data.constData() + offset, sizeof(value));
            return value;
        };
        QCOMPARE(field(sets[0].data, 16, 0.0), 3500.0);
        QCOMPARE(field(sets[0].data, 24, 0u), 0x100004u);
        QCOMPARE(field(sets[0].data, 28, 1.0), 0.0);
        QCOMPARE(field(sets[1].data, 24, 0u), 0x4u);
        QCOMPARE(field(sets[1].data, 28, 0.0), 250.9);
        QCOMPARE(field(sets[1].data, 36, 1.0), 0.0);

        rig->session.disconnect();
        QVERIFY(rig->connect());
        rig->session.updateRemoteAircraftPosition(12, 0, 0, 0, 0, 0, 0, false, 0);
        QCOMPARE(rig->lib.callsOf("SimConnect_AddToDataDefinition").size(), 1);
    }

    void snapshotRadiusIsBounded_data() {
        QTest::addColumn<quint32>("meters");
        QTest::addColumn<quint32>("stored");
        QTest::newRow("500") << 500u << 1000u;
        QTest::newRow("1000") << 1000u << 1000u;
        QTest::newRow("1001") << 1001u << 1001u;
        QTest::newRow("300000") << 300000u << 200000u;
    }
    void snapshotRadiusIsBounded() {
        QFETCH(quint32, meters);
        QFETCH(quint32, stored);
        rig->session.setTrafficSnapshotRadius(meters);
        QCOMPARE(rig->session.trafficSnapshotRadius(), stored);
    }

    void snapshotRepliesBecomeOneListPerReply() {
        rig->session.setTrafficSnapshotEnabled(true);
        QVERIFY(rig->connect());
        rig->registerAndSubscribe();
        rig->session.setTrafficSnapshotRadius(5000);
        rig->session.requestTrafficSnapshot(); // the 1000 ms tick
        QCOMPARE(rig->lib.callsOf("SimConnect_RequestDataOnSimObjectType")[0].args,
                 (QVariantList{40001u, 40000u, 5000u, 2u}));

        QSignalSpy traffic(&rig->session, &SimConnectSession::trafficSnapshotReceived);
        const QList<QByteArray> reply =
            SI::trafficReply({{31, " DLH4 ", 50.1, 8.6}, {17, "", 1, 2}, {0, "USER", 3, 4}});
        rig->deliver(SI::byTypeMessage(99, 19, 1, 1, SI::text("OTHER", 80))); // not ours
        for (const QByteArray& row : reply.mid(0, 2))
            rig->deliver(row);
        QCOMPARE(traffic.size(), 0); // rows 1 and 2 of 3
        rig->deliver(reply[2]);
        QCOMPARE(traffic.size(), 1);
        const QVariantList contacts = traffic[0][0].toList();
        QCOMPARE(contacts.size(), 2); // object 0 is left out
        const QVariantMap first = contacts[0].toMap();
        QCOMPARE(first["objectId"], QVariant::fromValue<qulonglong>(31));
        QCOMPARE(first["label"].toString(), QString("DLH4"));
        QCOMPARE(first["latitude"].toDouble(), 50.1);
        QCOMPARE(first["onGround"], QVariant(false));
        QCOMPARE(first.size(), 12);
        QCOMPARE(contacts[1].toMap()["label"].toString(), QString("OBJ-17"));
        QCOMPARE(contacts[1].toMap()["atcId"].toString(), QString());

        rig->deliver(SI::byTypeMessage(40001, 18, 1, 1, SI::text("SHORT", 64))); // a short row
        rig->deliver(SI::trafficReply({}).first());
        QCOMPARE(traffic.size(), 3);
        QVERIFY(traffic[1][0].toList().isEmpty());
        QVERIFY(traffic[2][0].toList().isEmpty());

        rig->session.setTrafficSnapshotEnabled(false);
        QCOMPARE(traffic.size(), 4);
        QVERIFY(traffic[3][0].toList().isEmpty());
        QVERIFY(!rig->session.isTrafficSnapshotTimerActive());
        for (const QByteArray& row : reply) // late rows of a reply: nothing
            rig->deliver(row);
        QCOMPARE(traffic.size(), 4);
        rig->lib.clearCalls();
        rig->session.requestTrafficSnapshot();
        QVERIFY(rig->lib.calls.isEmpty());
    }

    void refusalsAreChargedToTheCreationTheyName() {
        QVERIFY(rig->connect());
        QSignalSpy created(&rig->session, &SimConnectSession::remoteAircraftCreated);
        QSignalSpy failed(&rig->session, &SimConnectSession::remoteAircraftCreateFailed);
        QSignalSpy errors(&rig->session, &SimConnectSession::errorOccurred);
        rig->lib.answerCreates = true;
        rig->lib.knownTitles = {"Known"};
        for (const auto& [request, title] : {std::pair{7u, "Known"}, std::pair{8u, "Unknown"}})
            rig->session.createRemoteAircraft(request, title, "", "X", 0, 0, 0, 0, 0, 0, false, 0);
        rig->lib.answerCreates = false;
        rig->session.createRemoteAircraft(9, "Known", "", "X", 0, 0, 0, 0, 0, 0, false, 0); // unanswered
        const auto creates = rig->lib.callsOf("SimConnect_AICreateNonATCAircraft");
        rig->session.dispatchPump(); // the simulator names 7's object and refuses 8
        rig->deliver(SI::exceptionMessage(22, creates[1].sendId)); // 8 is no longer pending
        rig->deliver(SI::exceptionMessage(33, creates[2].sendId)); // 9 outside the reality bubble
        rig->deliver(SI::exceptionMessage(33, creates[0].sendId)); // 7 exists already
        QCOMPARE(created.size(), 1);
        QCOMPARE(created[0][0].toUInt(), 7u);
        QList<uint> refused;
        for (const auto& signal : failed)
            refused << signal[0].toUInt();
        QCOMPARE(refused, (QList<uint>{8, 0, 9}));
        QCOMPARE(errors.size(), 2);
        QVERIFY(rig->session.isConnected());
    }

    void nonFiniteCoordinatesNeverReachTheSimulator() {
        QVERIFY(rig->connect());
        QSignalSpy failed(&rig->session, &SimConnectSession::remoteAircraftCreateFailed);
        const double positions[][3] = {{qQNaN(), 8, 100}, {50, qInf(), 100}, {50, 8, -qInf()}};
        for (const auto& p : positions) {
            rig->session.createRemoteAircraft(5, "T", "", "X", p[0], p[1], p[2], 0, 0, 0, false, 0);
            rig->session.updateRemoteAircraftPosition(12, p[0], p[1], p[2], 0, 0, 0, false, 0);
        }
        QVERIFY(rig->lib.calls.isEmpty());
        QCOMPARE(failed.size(), 3); // the creation is given up at once
        QCOMPARE(failed[0][0].toUInt(), 5u);
    }

    void speedbrakeInputEventsAreSubscribedAndRelayed() {
        QVERIFY(rig->connect());
        rig->session.enumerateInputEvents();
        QCOMPARE(rig->lib.callsOf("SimConnect_EnumerateInputEvents")[0].args, QVariantList{60000u});
        const QList<SI::InputEvent> events = {
            {"  Spoilers_Handle_Position ", 11, 0},
            {"AIRLINER_SPEED_BRAKE", 12, 0},
            {"SPOILER_TEXT", 13, 1},
            {"FLAPS", 14, 0},
        };
        rig->lib.fail("SimConnect_SubscribeInputEvent", 1,
                      [](const SI::Call& call) { return call.args[0].toULongLong() == 12; });
        rig->deliver(SI::inputEventsMessage(60000, events));
        rig->deliver(SI::inputEventsMessage(60000, events)); // 12 is tried again, 11 is not
        QByteArray cut = SI::inputEventsMessage(60000, {{"speedbrake", 15, 0}});
        cut.chop(1);
        rig->deliver(cut);
        QStringList hashes;
        for (const auto& call : rig->lib.callsOf("SimConnect_SubscribeInputEvent"))
            hashes << call.args[0].toString();
        QCOMPARE(hashes, (QStringList{"11", "12", "12"}));

        QSignalSpy values(&rig->session, &SimConnectSession::inputEventValueChanged);
        rig->deliver(SI::inputEventValueMessage(11, 0, 0.75));
        rig->deliver(SI::inputEventValueMessage(11, 1, 0.5)); // not a double
        rig->deliver(SI::inputEventValueMessage(14, 0, 0.5)); // not subscribed
        QCOMPARE(values.size(), 1);
        QCOMPARE(values[0][0].toString(), QString("Spoilers_Handle_Position"));
        QCOMPARE(values[0][1].toDouble(), 0.75);
    }
};

QTEST_GUILESS_MAIN(TestSimConnectTraffic)
#include "tst_simconnect_traffic.moc"
