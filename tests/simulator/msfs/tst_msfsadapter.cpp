#include "simulator/msfs/MsfsAdapter.h"
#include "support/MsfsAdapterRig.h"

#include <QtTest>

using namespace velk;
using namespace velk::simulator::msfs;
using SI = StandInSimConnect;
using State = ConnectionStateMachine::State;
Q_DECLARE_METATYPE(ConnectionStateMachine::State)

class TestMsfsAdapter : public QObject, private MsfsAdapterRig {
    Q_OBJECT

    bool connectAdapter() {
        adapter->reconnectSimulator();
        lib->clearCalls();
        return adapter->session().isConnected();
    }
    static QByteArray avionics(int com1Bcd, int squawkBco, int xpdrState) {
        return SI::i32(1) + SI::i32(com1Bcd) + SI::i32(0x1800) + SI::i32(1) + SI::i32(1) + SI::f64(80) +
               SI::i32(0x2150) + SI::i32(0x2150) + SI::i32(0) + SI::i32(1) + SI::f64(100.4) +
               SI::i32(squawkBco) + SI::i32(xpdrState) + SI::i32(0);
    }

private slots:
    void init() { start(); }
    void cleanup() { stop(); }

    void constructionAsksForTrafficAroundTheUser() {
        QCOMPARE(adapter->session().trafficSnapshotRadius(), 30000u);
        QVERIFY(adapter->session().trafficSnapshotEnabled());
        QCOMPARE(adapter->simulatorGeneration(), 0);
        QCOMPARE(adapter->adjustRemoteAltitude(12345.5), 12345.5);
    }

    void connectingRegistersSubscribesAndEnumerates_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("generation");
        QTest::newRow("MSFS 2020") << "SimConnect.dll" << 1;
        QTest::newRow("MSFS 2024") << "SimConnect2024.dll" << 2;
    }
    void connectingRegistersSubscribesAndEnumerates() {
        QFETCH(QString, file);
        QFETCH(int, generation);
        lib->files = {file};
        QSignalSpy state(adapter.get(), &simulator::Simulator::simConnectionStateChanged);
        adapter->reconnectSimulator();
        QCOMPARE(state.size(), 1);
        QCOMPARE(state[0][0].toBool(), true);
        QCOMPARE(adapter->connectionState().state(), State::Connected);
        QCOMPARE(adapter->simulatorGeneration(), generation);
        QMap<uint, uint> groupFlags;
        for (const auto& call : lib->callsOf("SimConnect_RequestDataOnSimObject"))
            if (call.args[0].toUInt() < 4)
                groupFlags.insert(call.args[0].toUInt(), call.args[4].toUInt());
        // The flight group comes every frame, changed or not; the others only on a change.
        QCOMPARE(groupFlags, (QMap<uint, uint>{{0u, 0u}, {1u, 1u}, {2u, 1u}, {3u, 1u}}));
        QCOMPARE(lib->callsOf("SimConnect_EnumerateInputEvents").size(), 1);
        QCOMPARE(lib->callsOf("SimConnect_RequestDataOnSimObjectType").size(), 1); // first traffic poll
    }

    void theAircraftIsEmittedPerDeliveryTheOtherRecordsOnlyWhenTheyChange() {
        QVERIFY(connectAdapter());
        QSignalSpy data(adapter.get(), &simulator::Simulator::userAircraftDataChanged);
        QSignalSpy config(adapter.get(), &simulator::Simulator::userAircraftConfigDataChanged);
        QSignalSpy radios(adapter.get(), &simulator::Simulator::radioStackStateChanged);
        QSignalSpy paused(adapter.get(), &simulator::Simulator::simPausedStateChanged);

        const QByteArray core = SI::f64(31.5) + SI::f64(121.25) + SI::f64(1000) + SI::f64(10) +
                                SI::f64(3300) + SI::f64(250) + SI::f64(M_PI / 36) + SI::f64(M_PI) +
                                SI::f64(-M_PI / 18);
        deliver(SI::objectDataMessage(0, core));
        deliver(SI::objectDataMessage(0, core));
        // A paused or parked aircraft: each period still shows a live simulator.
        QCOMPARE(data.size(), 2);
        QCOMPARE(data[1][0].value<model::UserAircraftData>(), data[0][0].value<model::UserAircraftData>());
        const auto user = data[0][0].value<model::UserAircraftData>();
        QCOMPARE(user.latitude, 31.5);
        QCOMPARE(user.altitudeMslM, 1000.0);
        QCOMPARE(user.groundSpeed, 250.0);
        // MSFS counts nose down and left wing down positive; the record the other way.
        QVERIFY(qFuzzyCompare(user.pitch, -5.0));
        QVERIFY(qFuzzyCompare(user.heading, 180.0));
        QVERIFY(qFuzzyCompare(user.bank, 10.0));
        QCOMPARE(adapter->userPressureAltitudeFeet(), 3300.0);
        QVERIFY(qFuzzyCompare(adapter->userAltitudeFeet(), 1000.0 / 0.3048));
        deliver(SI::objectDataMessage(0, SI::f64(31.6)));
        QCOMPARE(data.size(), 3);
        QCOMPARE(data[2][0].value<model::UserAircraftData>().longitude, 121.25); // kept

        // onGround, gearDown (percent), flaps (percent over 100), spoilers (position), armed, engines.
        const QByteArray system = SI::i32(1) + SI::f64(100) + SI::f64(0.5) + SI::f64(16383) + SI::i32(0) +
                                  SI::i32(2) + SI::i32(1) + SI::i32(1);
        deliver(SI::objectDataMessage(1, system));
        deliver(SI::objectDataMessage(1, system));
        QCOMPARE(config.size(), 1);
        const auto cfg = config[0][0].value<model::UserAircraftConfigData>();
        QVERIFY(cfg.onGround && cfg.gearDown && cfg.engine1Running && cfg.engine2Running);
        QCOMPARE(cfg.flapsRatio, 0.5);
        QCOMPARE(cfg.speedbrakeRatio, 1.0);
        QCOMPARE(cfg.engineCount, 2);

        deliver(SI::objectDataMessage(2, avionics(0x2345, 0x7000, 4)));
        deliver(SI::objectDataMessage(2, avionics(0x2345, 0x7000, 4)));
        QCOMPARE(radios.size(), 1);
        auto radio = radios[0][0].value<model::RadioStackState>();
        QCOMPARE(radio.com1Frequency, 123450u);
        QCOMPARE(radio.com1StandbyFrequency, 118000u);
        QCOMPARE(radio.com2Frequency, 121500u);
        QCOMPARE(radio.com1Volume, 80);
        QCOMPARE(radio.com2Volume, 100);
        QCOMPARE(radio.transponderCode, quint16(7000));
        QVERIFY(radio.squawkingModeC && radio.avionicsPowerOn && radio.com1TransmitEnabled);
        deliver(SI::objectDataMessage(2, avionics(0x2345, 0x7000, 1)));
        QCOMPARE(radios.size(), 2);
        QVERIFY(!radios[1][0].value<model::RadioStackState>().squawkingModeC);

        const QByteArray env = SI::text("D-AIBC", 256) + SI::text("A320", 256) + SI::f64(1013.2) +
                               SI::f64(1013.2) + SI::f64(15) + SI::f64(270) + SI::f64(12) + SI::i32(1);
        deliver(SI::objectDataMessage(3, env));
        deliver(SI::objectDataMessage(3, env));
        QCOMPARE(paused.size(), 1);
        QCOMPARE(paused[0][0].toBool(), true);
        QCOMPARE(data.size(), 5);
        QCOMPARE(data[3][0].value<model::UserAircraftData>().qnh, 1013.2);
    }

    // Reported whether or not MSFS sends data while paused; active pause counts.
    void thePauseEventReportsThePause() {
        adapter->reconnectSimulator();
        const auto subscribed = lib->callsOf("SimConnect_SubscribeToSystemEvent");
        QCOMPARE(subscribed.size(), 1);
        QCOMPARE(subscribed[0].args, (QVariantList{SimConnectSession::kPauseEvent, "Pause_EX1"}));
        QSignalSpy paused(adapter.get(), &simulator::Simulator::simPausedStateChanged);
        deliver(SI::eventMessage(SimConnectSession::kPauseEvent, 4));
        deliver(SI::eventMessage(SimConnectSession::kPauseEvent, 4));
        deliver(SI::eventMessage(SimConnectSession::kPauseEvent + 1, 0));
        deliver(SI::eventMessage(SimConnectSession::kPauseEvent, 0));
        QCOMPARE(paused.size(), 2);
        QCOMPARE(paused[0][0].toBool(), true);
        QCOMPARE(paused[1][0].toBool(), false);
    }

    void speedbrakeInputEventsMoveTheConfiguration() {
        QVERIFY(connectAdapter());
        deliver(SI::inputEventsMessage(60000, {{"AIRLINER_SPEED_BRAKE", 77, 0}}));
        QSignalSpy config(adapter.get(), &simulator::Simulator::userAircraftConfigDataChanged);
        deliver(SI::inputEventValueMessage(77, 0, 50.0));
        QCOMPARE(config.size(), 1);
        QCOMPARE(config[0][0].value<model::UserAircraftConfigData>().speedbrakeRatio, 0.5);
    }

    void radioWritesCarryExactValues_data() {
        QTest::addColumn<int>("radio");
        QTest::addColumn<float>("freq");
        QTest::addColumn<QString>("event");
        QTest::addColumn<uint>("hz"); // 0: nothing sent
        QTest::newRow("COM1 MHz") << 1 << 122.8f << "COM_RADIO_SET_HZ" << 122800000u;
        QTest::newRow("COM1 8.33 channel") << 1 << 118.025f << "COM_RADIO_SET_HZ" << 118025000u;
        QTest::newRow("COM2 kHz") << 2 << 121500.0f << "COM2_RADIO_SET_HZ" << 121500000u;
        QTest::newRow("1000 is still MHz") << 2 << 1000.0f << "COM2_RADIO_SET_HZ" << 1000000000u;
        QTest::newRow("zero refused") << 1 << 0.0f << "" << 0u;
        QTest::newRow("negative refused") << 1 << -5.0f << "" << 0u;
        QTest::newRow("NaN refused") << 2 << float(qQNaN()) << "" << 0u;
        QTest::newRow("infinity refused") << 2 << float(qInf()) << "" << 0u;
    }
    void radioWritesCarryExactValues() {
        QFETCH(int, radio);
        QFETCH(float, freq);
        QFETCH(QString, event);
        QFETCH(uint, hz);
        QVERIFY(connectAdapter());
        if (hz == 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignoring invalid COM frequency"));
        radio == 1 ? adapter->setCom1Frequency(freq) : adapter->setCom2Frequency(freq);
        const auto sent = lib->callsOf("SimConnect_TransmitClientEvent");
        QCOMPARE(sent.size(), hz ? 1 : 0);
        if (!hz)
            return;
        QCOMPARE(lib->callsOf("SimConnect_MapClientEventToSimEvent")[0].args[1].toString(), event);
        QCOMPARE(sent[0].args[2].toUInt(), hz);
    }

    void transponderWrites_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("written"); // hex of the value; empty: nothing written
        QTest::newRow("7000") << 7000 << QByteArray("00700000");
        QTest::newRow("0021") << 21 << QByteArray("21000000");
        QTest::newRow("digit 8 refused") << 7800 << QByteArray();
        QTest::newRow("five digits refused") << 17000 << QByteArray();
        QTest::newRow("negative refused") << -1 << QByteArray();
    }
    void transponderWrites() {
        QFETCH(int, code);
        QFETCH(QByteArray, written);
        QVERIFY(connectAdapter());
        if (written.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignoring invalid transponder code"));
        adapter->setTransponderCode(code);
        const auto sets = lib->callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(sets.size(), written.isEmpty() ? 0 : 1);
        if (!written.isEmpty())
            QCOMPARE(sets[0].data.toHex(), written);
    }

    void identAndModeToggle() {
        QVERIFY(connectAdapter());
        adapter->transponderIdent();
        QCOMPARE(lib->callsOf("SimConnect_MapClientEventToSimEvent")[0].args[1].toString(),
                 QString("XPNDR_IDENT_ON"));
        QCOMPARE(lib->callsOf("SimConnect_TransmitClientEvent").size(), 1);
        adapter->transponderModeToggle(); // standby -> altitude
        deliver(SI::objectDataMessage(2, avionics(0x2345, 0x7000, 4)));
        adapter->transponderModeToggle(); // altitude -> standby
        const auto sets = lib->callsOf("SimConnect_SetDataOnSimObject");
        QCOMPARE(sets.size(), 2);
        QCOMPARE(sets[0].data.toHex(), QByteArray("04000000"));
        QCOMPARE(sets[1].data.toHex(), QByteArray("01000000"));
    }

    void backOffGrowsToItsBound() {
        ConnectionStateMachine machine;
        machine.start();
        QList<qint64> delays;
        qint64 now = 0;
        for (int i = 0; i < 8; ++i) {
            machine.onError(0, now);
            delays << machine.retryAtMs() - now;
            QVERIFY(!machine.tick(machine.retryAtMs() - 1));
            now = machine.retryAtMs();
            QVERIFY(machine.tick(now));
        }
        QCOMPARE(delays, (QList<qint64>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
        machine.onConnected();
        QCOMPARE(machine.failedAttempts(), 0);
    }

    void finalErrorsStopReconnecting_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<State>("after");
        QTest::newRow("0 retries") << 0 << State::WaitingToReconnect;
        QTest::newRow("1 retries") << 1 << State::WaitingToReconnect;
        QTest::newRow("2 final") << 2 << State::Failed;
        QTest::newRow("3 final") << 3 << State::Failed;
        QTest::newRow("4 retries") << 4 << State::WaitingToReconnect;
    }
    void finalErrorsStopReconnecting() {
        QFETCH(int, error);
        QFETCH(State, after);
        ConnectionStateMachine machine;
        machine.start();
        machine.onConnected();
        QVERIFY(machine.onError(error, 0)); // the connection is dropped
        QCOMPARE(machine.state(), after);
        QCOMPARE(machine.tick(100000), after != State::Failed);
    }

    void failedConnectIsReportedAndRetriedWithBackOff() {
        lib->files = {};
        QSignalSpy failed(adapter.get(), &simulator::Simulator::simConnectionFailed);
        QSignalSpy state(adapter.get(), &simulator::Simulator::simConnectionStateChanged);
        adapter->reconnectSimulator();
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().startsWith("Failed to connect to MSFS via SimConnect"));
        QCOMPARE(adapter->connectionState().state(), State::WaitingToReconnect);
        clock = 999;
        adapter->tickConnection();
        QCOMPARE(failed.size(), 1);
        clock = 1000;
        adapter->tickConnection();
        QCOMPARE(failed.size(), 2);
        QCOMPARE(adapter->connectionState().retryAtMs(), 3000);

        lib->files = {"SimConnect.dll"};
        clock = 3000;
        adapter->tickConnection();
        QVERIFY(adapter->session().isConnected());
        QCOMPARE(state.size(), 1);
        QCOMPARE(adapter->connectionState().failedAttempts(), 0);
    }

    void onlyALostConnectionReconnects_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("dispatchFailure");
        QTest::addColumn<bool>("lost");
        QTest::newRow("simulator quit") << SI::quitMessage() << 0 << true;
        QTest::newRow("failing dispatch") << QByteArray() << int(0x80070006u) << true;
        QTest::newRow("unhandled exception") << SI::exceptionMessage(1) << 0 << false;
        QTest::newRow("unrecognized id") << SI::exceptionMessage(3) << 0 << false;
        QTest::newRow("data error") << SI::exceptionMessage(20) << 0 << false;
    }
    void onlyALostConnectionReconnects() {
        QFETCH(QByteArray, message);
        QFETCH(int, dispatchFailure);
        QFETCH(bool, lost);
        QVERIFY(connectAdapter());
        QSignalSpy state(adapter.get(), &simulator::Simulator::simConnectionStateChanged);
        lib->dispatchFailure = dispatchFailure;
        deliver(message);
        lib->dispatchFailure = 0;
        lib->fail("SimConnect_TransmitClientEvent"); // a failed request keeps it too
        adapter->transponderIdent();
        QCOMPARE(adapter->session().isConnected(), !lost);
        QCOMPARE(state.size(), lost ? 1 : 0);
        if (!lost) {
            QCOMPARE(adapter->connectionState().state(), State::Connected);
            return;
        }
        QCOMPARE(state[0][0].toBool(), false);
        clock = 1000;
        adapter->tickConnection();
        QVERIFY(adapter->session().isConnected());
        QCOMPARE(state.size(), 2);
        QCOMPARE(lib->callsOf("SimConnect_RequestDataOnSimObject").size(), 5); // four groups and the title
    }
};

QTEST_GUILESS_MAIN(TestMsfsAdapter)
#include "tst_msfsadapter.moc"
