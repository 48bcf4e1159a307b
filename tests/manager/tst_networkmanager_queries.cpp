// Client queries: the answers the server receives, the responses to our own
// queries, and the configuration messages of other pilots.
#include "tst_networkmanager_fixture.h"

#include <QSysInfo>

using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
using velk::model::AircraftConfig;
using velk::model::RadioStackState;
using velk::test::SessionHarness;

namespace {
const QString kCaps = QStringLiteral("CAPS:VERSION=1:ATCINFO=1:MODELDESC=1:ACCONFIG=1:VISUPDATE=1");
}

class TestNetworkManagerQueries : public QObject {
    Q_OBJECT

private:
    SessionHarness h;

private slots:
    void initTestCase() {
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }
    void init() {
        h.create();
        QVERIFY(h.loginPilot());
    }
    void cleanup() { h.destroy(); }

    void capabilitiesAreAnsweredToEveryoneButSignalledOnlyForClients() {
        QSignalSpy asked(h.nm.get(), &NetworkManager::capabilitiesRequestReceived);
        QVERIFY(h.deliver(QStringLiteral("$CQDLH1:ABC123:CAPS")));
        QVERIFY(h.deliver(QStringLiteral("$CQserver:ABC123:CAPS")));
        QCOMPARE(h.sentLines(), (QStringList{"$CRABC123:DLH1:" + kCaps, "$CRABC123:server:" + kCaps}));
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.first().at(0).toString(), QStringLiteral("DLH1"));
    }

    void frequencyNameAndInformationQueriesAreAnswered() {
        RadioStackState radio;
        radio.com1Frequency = 118005;
        h.sim->setRadioStackState(radio);
        velk::model::UserAircraftData d;
        d.latitude = 31.1434;
        d.longitude = 121.8052;
        d.altitudeMslM = 1000;
        h.sim->setUserAircraftData(d);
        h.sim->generation = 2;
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::ProfileRealname,
                                              QStringLiteral("Test: Pilot"));

        QVERIFY(h.deliver(QStringLiteral("$CQSERVER:ABC123:C?")));
        QVERIFY(h.deliver(QStringLiteral("$CQDLH1:ABC123:RN")));
        QVERIFY(h.deliver(QStringLiteral("$CQSUP1:ABC123:INF")));
        QVERIFY(h.deliver(QStringLiteral("$CQDLH1:ABC123:NOSUCHTYPE")));
        const QStringList lines = h.sentLines();
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::ProfileRealname,
                                              QStringLiteral("Test Pilot"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QStringLiteral("$CRABC123:SERVER:C?:118.005"));
        QCOMPARE(lines.at(1), QStringLiteral("$CRABC123:DLH1:RN:Test Pilot ZSSS:1"));
        QCOMPARE(lines.at(2),
                 QStringLiteral("#TMABC123:SUP1:VELK Client 1.0.0-beta.0 PID=1234567 (Test: Pilot ZSSS) "
                                "IP=10.0.0.1 SYS_UID=%1 FS_VER=MFS2024 LT=31.1434 LO=121.805 "
                                "AL=3280.84")
                     .arg(QString::fromUtf8(QSysInfo::machineUniqueId())));
    }

    void informationWithoutABackEndNamesTheSimulatorObserver() {
        h.destroy();
        h.create();
        QVERIFY(h.loginObserver());
        QVERIFY(h.deliver(QStringLiteral("$CQSUP1:ABC_OBS:INF")));
        QCOMPARE(h.sentLines(),
                 QStringList{
                     QStringLiteral("#TMABC_OBS:SUP1:VELK Client 1.0.0-beta.0 PID=1234567 (Test Pilot ZSSS) "
                                    "IP=10.0.0.1 SYS_UID=%1 FS_VER=Observer LT=0 LO=0 AL=0")
                         .arg(QString::fromUtf8(QSysInfo::machineUniqueId()))});
    }

    void pingIsAnsweredWithTheSameData() {
        QVERIFY(h.deliver(QStringLiteral("$PISERVER:ABC123:12345")));
        QCOMPARE(h.sentLines(), QStringList{"$POABC123:SERVER:12345"});
    }

    void queriesOfTheTablesGoOutWithTheirExactLines() {
        AircraftConfig gear = AircraftConfig{};
        gear.gearDown = true;
        h.nm->requestCapabilities(QStringLiteral("DLH1"));
        h.nm->requestIsValidAtc(QStringLiteral("ZSSS_TWR"));
        h.nm->requestAircraftConfiguration(QStringLiteral("DLH1"));
        h.nm->broadcastAircraftConfiguration(gear);
        QCOMPARE(h.sentLines(), (QStringList{"$CQABC123:DLH1:CAPS", "$CQABC123:SERVER:ATC:ZSSS_TWR",
                                             R"($CQABC123:DLH1:ACC:{"request":"full"})",
                                             R"($CQABC123:@94386:ACC:{"config":{"gear_down":true}})"}));
    }

    void responsesToOurQueriesAreSignalled() {
        QSignalSpy atc(h.nm.get(), &NetworkManager::isValidAtcReceived);
        QSignalSpy name(h.nm.get(), &NetworkManager::realNameReceived);
        QSignalSpy caps(h.nm.get(), &NetworkManager::capabilitiesResponseReceived);
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:ATC:N:ZSSS_APP")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:ATC:Y")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:ATC:y:zsss_twr")));
        QVERIFY(h.deliver(QStringLiteral("$CRZSSS_TWR:ABC123:RN:John Doe:ZSSS:1")));
        QVERIFY(h.deliver(QStringLiteral("$CRDLH1:ABC123:CAPS:VERSION=1:ACCONFIG=1")));
        QCOMPARE(atc.count(), 1);
        QCOMPARE(atc.first().at(0).toString(), QStringLiteral("ZSSS_TWR"));
        QCOMPARE(name.first(), (QVariantList{"ZSSS_TWR", "John Doe"}));
        QCOMPARE(caps.first(), (QVariantList{"DLH1", "VERSION=1:ACCONFIG=1"}));
    }

    void atisLinesAreCollectedUntilTheEndLine() {
        QSignalSpy atis(h.nm.get(), &NetworkManager::controllerAtisReceived);
        QVERIFY(h.deliver(QStringLiteral("$CRZSSS_TWR:ABC123:ATIS:T:unasked")));
        QVERIFY(h.deliver(QStringLiteral("$CRZSSS_TWR:ABC123:ATIS:E")));
        QCOMPARE(atis.count(), 0);

        h.nm->requestControllerAtis(QStringLiteral(" "));
        h.nm->requestControllerAtis(QStringLiteral("ZSSS_TWR:X"));
        h.nm->requestControllerAtis(QStringLiteral("zsss_twr"));
        QCOMPARE(h.sentLines(), QStringList{"$CQABC123:zsss_twr:ATIS"});
        h.sim->clearCalls();
        for (const char* line : {"T:Shanghai Tower", "T:QNH 1013", "Z:1430", "E"}) {
            QVERIFY(h.deliver(QStringLiteral("$CRZSSS_TWR:ABC123:ATIS:") + QLatin1String(line)));
        }
        QCOMPARE(atis.count(), 1);
        const QStringList lines{"Shanghai Tower", "QNH 1013", "Estimated logoff time: 1430"};
        QCOMPARE(atis.first(), (QVariantList{"ZSSS_TWR", lines}));
        const auto shown = h.sim->callsTo("showNotification");
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown.at(0).args, (QVariantList{"ZSSS_TWR ATIS:", 0xffa500}));
        QCOMPARE(shown.at(3).args.at(0).toString(), lines.last());
    }

    void flightPlanResponsesGiveThePilotsType() {
        QSignalSpy info(h.nm.get(), &NetworkManager::aircraftInfoReceived);
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:FP:CALLSIGN=abc9:AIRCRAFT=H/B744/L")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:FP:ABC8:B738/L")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:FP:ABC7")));
        // A callsign key decides, even when its value is empty.
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:FP:ABC6:B738:CALLSIGN=")));
        QCOMPARE(info.count(), 2);
        QCOMPARE(info.at(0), (QVariantList{"ABC9", "B744", ""}));
        QCOMPARE(info.at(1), (QVariantList{"ABC8", "B738", ""}));
        QCOMPARE(h.nm->pilot(QStringLiteral("ABC7")), nullptr);
        QCOMPARE(h.nm->pilot(QStringLiteral("ABC6")), nullptr);
        // Not into the simulator at 0°N 0°E: each goes in with its first position.
        QCOMPARE(h.sim->count("addRemoteAircraft"), 0);
        QVERIFY(h.deliver(QStringLiteral("@N:ABC9:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sim->count("addRemoteAircraft"), 1);
        QCOMPARE(h.sim->callsTo("addRemoteAircraft")
                     .first()
                     .args.first()
                     .value<RemoteAircraft>()
                     .visualState.latitude,
                 50.0);
    }

    void configurationMessagesFollowTheFullAndIncrementRule() {
        QSignalSpy acc(h.nm.get(), &NetworkManager::aircraftConfigurationInfoReceived);
        const QString gearUp = R"({"config":{"gear_down":false}})";
        QVERIFY(h.deliver(QStringLiteral("$CQDLH1:ABC123:ACC:") + gearUp));
        QCOMPARE(acc.last(), (QVariantList{"DLH1", gearUp}));
        QVERIFY(!h.nm->pilot(QStringLiteral("DLH1")) || !h.nm->pilot(QStringLiteral("DLH1"))->hasConfig);

        QVERIFY(
            h.deliver(QStringLiteral(R"($CQDLH1:ABC123:ACC:{"config":{"is_full_data":true,"gear_down":true,)"
                                     R"("lights":{"landing_on":true,"nav_on":true}}})")));
        const auto* pilot = h.nm->pilot(QStringLiteral("dlh1"));
        QVERIFY(pilot && pilot->hasConfig);
        QCOMPARE(pilot->config.gearDown, std::optional<bool>(true));

        // An increment merges member by member, within the light group too,
        // and reaches the simulator for a pilot shown there.
        QVERIFY(h.deliver(QStringLiteral("#SBDLH1:ABC123:PI:GEN:EQUIPMENT=A320")));
        QCOMPARE(h.sim->count("addRemoteAircraft"), 0);
        QVERIFY(h.deliver(QStringLiteral("@N:DLH1:1200:1:50.000000:8.500000:35000:450:0:0")));
        QCOMPARE(h.sim->count("addRemoteAircraft"), 1);
        const int updates = h.sim->count("updateRemoteAircraftConfig");
        QVERIFY(
            h.deliver(QStringLiteral(R"($CQdlh1:ABC123:ACC:{"config":{"lights":{"landing_on":false}}})")));
        pilot = h.nm->pilot(QStringLiteral("DLH1"));
        QCOMPARE(pilot->config.lights->landingOn, std::optional<bool>(false));
        QCOMPARE(pilot->config.lights->navOn, std::optional<bool>(true));
        QCOMPARE(pilot->config.gearDown, std::optional<bool>(true));
        QCOMPARE(h.sim->count("updateRemoteAircraftConfig"), updates + 1);

        // A request for our configuration, an unreadable text or none at all
        // changes nothing here; each is still signalled.
        const AircraftConfig before = pilot->config;
        for (const char* text : {R"({"request":"full"})", "{not json", ""}) {
            const QString line =
                QStringLiteral("$CQDLH1:ABC123:ACC") + (*text ? ":" : "") + QLatin1String(text);
            QVERIFY(h.deliver(line));
            QCOMPARE(acc.last(), (QVariantList{"DLH1", QLatin1String(text)}));
        }
        QCOMPARE(h.nm->pilot(QStringLiteral("DLH1"))->config, before);
        QCOMPARE(h.sim->count("updateRemoteAircraftConfig"), updates + 1);
        QCOMPARE(acc.count(), 6);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerQueries)
#include "tst_networkmanager_queries.moc"
