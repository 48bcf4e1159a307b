#include "manager/RemoteAircraft.h"
#include "model/AircraftConfig.h"
#include "model/Controller.h"
#include "model/MetaTypes.h"
#include "network/RadioMessageReceived.h"
#include "support/FakeSimulator.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

using namespace velk;
using model::AircraftConfig;
using model::AircraftConfigMessage;

namespace {

model::UserAircraftConfigData parkedTwin() {
    model::UserAircraftConfigData d;
    d.beaconOn = true;
    d.navLightsOn = true;
    d.engineCount = 2;
    d.engine1Running = true;
    d.engine2Running = true;
    d.gearDown = true;
    d.onGround = true;
    return d;
}

QString configText(const AircraftConfig& c) {
    AircraftConfigMessage m;
    m.config = c;
    return m.toJson();
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { model::registerMetaTypes(); }

    void exampleTextsAreWrittenAndReadBack_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<AircraftConfigMessage>("message");

        AircraftConfigMessage request;
        request.requestFull = true;
        QTest::newRow("request") << QStringLiteral(R"({"request":"full"})") << request;

        AircraftConfigMessage gear;
        gear.config->gearDown = true;
        QTest::newRow("gear went down") << QStringLiteral(R"({"config":{"gear_down":true}})") << gear;

        AircraftConfigMessage full;
        full.config = AircraftConfig::fromUserAircraftConfigData(parkedTwin());
        full.config->isFullData = true;
        QTest::newRow("parked twin, full")
            << QStringLiteral(
                   R"({"config":{"engines":{"1":{"is_reversing":false,"on":true},"2":{"is_reversing":)"
                   R"(false,"on":true}},"flaps_pct":0,"gear_down":true,"is_full_data":true,"lights":)"
                   R"({"beacon_on":true,"landing_on":false,"nav_on":true,"strobe_on":false,"taxi_on":)"
                   R"(false},"on_ground":true,"spoilers_out":false}})")
            << full;
    }

    void exampleTextsAreWrittenAndReadBack() {
        QFETCH(QString, text);
        QFETCH(AircraftConfigMessage, message);
        QCOMPARE(message.toJson(), text);
        QVERIFY(AircraftConfigMessage::fromJson(text) == message);
    }

    void onlyWhatAMessageCarriesIsWritten() {
        AircraftConfigMessage request;
        request.requestFull = true;
        request.config->gearDown = true; // a request never carries its config
        QCOMPARE(request.toJson(), QStringLiteral(R"({"request":"full"})"));
        QCOMPARE(AircraftConfigMessage().toJson(), QStringLiteral(R"({"config":{}})"));
        AircraftConfigMessage none;
        none.config.reset();
        QCOMPARE(none.toJson(), QStringLiteral("{}"));
    }

    void falseIsFullDataIsNotWritten() {
        AircraftConfig c;
        c.isFullData = false;
        c.onGround = false;
        QCOMPARE(configText(c), QStringLiteral(R"({"config":{"on_ground":false}})"));
    }

    void unreadableTextGivesAnEmptyConfiguration_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("not json") << QStringLiteral("gear down please");
        QTest::newRow("array") << QStringLiteral(R"([{"config":{"gear_down":true}}])");
        QTest::newRow("request in other case") << QStringLiteral(R"({"request":"FULL"})");
        QTest::newRow("request not text") << QStringLiteral(R"({"request":1})");
        QTest::newRow("config not object") << QStringLiteral(R"({"config":[true]})");
    }

    void unreadableTextGivesAnEmptyConfiguration() {
        QFETCH(QString, text);
        const AircraftConfigMessage m = AircraftConfigMessage::fromJson(text);
        QVERIFY(!m.requestFull.has_value());
        QVERIFY(m.config.has_value());
        QVERIFY(m.config->isEmpty());
        QVERIFY(m.config->lights.has_value());
        QVERIFY(m.config->engines.has_value());
    }

    void requestWinsOverAConfigInTheSameMessage() {
        const auto m = AircraftConfigMessage::fromJson(R"({"request":"full","config":{"gear_down":true}})");
        QCOMPARE(m.requestFull, std::optional<bool>(true));
        QVERIFY(m.config->isEmpty());
    }

    void wrongJsonTypesReadAsFalseOrZeroButPresent() {
        auto m = AircraftConfigMessage::fromJson(R"({"config":{"flaps_pct":42.5}})");
        QCOMPARE(m.config->flapsPct, std::optional<qint32>(0));
        m = AircraftConfigMessage::fromJson(R"({"config":{"flaps_pct":40}})");
        QCOMPARE(m.config->flapsPct, std::optional<qint32>(40));
        m = AircraftConfigMessage::fromJson(R"({"config":{"gear_down":"yes","lights":{"nav_on":1}}})");
        QCOMPARE(m.config->gearDown, std::optional<bool>(false));
        QCOMPARE(m.config->lights->navOn, std::optional<bool>(false));
        QVERIFY(!m.config->lights->beaconOn.has_value());
        m = AircraftConfigMessage::fromJson(R"({"config":{"is_full_data":true,"unknown":5}})");
        QVERIFY(m.config->isFull());
    }

    void oneEngineInTextLeavesTheOthersAbsent() {
        const auto m =
            AircraftConfigMessage::fromJson(R"({"config":{"engines":{"2":{"on":true},"7":{"on":true}}}})");
        const auto& e = *m.config->engines;
        QCOMPARE(e.on[1], std::optional<bool>(true));
        QVERIFY(!e.isReversing[1].has_value());
        for (int i : {0, 2, 3}) {
            QVERIFY(!e.on[i].has_value());
            QVERIFY(!e.isReversing[i].has_value());
        }
    }

    void engineCountBoundsTheEnginesWritten() {
        auto d = parkedTwin();
        d.engineCount = 0;
        QVERIFY(
            !configText(AircraftConfig::fromUserAircraftConfigData(d)).contains(QLatin1String("engines")));
        d.engineCount = 6;
        const QJsonObject engines = AircraftConfig::fromUserAircraftConfigData(d)
                                        .toJson()
                                        .value(QStringLiteral("engines"))
                                        .toObject();
        QCOMPARE(engines.keys(), (QStringList{"1", "2", "3", "4"}));
        d.engineCount = 3;
        const auto c = AircraftConfig::fromUserAircraftConfigData(d);
        QVERIFY(c.engines->on[2].has_value());
        QVERIFY(!c.engines->on[3].has_value());
    }

    void flapsAreTruncatedToStepsOfFive_data() {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<int>("pct");
        QTest::newRow("0.049") << 0.049 << 0;
        QTest::newRow("0.05") << 0.05 << 5;
        QTest::newRow("0.37") << 0.37 << 35;
        QTest::newRow("0.999") << 0.999 << 95;
        QTest::newRow("1.0") << 1.0 << 100;
        QTest::newRow("nan") << std::nan("") << 0;
    }

    void flapsAreTruncatedToStepsOfFive() {
        QFETCH(double, ratio);
        QFETCH(int, pct);
        model::UserAircraftConfigData d;
        d.flapsRatio = ratio;
        QCOMPARE(AircraftConfig::fromUserAircraftConfigData(d).flapsPct, std::optional<qint32>(pct));
    }

    void spoilersOutOnlyWhenTheRatioIsAboveZero() {
        model::UserAircraftConfigData d;
        d.speedbrakeArmed = true;
        QCOMPARE(AircraftConfig::fromUserAircraftConfigData(d).spoilersOut, std::optional<bool>(false));
        d.speedbrakeRatio = 0.01;
        QCOMPARE(AircraftConfig::fromUserAircraftConfigData(d).spoilersOut, std::optional<bool>(true));
    }

    void diffOfEqualConfigurationsIsEmpty() {
        const auto c = AircraftConfig::fromUserAircraftConfigData(parkedTwin());
        const auto d = AircraftConfig::diff(c, c);
        QVERIFY(d.isEmpty());
        QCOMPARE(configText(d), QStringLiteral(R"({"config":{}})"));
        QVERIFY(!c.differsFrom(c));
    }

    void diffCarriesOnlyWhatChangedOrAppeared() {
        auto twin = parkedTwin();
        auto three = twin;
        three.engineCount = 3;
        const auto d = AircraftConfig::diff(AircraftConfig::fromUserAircraftConfigData(twin),
                                            AircraftConfig::fromUserAircraftConfigData(three));
        QCOMPARE(configText(d),
                 QStringLiteral(R"({"config":{"engines":{"3":{"is_reversing":false,"on":false}}}})"));

        auto moved = twin;
        moved.gearDown = false;
        moved.landingLightsOn = true;
        const auto last = AircraftConfig::fromUserAircraftConfigData(twin);
        const auto current = AircraftConfig::fromUserAircraftConfigData(moved);
        QVERIFY(current.differsFrom(last));
        QCOMPARE(configText(AircraftConfig::diff(last, current)),
                 QStringLiteral(R"({"config":{"gear_down":false,"lights":{"landing_on":true}}})"));
    }

    void diffFromAnEmptyConfigurationGivesEverythingButFullData() {
        auto full = AircraftConfig::fromUserAircraftConfigData(parkedTwin());
        full.isFullData = true;
        auto d = AircraftConfig::diff(AircraftConfig{}, full);
        QVERIFY(!d.isFullData.has_value());
        d.isFullData = true;
        QVERIFY(d == full);
    }

    void differsFromIgnoresFullDataFlag() {
        auto a = AircraftConfig::fromUserAircraftConfigData(parkedTwin());
        auto b = a;
        b.isFullData = true;
        QVERIFY(!a.differsFrom(b));
        b.flapsPct = 10;
        QVERIFY(a.differsFrom(b));
    }

    void remoteAircraftEqualityIgnoresConfigButNotSpeedOrTime() {
        manager::RemoteAircraft a;
        a.callsign = QStringLiteral("CES123");
        a.equipment = QStringLiteral("A320");
        a.visualState.latitude = 31.2;
        a.lastUpdate = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        manager::RemoteAircraft b = a;
        QVERIFY(a == b);

        b.config.gearDown = true;
        b.hasConfig = true;
        b.addRequestedAt = QDateTime::currentDateTimeUtc();
        QVERIFY(a == b);

        b = a;
        b.groundSpeed = 1.0;
        QVERIFY(!(a == b));
        b = a;
        b.lastUpdate = a.lastUpdate.addMSecs(1);
        QVERIFY(!(a == b));
        b = a;
        b.visualState.noseGearAngle = 0.5;
        QVERIFY(!(a == b));
        b = a;
        b.simState = manager::RemoteAircraft::SimState::AddRequested;
        QVERIFY(!(a == b));
    }

    void newRemoteAircraftStartsOutsideTheSimulatorWithoutConfig() {
        const manager::RemoteAircraft r;
        QVERIFY(r.config.isEmpty());
        QVERIFY(!r.hasConfig);
        QCOMPARE(r.simState, manager::RemoteAircraft::SimState::NotInSimulator);
        QCOMPARE(static_cast<int>(r.simState), 0);
    }

    void controllerDisplayFrequencyGetsTheQuarterFix() {
        QCOMPARE(model::Controller::normalize(118720), 118725u);
        QCOMPARE(model::Controller::normalize(121170), 121175u);
        QCOMPARE(model::Controller::normalize(118700), 118700u);
        QCOMPARE(model::Controller::normalize(118725), 118725u);
    }

    void gadgetsExposeTheirProperties() {
        model::Controller c;
        c.callsign = QStringLiteral("ZBAA_TWR");
        c.frequency = 118500;
        const QMetaObject& mo = model::Controller::staticMetaObject;
        QCOMPARE(mo.propertyCount(), 6);
        QCOMPARE(mo.property(0).name(), "callsign");
        QCOMPARE(mo.property(5).name(), "realName");
        QCOMPARE(mo.property(1).readOnGadget(&c).toUInt(), 118500u);

        network::RadioMessageReceived r;
        r.frequencies = QVariant::fromValue(QList<uint>{118500, 121500});
        const QMetaObject& rm = network::RadioMessageReceived::staticMetaObject;
        QCOMPARE(rm.propertyCount(), 5);
        QCOMPARE(rm.property(2).readOnGadget(&r).value<QList<uint>>(), (QList<uint>{118500, 121500}));
    }

    void recordsCrossThreadsInQueuedSignals() {
        test::FakeSimulator sim;
        model::UserAircraftData d;
        d.latitude = 40.08;
        model::RadioStackState r;
        r.com1Frequency = 118500;
        // Only this thread reads what arrives: the receivers are queued to it.
        QObject receiver;
        model::UserAircraftData gotData;
        QList<model::RadioStackState> gotRadios;
        connect(
            &sim, &simulator::Simulator::userAircraftDataChanged, &receiver,
            [&](const model::UserAircraftData& v) { gotData = v; }, Qt::QueuedConnection);
        connect(
            &sim, &simulator::Simulator::radioStackStateChanged, &receiver,
            [&](const model::RadioStackState& v) { gotRadios.append(v); }, Qt::QueuedConnection);
        std::unique_ptr<QThread> worker(QThread::create([&] {
            emit sim.userAircraftDataChanged(d);
            emit sim.radioStackStateChanged(r);
        }));
        worker->start();
        QTRY_COMPARE(gotData.latitude, 40.08);
        QTRY_COMPARE(gotRadios.size(), 1);
        QCOMPARE(gotRadios.constFirst(), r);
        worker->wait();
    }

    void recordsAreEqualOnlyWhenEveryFieldIs() {
        model::RadioStackState a, b;
        QVERIFY(a == b);
        b.com2Sending = true;
        QVERIFY(!(a == b));
        model::UserAircraftConfigData c, d;
        d.speedbrakeArmed = true;
        QVERIFY(!(c == d));
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
