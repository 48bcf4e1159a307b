// The session manager's binding to a simulator back end: rebinding, data
// validity, the watchdog, the dashboard snapshot, radios and notices.
#include "manager/NetworkManager.h"
#include "manager/UserAircraftManager.h"
#include "support/FakeSimulator.h"
#include "support/SessionFixture.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using velk::common::MessageType;
using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
using velk::model::RadioStackState;
using velk::model::UserAircraftConfigData;
using velk::model::UserAircraftData;
using velk::test::FakeSimulator;
using velk::test::SessionHarness;
namespace voice = velk::voice;

namespace {

// Reaches the voice client's protected state changes, as its server would.
struct VoiceAccess : velk::voice::VoiceClient {
    using VoiceClient::setConnectionState;
    using VoiceClient::setIdentity;
};

UserAircraftData plausible(double latitude) {
    UserAircraftData d;
    d.latitude = latitude;
    d.longitude = 121.8;
    d.altitudeMslM = 100;
    return d;
}

} // namespace

class TestNetworkManagerSimulator : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<NetworkManager> nm;
    std::shared_ptr<FakeSimulator> sim;
    qint64 clock = 1'000'000;
    SessionHarness session;

    void feedPlausible(int count) {
        static double latitude = 30.0;
        for (int i = 0; i < count; ++i) {
            latitude += 0.001;
            sim->setUserAircraftData(plausible(latitude));
        }
    }

    // Still valid 3000 ms after the last data, invalid one millisecond later.
    bool expiresAfter3001Milliseconds() {
        clock += 3000;
        nm->checkSimulatorDataStale();
        const bool validAtTheLimit = nm->isSimDataValid();
        clock += 1;
        nm->checkSimulatorDataStale();
        return validAtTheLimit && !nm->isSimDataValid();
    }

    // A pilot on the test's clock with these records, whose simulator is lost
    // (its records cleared) and connected again; the configuration exchange
    // follows the session. Empty when the login fails.
    std::unique_ptr<velk::manager::UserAircraftManager>
    flyLoseAndReturn(const RadioStackState& radio, const UserAircraftConfigData& config) {
        SessionHarness& h = session;
        h.create();
        auto user = std::make_unique<velk::manager::UserAircraftManager>(h.nm);
        if (!h.loginPilot()) {
            return nullptr;
        }
        h.nm->setClock([this] { return clock; });
        h.sim->setRadioStackState(radio);
        h.sim->setUserAircraftConfigData(config); // the exchange's baseline
        emit h.sim->simConnectionStateChanged(false);
        h.sim->setRadioStackState({});
        h.sim->setUserAircraftConfigData({});
        emit h.sim->simConnectionStateChanged(true);
        h.sentLines();
        return user;
    }

private slots:
    void initTestCase() {
        QVERIFY(session.startServer());
        SessionHarness::configure(false);
    }

    void init() {
        nm = std::make_unique<NetworkManager>();
        nm->setClock([this] { return clock; });
        sim = std::make_shared<FakeSimulator>();
    }

    void cleanup() {
        nm.reset();
        sim.reset();
    }

    void bindingAnnouncesInvalidDataThenTheChangeAndReconnectsOnTheNextTurn() {
        QStringList order;
        connect(nm.get(), &NetworkManager::simulatorConnectionStateChanged, this,
                [&](bool c) { order << QStringLiteral("state:%1").arg(c); });
        connect(nm.get(), &NetworkManager::simulatorDataUpdated, this,
                [&](bool c) { order << QStringLiteral("data:%1").arg(c); });
        connect(nm.get(), &NetworkManager::simulatorChanged, this,
                [&] { order << QStringLiteral("changed"); });

        nm->setSimulator(sim);
        QCOMPARE(order, (QStringList{"state:0", "data:0", "changed"}));
        QCOMPARE(sim->count("reconnectSimulator"), 0);
        QTRY_COMPARE(sim->count("reconnectSimulator"), 1);
    }

    void rebindingBeforeTheQueuedReconnectAsksOnlyTheNewBackEnd() {
        auto second = std::make_shared<FakeSimulator>();
        nm->setSimulator(sim);
        nm->setSimulator(second);
        QCOMPARE(sim->count("removeAllRemoteAircraft"), 1);
        QCOMPARE(sim->count("clearControllerList"), 1);
        QTRY_COMPARE(second->count("reconnectSimulator"), 1);
        QCoreApplication::processEvents();
        QCOMPARE(sim->count("reconnectSimulator"), 0);

        // The old back end no longer reaches the session.
        QSignalSpy plugin(nm.get(), &NetworkManager::simulatorPluginStatusUpdated);
        emit sim->pluginVersionChecked(true);
        QCOMPARE(plugin.count(), 0);
        emit second->pluginVersionChecked(true);
        QCOMPARE(plugin.count(), 1);
    }

    void dataBecomesValidOnTheThirdPlausibleChange() {
        nm->setSimulator(sim);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        QSignalSpy data(nm.get(), &NetworkManager::simulatorDataUpdated);
        feedPlausible(2);
        QCOMPARE(state.count(), 0);
        QCOMPARE(data.count(), 2);
        QCOMPARE(data.last().at(0).toBool(), false);
        feedPlausible(1);
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), true);
        QCOMPARE(data.last().at(0).toBool(), true);
        QVERIFY(nm->isSimDataValid());
    }

    void snapshotsWithoutAReportablePositionNeverValidate() {
        nm->setSimulator(sim);
        for (int i = 1; i <= 5; ++i) {
            UserAircraftData d;
            d.pitch = i; // changes, but says nothing about where the aircraft is
            sim->setUserAircraftData(d);
            d.altitudeMslM = 100 * i; // a cleared position, however it moves
            d.groundSpeed = 120;
            sim->setUserAircraftData(d);
        }
        QVERIFY(!nm->isSimDataValid());
    }

    void dataTurnsInvalidAfter3001MillisecondsWithoutAPlausibleSnapshot() {
        nm->setSimulator(sim);
        feedPlausible(3);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        QVERIFY(expiresAfter3001Milliseconds());
        QCOMPARE(state.count(), 1);
        QCOMPARE(state.last().at(0).toBool(), false);

        // Valid again only after three further plausible changes.
        feedPlausible(2);
        QVERIFY(!nm->isSimDataValid());
        feedPlausible(1);
        QVERIFY(nm->isSimDataValid());
    }

    // A paused or parked aircraft: the back end keeps delivering the same snapshot.
    void anUnchangedSnapshotStreamKeepsTheDataFreshUntilItStops() {
        nm->setSimulator(sim);
        feedPlausible(3);
        const UserAircraftData same = sim->userAircraftData();
        QSignalSpy data(nm.get(), &NetworkManager::simulatorDataUpdated);
        for (int tick = 1; tick <= 20; ++tick) {
            clock += 500;
            if (tick % 2 == 0) {
                sim->setUserAircraftData(same);
            }
            nm->checkSimulatorDataStale();
        }
        QVERIFY(nm->isSimDataValid());
        QCOMPARE(data.count(), 0); // nothing new to show

        QVERIFY(expiresAfter3001Milliseconds()); // silent

        // Valid again on the third delivery, changed or not.
        sim->setUserAircraftData(same);
        sim->setUserAircraftData(same);
        QVERIFY(!nm->isSimDataValid());
        sim->setUserAircraftData(same);
        QVERIFY(nm->isSimDataValid());
        QCOMPARE(data.last().at(0).toBool(), true);
    }

    void aPausedSimulatorKeepsItsDataValidUntilTheBackEndReportsALoss() {
        nm->setSimulator(sim);
        feedPlausible(3);
        emit sim->simPausedStateChanged(true);
        clock += 60000;
        nm->checkSimulatorDataStale();
        QVERIFY(nm->isSimDataValid());

        // Resumed: the back end has the full limit to deliver again.
        emit sim->simPausedStateChanged(false);
        QVERIFY(expiresAfter3001Milliseconds());

        feedPlausible(3);
        emit sim->simPausedStateChanged(true);
        emit sim->simConnectionStateChanged(false);
        QVERIFY(!nm->isSimDataValid());
    }

    void backEndConnectionReportsDriveValidity() {
        nm->setSimulator(sim);
        QSignalSpy state(nm.get(), &NetworkManager::simulatorConnectionStateChanged);
        QSignalSpy failed(nm.get(), &NetworkManager::simulatorConnectionFailed);
        emit sim->simConnectionStateChanged(true);
        QVERIFY(nm->isSimDataValid());
        QCOMPARE(state.last().at(0).toBool(), true);

        // Connected, but no plausible data yet: a pilot may not log in.
        QSignalSpy notices(nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(!nm->connectToNetwork("ABC123", "A320", "", false));
        QCOMPARE(notices.last().at(0).toString(),
                 QStringLiteral("飞行员模式连接 FSD 前，请先连接模拟器并等待有效的飞机数据。"));

        emit sim->simConnectionFailed("no simulator");
        QVERIFY(!nm->isSimDataValid());
        QCOMPARE(state.last().at(0).toBool(), false);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.last().at(0).toString(), QStringLiteral("no simulator"));
    }

    // Each record field is set alone on a freshly bound back end: it must land
    // in its own argument and nowhere else; -1 marks fields never published.
    void snapshotCarriesEachValueInItsPlace() {
        using D = UserAircraftData;
        using C = UserAircraftConfigData;
        using R = RadioStackState;
        struct Field {
            const char* name;
            int index;
            std::function<void(D&, C&, R&, double)> set;
        };
        const QList<Field> fields = {
            {"latitude", 1, [](D& d, C&, R&, double v) { d.latitude = v; }},
            {"longitude", 2, [](D& d, C&, R&, double v) { d.longitude = v; }},
            {"altitudeMslM", 3, [](D& d, C&, R&, double v) { d.altitudeMslM = v; }},
            {"altitudeAglM", 4, [](D& d, C&, R&, double v) { d.altitudeAglM = v; }},
            {"altitudePressure", 5, [](D& d, C&, R&, double v) { d.altitudePressure = v; }},
            {"pitch", 6, [](D& d, C&, R&, double v) { d.pitch = v; }},
            {"heading", 7, [](D& d, C&, R&, double v) { d.heading = v; }},
            {"bank", 8, [](D& d, C&, R&, double v) { d.bank = v; }},
            {"latitudeVelocity", 9, [](D& d, C&, R&, double v) { d.latitudeVelocity = v; }},
            {"longitudeVelocity", 10, [](D& d, C&, R&, double v) { d.longitudeVelocity = v; }},
            {"altitudeVelocity", 11, [](D& d, C&, R&, double v) { d.altitudeVelocity = v; }},
            {"pitchVelocity", 12, [](D& d, C&, R&, double v) { d.pitchVelocity = v; }},
            {"headingVelocity", 13, [](D& d, C&, R&, double v) { d.headingVelocity = v; }},
            {"bankVelocity", 14, [](D& d, C&, R&, double v) { d.bankVelocity = v; }},
            {"groundSpeed", 15, [](D& d, C&, R&, double v) { d.groundSpeed = v; }},
            {"noseWheelAngle", 16, [](D& d, C&, R&, double v) { d.noseWheelAngle = v; }},
            {"qnh", -1, [](D& d, C&, R&, double v) { d.qnh = v; }},
            {"temperatureError", -1, [](D& d, C&, R&, double v) { d.temperatureError = v; }},
            {"onGround", 17, [](D&, C& c, R&, double) { c.onGround = true; }},
            {"gearDown", 18, [](D&, C& c, R&, double) { c.gearDown = true; }},
            {"flapsRatio", 19, [](D&, C& c, R&, double v) { c.flapsRatio = v; }},
            {"speedbrakeRatio", 20, [](D&, C& c, R&, double v) { c.speedbrakeRatio = v; }},
            {"speedbrakeArmed", 21, [](D&, C& c, R&, double) { c.speedbrakeArmed = true; }},
            {"engineCount", 22, [](D&, C& c, R&, double v) { c.engineCount = static_cast<int>(v); }},
            {"engine1Running", 23, [](D&, C& c, R&, double) { c.engine1Running = true; }},
            {"engine2Running", 24, [](D&, C& c, R&, double) { c.engine2Running = true; }},
            {"engine3Running", 25, [](D&, C& c, R&, double) { c.engine3Running = true; }},
            {"engine4Running", 26, [](D&, C& c, R&, double) { c.engine4Running = true; }},
            {"engine1Reversing", 27, [](D&, C& c, R&, double) { c.engine1Reversing = true; }},
            {"engine2Reversing", 28, [](D&, C& c, R&, double) { c.engine2Reversing = true; }},
            {"engine3Reversing", 29, [](D&, C& c, R&, double) { c.engine3Reversing = true; }},
            {"engine4Reversing", 30, [](D&, C& c, R&, double) { c.engine4Reversing = true; }},
            {"beaconOn", 31, [](D&, C& c, R&, double) { c.beaconOn = true; }},
            {"landingLightsOn", 32, [](D&, C& c, R&, double) { c.landingLightsOn = true; }},
            {"taxiLightsOn", 33, [](D&, C& c, R&, double) { c.taxiLightsOn = true; }},
            {"navLightsOn", 34, [](D&, C& c, R&, double) { c.navLightsOn = true; }},
            {"strobesOn", 35, [](D&, C& c, R&, double) { c.strobesOn = true; }},
            {"avionicsPowerOn", 36, [](D&, C&, R& r, double) { r.avionicsPowerOn = true; }},
            {"com1ReceiveEnabled", 37, [](D&, C&, R& r, double) { r.com1ReceiveEnabled = true; }},
            {"com2ReceiveEnabled", 38, [](D&, C&, R& r, double) { r.com2ReceiveEnabled = true; }},
            {"com1TransmitEnabled", 39, [](D&, C&, R& r, double) { r.com1TransmitEnabled = true; }},
            {"com2TransmitEnabled", 40, [](D&, C&, R& r, double) { r.com2TransmitEnabled = true; }},
            {"com1Frequency", 41, [](D&, C&, R& r, double v) { r.com1Frequency = static_cast<uint>(v); }},
            {"com2Frequency", 42, [](D&, C&, R& r, double v) { r.com2Frequency = static_cast<uint>(v); }},
            {"com1Volume", 43, [](D&, C&, R& r, double v) { r.com1Volume = static_cast<int>(v); }},
            {"com2Volume", 44, [](D&, C&, R& r, double v) { r.com2Volume = static_cast<int>(v); }},
            {"transponderCode", 45,
             [](D&, C&, R& r, double v) { r.transponderCode = static_cast<quint16>(v); }},
            {"squawkingModeC", 46, [](D&, C&, R& r, double) { r.squawkingModeC = true; }},
            {"squawkingIdent", 47, [](D&, C&, R& r, double) { r.squawkingIdent = true; }},
            {"com1StandbyFrequency", -1, [](D&, C&, R& r, double v) { r.com1StandbyFrequency = uint(v); }},
            {"com2StandbyFrequency", -1, [](D&, C&, R& r, double v) { r.com2StandbyFrequency = uint(v); }},
        };
        QSignalSpy data(nm.get(), &NetworkManager::simulatorDataUpdated);
        const auto expectOnly = [&](const char* name, int index, double value) {
            const QList<QVariant> args = data.last();
            QCOMPARE(args.size(), 49);
            for (int i = 0; i < args.size(); ++i) {
                QVERIFY2(args.at(i).toDouble() == (i == index ? value : 0.0),
                         qPrintable(QStringLiteral("%1 at %2").arg(QLatin1String(name)).arg(i)));
            }
        };
        for (const Field& field : fields) {
            nm->setSimulator(sim);
            D d;
            C c;
            R r;
            const double value = 100 + field.index; // bools become true whatever it is
            field.set(d, c, r, value);
            if (!(d == D{})) {
                sim->setUserAircraftData(d);
            } else if (!(c == C{})) {
                sim->setUserAircraftConfigData(c);
            } else {
                sim->setRadioStackState(r);
            }
            const bool isBool = data.last().at(qMax(field.index, 0)).typeId() == QMetaType::Bool;
            expectOnly(field.name, field.index, isBool ? 1.0 : value);
        }
        nm->setSimulator(sim);
        emit sim->simPausedStateChanged(true);
        expectOnly("simPaused", 48, 1.0);
        QVERIFY(nm->isSimPaused());
    }

    void onlyCom1TransmitsWhenBothRadiosAreSetToTransmit() {
        nm->setSimulator(sim);
        QSignalSpy radios(nm.get(), &NetworkManager::radioStatesUpdate);
        RadioStackState radio;
        radio.com1Frequency = 122800;
        radio.com2Frequency = 121500;
        radio.com1TransmitEnabled = true;
        radio.com2TransmitEnabled = true;
        sim->setRadioStackState(radio);
        QCOMPARE(nm->transmitFrequencies(), QList<uint>{122800});
        radio.com1TransmitEnabled = false;
        sim->setRadioStackState(radio);
        QCOMPARE(nm->transmitFrequencies(), QList<uint>{121500});
        sim->setRadioStackState(radio); // unchanged: nothing
        QCOMPARE(radios.count(), 2);

        // A new back end starts without radios, and listeners are told.
        nm->setSimulator(std::make_shared<FakeSimulator>());
        QCOMPARE(radios.count(), 3);
        QCOMPARE(radios.last().at(0).value<RadioStackState>(), RadioStackState{});
        QVERIFY(nm->transmitFrequencies().isEmpty());
        nm->setSimulator(std::make_shared<FakeSimulator>());
        QCOMPARE(radios.count(), 3);
    }

    // The voice client follows the radios once it is ready, COM1 winning when
    // both radios are set to transmit.
    void theVoiceRadiosFollowTheRadioStackOnceTheVoiceClientIsReady() {
        nm->setSimulator(sim);
        RadioStackState radio;
        radio.com1Frequency = 122800;
        radio.com1TransmitEnabled = true;
        radio.com1ReceiveEnabled = true;
        radio.com1Volume = 80;
        radio.com2Frequency = 121500;
        radio.com2TransmitEnabled = true;
        radio.com2Volume = 25;
        sim->setRadioStackState(radio);
        voice::VoiceClient* client = nm->voiceClient();
        QCOMPARE(client->radios().value(0).frequency, 0); // not ready: untouched

        client->setCid(1234567);
        (client->*&VoiceAccess::setIdentity)("ABC123");
        (client->*&VoiceAccess::setConnectionState)(voice::ConnectionState::Ready);
        const voice::RadioChannel com1{0, 122800, true, true, 0.8f, false};
        const voice::RadioChannel com2{1, 121500, false, false, 0.25f, false};
        QCOMPARE(client->radios().value(0), com1);
        QCOMPARE(client->radios().value(1), com2);

        radio.com1TransmitEnabled = false;
        sim->setRadioStackState(radio);
        QVERIFY(client->radios().value(1).transmit);
        QVERIFY(!client->radios().value(0).transmit);
    }

    void noticesAreShownInTheSimulatorInTheColourOfTheirType_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("rgb");
        QTest::newRow("server") << 0 << qint64(0x85A664);
        QTest::newRow("incoming private") << 1 << qint64(0x00FFFF);
        QTest::newRow("outgoing private") << 2 << qint64(0xC0C0C0);
        QTest::newRow("text override") << 3 << qint64(0xCD5C5C);
        QTest::newRow("radio primary") << 4 << qint64(0xFFFFFF);
        QTest::newRow("radio secondary") << 5 << qint64(0xC0C0C0);
        QTest::newRow("outgoing radio") << 6 << qint64(0x00FFFF);
        QTest::newRow("broadcast") << 7 << qint64(0xFFA500);
        QTest::newRow("wallop") << 8 << qint64(0xFF0000);
        QTest::newRow("info") << 9 << qint64(0xFFFF00);
        QTest::newRow("error") << 10 << qint64(0xFF0000);
        QTest::newRow("unknown") << 42 << qint64(0xFFFF00);
    }

    void noticesAreShownInTheSimulatorInTheColourOfTheirType() {
        QFETCH(int, type);
        QFETCH(qint64, rgb);
        nm->setSimulator(sim);
        emit nm->notificationPosted(QStringLiteral("通知"), static_cast<MessageType>(type));
        const auto shown = sim->callsTo("showNotification");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).args, (QVariantList{QStringLiteral("通知"), rgb}));
    }

    // A back end whose traffic starts afresh while it stays connected (an
    // X-Plane plug-in reloaded) is cleared and given every pilot still heard
    // once, none that left, and the aircraft's data stays valid. While the
    // back end is gone, its return does that.
    void aBackEndHoldingNoTrafficAnyMoreGetsEveryPilotStillHeardOnce() {
        SessionHarness& h = session;
        h.create();
        QVERIFY(h.loginPilot());
        for (const char* cs : {"CES123", "CSN456", "CCA789"}) {
            QVERIFY(h.deliver(QStringLiteral("@N:%1:2000:1:31.150000:121.800000:12:0:1026:0").arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:ABC123:PI:GEN:EQUIPMENT=A320").arg(cs)));
        }
        QVERIFY(h.deliver(QStringLiteral("#DPCCA789:1234567")));
        const auto added = [&h] {
            QStringList callsigns;
            for (const auto& call : h.sim->callsTo(QStringLiteral("addRemoteAircraft"))) {
                callsigns << call.args.at(0).value<RemoteAircraft>().callsign;
            }
            callsigns.sort();
            return callsigns;
        };
        QCOMPARE(added(), (QStringList{"CCA789", "CES123", "CSN456"}));
        h.sim->clearCalls();
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);

        emit h.sim->remoteAircraftCleared();
        QCOMPARE(added(), (QStringList{"CES123", "CSN456"}));
        QCOMPARE(h.sim->calls.constFirst().name, QStringLiteral("removeAllRemoteAircraft"));
        // Nor does it know the session any more: told again before the traffic.
        QCOMPARE(h.sim->calls.at(1).name, QStringLiteral("notifyNetworkConnected"));
        QCOMPARE(h.sim->calls.at(1).args.at(0).toString(), QStringLiteral("ABC123"));
        QVERIFY(h.nm->isSimDataValid());
        QCOMPARE(notices.count(), 0);

        emit h.sim->simConnectionStateChanged(false);
        h.sim->clearCalls();
        emit h.sim->remoteAircraftCleared();
        QCOMPARE(h.sim->calls.size(), 0);
        emit h.sim->simConnectionStateChanged(true);
        QCOMPARE(added(), (QStringList{"CES123", "CSN456"}));
        h.destroy();
    }

    void reconnectWithoutABackEndDoesNothing() {
        nm->reconnectSimulator();
        nm->setSimulator(sim);
        QTRY_COMPARE(sim->count("reconnectSimulator"), 1);
        nm->reconnectSimulator();
        QCOMPARE(sim->count("reconnectSimulator"), 2);
    }

    // The back end announces the loss, publishes cleared records, and once
    // back refills them a value at a time, the slower ones last.
    void aLostSimulatorKeepsTheLastValidAircraftOnTheNetwork() {
        SessionHarness& h = session;
        h.create();
        auto user = std::make_unique<velk::manager::UserAircraftManager>(h.nm);
        QVERIFY(h.loginPilot());
        RadioStackState radio;
        radio.transponderCode = 2000;
        radio.squawkingModeC = true;
        radio.com1Frequency = 122800;
        h.sim->setRadioStackState(radio);
        UserAircraftConfigData parked;
        parked.gearDown = true;
        parked.beaconOn = true;
        parked.onGround = true;
        h.sim->setUserAircraftConfigData(parked);
        h.sentLines();

        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        emit h.sim->simConnectionStateChanged(false);
        h.sim->setUserAircraftData({});
        h.sim->setUserAircraftConfigData({});
        h.sim->setRadioStackState({});
        QCOMPARE(notices.count(), 1);
        QVERIFY(h.nm->isSimulatorLost());
        h.nm->onPositionTimer();
        h.nm->onPositionTimer();
        const QString held = QStringLiteral("@N:ABC123:2000:1:31.143420:121.805230:0:0:2:0");
        QStringList lines = h.sentLines();
        QCOMPARE(lines.filter(QRegularExpression("^[@^]")),
                 (QStringList{"^ABC123:31.143420:121.805230:0.00:0.00:2:0.0000:0.0000:0.0000:0.0000:0.0000:"
                              "0.0000:0.00",
                              held, lines.at(0), held}));
        QVERIFY(lines.filter("ACC").isEmpty());

        // Data still arriving from a back end that said it is not connected
        // neither ends the loss nor moves the aircraft.
        for (int i = 1; i <= 3; ++i) {
            h.sim->setUserAircraftData(plausible(31.5 + i * 0.001));
        }
        QVERIFY(h.nm->isSimulatorLost());
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLinesStartingWith("@"), QStringList{held});

        // Back: the position first; the transponder and the configuration are
        // kept while the back end's records are still cleared, for the 6 s
        // until it refills them.
        h.nm->setClock([this] { return clock; });
        emit h.sim->simConnectionStateChanged(true);
        QVERIFY(!h.nm->isSimulatorLost());
        QCOMPARE(notices.count(), 2);
        for (int second = 0; second <= 6; ++second) {
            clock += 1000;
            h.sim->setUserAircraftData(plausible(31.6));
            h.sim->setRadioStackState({});
            h.sim->setUserAircraftConfigData({});
            h.nm->checkSimulatorDataStale();
            h.nm->onPositionTimer();
        }
        QVERIFY(h.deliver(QStringLiteral("$CQSERVER:ABC123:C?")));
        const QString back = QStringLiteral("@N:ABC123:2000:1:31.600000:121.800000:0:0:2:0");
        QCOMPARE(h.sentLines(), QStringList(7, back) << "$CRABC123:SERVER:C?:122.800");

        // Reported from the new records, configuration changes go out again.
        h.sim->setRadioStackState(radio);
        parked.landingLightsOn = true;
        h.sim->setUserAircraftConfigData(parked);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(),
                 (QStringList{R"($CQABC123:@94386:ACC:{"config":{"lights":{"landing_on":true}}})",
                              "@N:ABC123:2000:1:31.600000:121.800000:0:0:2:0"}));
        QCOMPARE(notices.count(), 2);
        user.reset();
        h.destroy();
    }

    // A transponder left at 0000 and a glider (no engine, fixed gear, no
    // light): records that only look cleared end the hold as soon as they
    // differ from a cleared one in anything.
    void aHoldEndsWithTheFirstRecordThatIsNotCleared() {
        SessionHarness& h = session;
        RadioStackState standby;
        standby.com1Frequency = 122800;
        auto user = flyLoseAndReturn(standby, {}); // gliding
        QVERIFY(user);
        h.sim->setUserAircraftData(plausible(31.6));

        RadioStackState modeC;
        modeC.squawkingModeC = true;
        modeC.com1Frequency = 121500;
        h.sim->setRadioStackState(modeC);
        UserAircraftConfigData rolling;
        rolling.onGround = true;
        h.sim->setUserAircraftConfigData(rolling);
        h.nm->onPositionTimer();
        QVERIFY(h.deliver(QStringLiteral("$CQSERVER:ABC123:C?")));
        QCOMPARE(h.sentLines(), (QStringList{R"($CQABC123:@94386:ACC:{"config":{"on_ground":true}})",
                                             "@N:ABC123:0000:1:31.600000:121.800000:0:0:2:0",
                                             "$CRABC123:SERVER:C?:121.500"}));
        user.reset();
        h.destroy();
    }

    // The active frequencies and the audio selection come back before the
    // transponder and the rest of the radios: that half record still holds.
    void theRadiosStayHeldUntilTheTransponderIsRefilled() {
        SessionHarness& h = session;
        RadioStackState radio;
        radio.avionicsPowerOn = true;
        radio.transponderCode = 2000;
        radio.squawkingModeC = true;
        radio.com1Frequency = 122800;
        radio.com1TransmitEnabled = true;
        radio.com1ReceiveEnabled = true;
        auto user = flyLoseAndReturn(radio, {});
        QVERIFY(user);
        h.sim->setUserAircraftData(plausible(31.6));

        RadioStackState faster;
        faster.com1Frequency = 122800;
        faster.com1TransmitEnabled = true;
        faster.com1ReceiveEnabled = true;
        h.sim->setRadioStackState(faster);
        h.nm->onPositionTimer();
        h.sim->setRadioStackState(radio);
        h.nm->onPositionTimer();
        QCOMPARE(h.sentLines(),
                 QStringList(2, QStringLiteral("@N:ABC123:2000:1:31.600000:121.800000:0:0:0:0")));
        user.reset();
        h.destroy();
    }

    // Records the back end never refills: the hold ends 10 s after valid data
    // is back, whatever they hold, and the exchange sends what changed.
    void aHoldEndsTenSecondsAfterValidDataIsBackWhateverTheRecordsHold() {
        SessionHarness& h = session;
        RadioStackState radio;
        radio.transponderCode = 2000;
        radio.squawkingModeC = true;
        radio.com1Frequency = 122800;
        UserAircraftConfigData parked;
        parked.gearDown = true;
        parked.onGround = true;
        auto user = flyLoseAndReturn(radio, parked);
        QVERIFY(user);

        const auto secondOfValidData = [&] {
            h.sim->setUserAircraftData(plausible(31.6));
            h.nm->checkSimulatorDataStale();
            h.nm->onPositionTimer();
            clock += 1000;
        };
        for (int second = 0; second < 10; ++second) {
            secondOfValidData();
        }
        QCOMPARE(h.sentLines(),
                 QStringList(10, QStringLiteral("@N:ABC123:2000:1:31.600000:121.800000:0:0:2:0")));
        secondOfValidData();
        QVERIFY(h.deliver(QStringLiteral("$CQSERVER:ABC123:C?")));
        QCOMPARE(h.sentLines(),
                 (QStringList{R"($CQABC123:@94386:ACC:{"config":{"gear_down":false,"on_ground":false}})",
                              "@S:ABC123:0000:1:31.600000:121.800000:0:0:0:0", "$CRABC123:SERVER:C?:0.000"}));
        user.reset();
        h.destroy();
    }

    // A login within the hold window after a return: the new session takes
    // the records as they are, none held for the earlier one.
    void aNewSessionCarriesNoHoldOfTheEarlierOne() {
        SessionHarness& h = session;
        RadioStackState radio;
        radio.transponderCode = 2000;
        radio.com1Frequency = 122800;
        UserAircraftConfigData parked;
        parked.gearDown = true;
        auto user = flyLoseAndReturn(radio, parked);
        QVERIFY(user);
        h.sim->setUserAircraftData(plausible(31.6));
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());
        QTRY_COMPARE(h.nm->sessionState(), NetworkManager::Idle);

        QVERIFY(h.loginPilot());
        QVERIFY(!h.nm->isConfigurationHeld());
        h.nm->onPositionTimer();
        QVERIFY(h.deliver(QStringLiteral("$CQSERVER:ABC123:C?")));
        QVERIFY(h.deliver(QStringLiteral(R"($CQDLH1:ABC123:ACC:{"request":"full"})")));
        const QStringList lines = h.sentLines();
        QCOMPARE(lines.mid(0, 2),
                 (QStringList{"@S:ABC123:0000:1:31.600000:121.800000:0:0:0:0", "$CRABC123:SERVER:C?:0.000"}));
        QVERIFY(lines.at(2).startsWith(R"($CQABC123:DLH1:ACC:{"config":{"flaps_pct":0,"gear_down":false,)"));
        user.reset();
        h.destroy();
    }

    // A loss the watchdog finds: the back end still says it is connected.
    void onlyValidDataMovesTheReportedAircraftAndANewSessionStartsFromTheCurrentOne() {
        SessionHarness& h = session;
        h.create();
        h.nm->setClock([this] { return clock; });
        QVERIFY(h.loginPilot());
        clock += 3001;
        h.nm->checkSimulatorDataStale();
        QVERIFY(h.nm->isSimulatorLost());
        h.sim->setUserAircraftData(plausible(40.0));
        h.nm->sendPosition();
        QCOMPARE(h.sentLinesStartingWith("@"), QStringList{"@S:ABC123:0000:1:31.143420:121.805230:0:0:0:0"});

        // A session begun without valid data reports no earlier flight's aircraft.
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());
        QTRY_COMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QVERIFY(h.loginObserver());
        h.nm->sendPosition();
        QCOMPARE(h.sentLinesStartingWith("%"), QStringList{"%ABC_OBS:99998:0:40:1:0.00000:0.00000:0"});
        h.destroy();
    }

    void aForceDisconnectWithoutASessionIsIgnored() {
        nm->setSimulator(sim);
        QSignalSpy notices(nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(nm.get(), &NetworkManager::networkDisconnected);
        emit sim->forceDisconnect("replay");
        QCOMPARE(notices.count(), 0);
        QCOMPARE(disconnected.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerSimulator)
#include "tst_networkmanager_simulator.moc"
