// The remote aircraft table: records of the other pilots, their configurations,
// and when each is put into, kept in and taken out of the simulator.
#include "manager/AircraftManager.h"
#include "model/MetaTypes.h"
#include "support/SessionFixture.h"

#include <QRegularExpression>

#include <memory>

using velk::manager::AircraftManager;
using velk::manager::NetworkManager;
using velk::manager::RemoteAircraft;
using velk::model::AircraftConfig;
using velk::model::AircraftConfigMessage;
using velk::model::AircraftVisualState;
using velk::model::VelocityVector;
using velk::test::FakeSimulator;
using velk::test::SessionHarness;
using SimState = RemoteAircraft::SimState;

namespace {

AircraftVisualState pose(double lat) {
    AircraftVisualState s;
    s.latitude = lat;
    s.longitude = 121.8;
    s.altitudeTrue = 1200;
    s.heading = 90;
    return s;
}

// A pilot standing at the gate, as its "@" arrives.
QString position(const QString& callsign) {
    return QStringLiteral("@N:%1:2000:1:31.150000:121.800000:12:0:1026:0").arg(callsign);
}

QString fullConfigText() {
    AircraftConfigMessage m;
    AircraftConfig c;
    c.isFullData = true;
    c.lights = AircraftConfig::Lights{false, false, true, true, true};
    c.engines->on = {true, true, std::nullopt, std::nullopt};
    c.engines->isReversing = {false, false, std::nullopt, std::nullopt};
    c.gearDown = true;
    c.flapsPct = 0;
    c.spoilersOut = false;
    c.onGround = true;
    m.config = c;
    return m.toJson();
}

} // namespace

class TestAircraftManager : public QObject {
    Q_OBJECT

private:
    SessionHarness h;
    std::unique_ptr<AircraftManager> table;
    qint64 clockMs = 1'700'000'000'000;

    void bind() { h.bindSimulator(); }

    void slow(const QString& callsign, double groundSpeed = 0.0, double lat = 31.0) {
        emit h.nm->slowPositionUpdateReceived(callsign, pose(lat), groundSpeed);
    }

    void fast(const QString& callsign, double lat = 31.0) {
        emit h.nm->fastPositionUpdateReceived(callsign, pose(lat), VelocityVector{3, 0, 4}, VelocityVector{});
    }

    void config(const QString& from, const QString& json) {
        emit h.nm->aircraftConfigurationInfoReceived(from, json);
    }

    const RemoteAircraft* record(const QString& callsign) const {
        for (const auto& a : table->aircraft()) {
            if (a.callsign == callsign) {
                return &a;
            }
        }
        return nullptr;
    }

    // The callsigns the back end was asked to add, sorted.
    QStringList addedCallsigns() const {
        QStringList added;
        for (const auto& call : h.sim->callsTo(QStringLiteral("addRemoteAircraft"))) {
            added << call.args.at(0).value<RemoteAircraft>().callsign;
        }
        added.sort();
        return added;
    }

    // Bound and logged in as an observer, both tables on the test's clock.
    bool observing() {
        bind();
        h.nm->setClock([this] { return clockMs; });
        return h.loginObserver(QStringLiteral("OBS1"));
    }

    // A listed pilot with a known type and a full configuration, put in and confirmed.
    void pilotInSimulator(const QString& callsign) {
        slow(callsign);
        emit h.nm->aircraftInfoReceived(callsign, QStringLiteral("A320"), QStringLiteral("CES"));
        config(callsign, fullConfigText());
        emit h.sim->aircraftAddedToSim(callsign);
        QCOMPARE(record(callsign)->simState, SimState::InSimulator);
        h.sim->clearCalls();
    }

private slots:
    void initTestCase() {
        velk::model::registerMetaTypes();
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }

    void init() {
        h.create();
        h.sim = std::make_shared<FakeSimulator>();
        table = std::make_unique<AircraftManager>(h.nm);
        table->setClock([this] { return clockMs; });
    }

    void cleanup() {
        table.reset();
        h.destroy();
    }

    void firstSlowPositionCreatesAnEmptyRecordThatStaysOutOfTheSimulator() {
        bind();
        slow(QStringLiteral("CES123"), 250.0, 31.5);
        QCOMPARE(table->aircraft().size(), 1);
        const RemoteAircraft a = table->aircraft().constFirst();
        QCOMPARE(a.callsign, QStringLiteral("CES123"));
        QCOMPARE(a.visualState, pose(31.5));
        QCOMPARE(a.groundSpeed, 0.0);
        QVERIFY(!a.hasConfig);
        QVERIFY(a.equipment.isEmpty());
        QCOMPARE(a.simState, SimState::NotInSimulator);
        QCOMPARE(a.lastUpdate.toMSecsSinceEpoch(), clockMs);
        QVERIFY(a.config.isEmpty());
        QVERIFY(h.sim->calls.isEmpty());
    }

    void laterSlowPositionsKeepThePoseAndSendAHeartbeat() {
        bind();
        slow(QStringLiteral("CES123"), 0.0, 31.5);
        clockMs += 5000;
        slow(QStringLiteral("CES123"), 180.0, 31.6);
        const RemoteAircraft a = table->aircraft().constFirst();
        QCOMPARE(a.groundSpeed, 180.0);
        QCOMPARE(a.visualState, pose(31.5));
        QCOMPARE(a.lastUpdate.toMSecsSinceEpoch(), clockMs);
        QCOMPARE(h.sim->callsTo(QStringLiteral("sendHeartbeat")).size(), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("sendHeartbeat")).constFirst().args.at(0).toString(),
                 QStringLiteral("CES123"));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 0);
    }

    void standingPilotGoesInOnceItsFullConfigurationArrives() {
        bind();
        slow(QStringLiteral("CES123"));
        slow(QStringLiteral("CES123"), 0.3);
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"),
                                        QStringLiteral("CES"));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 0);
        h.sim->clearCalls();

        config(QStringLiteral("CES123"), fullConfigText());
        QCOMPARE(h.sim->calls.size(), 2);
        QCOMPARE(h.sim->calls.at(0).name, QStringLiteral("addRemoteAircraft"));
        QCOMPARE(h.sim->calls.at(1).name, QStringLiteral("updateRemoteAircraftConfig"));
        const auto added = h.sim->calls.at(0).args.at(0).value<RemoteAircraft>();
        QCOMPARE(added.equipment, QStringLiteral("A320"));
        QCOMPARE(added.airline, QStringLiteral("CES"));
        QVERIFY(added.hasConfig);
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::AddRequested);
        QCOMPARE(record(QStringLiteral("CES123"))->addRequestedAt.toMSecsSinceEpoch(), clockMs);

        emit h.sim->aircraftAddedToSim(QStringLiteral("CES123"));
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::InSimulator);
    }

    void movingPilotGoesInOnlyAfterItsFirstFastPosition() {
        bind();
        slow(QStringLiteral("CES123"));
        slow(QStringLiteral("CES123"), 12.0);
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 0);
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftConfig")), 1);

        fast(QStringLiteral("CES123"));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 0);
        slow(QStringLiteral("CES123"), 12.0);
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
    }

    // The session's pilot table moves the aircraft; this table only notes it.
    void fastPositionsMarkListedPilotsAndKeepThePoseWithoutMovingThem() {
        bind();
        fast(QStringLiteral("NOBODY"));
        QVERIFY(h.sim->calls.isEmpty());

        slow(QStringLiteral("CES123"), 0.0, 31.0);
        clockMs += 200;
        fast(QStringLiteral(" ces123 "), 31.2);
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftFastPosition")), 0);
        const RemoteAircraft* a = record(QStringLiteral("CES123"));
        QVERIFY(a->hasFastUpdates);
        QCOMPARE(a->lastUpdate.toMSecsSinceEpoch(), clockMs);
        QCOMPARE(a->visualState, pose(31.0));
    }

    void callsignsOfEveryKindFindTheirRecordTrimmedAndUpperCased() {
        bind();
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("ces123"), QStringLiteral("A320"), QString());
        QCOMPARE(record(QStringLiteral("CES123"))->equipment, QStringLiteral("A320"));
        config(QStringLiteral("ces123"), fullConfigText());
        QVERIFY(record(QStringLiteral("CES123"))->hasConfig);
    }

    void incrementsBeforeTheFirstFullConfigurationAreDropped() {
        bind();
        slow(QStringLiteral("CES123"));
        config(QStringLiteral("CES123"), QStringLiteral(R"({"config":{"gear_down":false}})"));
        const RemoteAircraft* a = record(QStringLiteral("CES123"));
        QVERIFY(!a->hasConfig);
        QVERIFY(a->config.isEmpty());
        QVERIFY(h.sim->calls.isEmpty());
    }

    void incrementsMergeMemberByMemberIncludingLightsAndEngines() {
        bind();
        slow(QStringLiteral("CES123"));
        config(QStringLiteral("CES123"), fullConfigText());
        h.sim->clearCalls();

        config(QStringLiteral("CES123"),
               QStringLiteral(R"({"config":{"flaps_pct":15,"lights":{"landing_on":true},)"
                              R"("engines":{"2":{"on":false}}}})"));
        const AircraftConfig c = record(QStringLiteral("CES123"))->config;
        QCOMPARE(c.flapsPct, std::optional<qint32>(15));
        QCOMPARE(c.gearDown, std::optional<bool>(true));
        QCOMPARE(c.spoilersOut, std::optional<bool>(false));
        QCOMPARE(c.onGround, std::optional<bool>(true));
        QCOMPARE(c.isFullData, std::optional<bool>(true));
        // Lights and engines the increment does not name keep their state.
        QCOMPARE(c.lights, (AircraftConfig::Lights{false, true, true, true, true}));
        QCOMPARE(c.engines->on[0], std::optional<bool>(true));
        QCOMPARE(c.engines->on[1], std::optional<bool>(false));
        QCOMPARE(c.engines->isReversing[0], std::optional<bool>(false));
        QCOMPARE(c.engines->isReversing[1], std::optional<bool>(false));
        QCOMPARE(c.engines->on[2], std::nullopt);
        // No type yet, so not ready: the back end is told of the new configuration.
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftConfig")), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("updateRemoteAircraftConfig"))
                     .constFirst()
                     .args.at(0)
                     .value<RemoteAircraft>()
                     .config.flapsPct,
                 std::optional<qint32>(15));
    }

    void aSecondFullConfigurationReplacesTheWholeConfiguration() {
        slow(QStringLiteral("CES123"));
        config(QStringLiteral("CES123"), fullConfigText());
        config(QStringLiteral("CES123"),
               QStringLiteral(R"({"config":{"is_full_data":true,"gear_down":false}})"));
        const AircraftConfig c = record(QStringLiteral("CES123"))->config;
        QCOMPARE(c.gearDown, std::optional<bool>(false));
        QCOMPARE(c.onGround, std::nullopt);
        QVERIFY(!c.lights->anyPresent());
    }

    void aTextWithoutAConfigurationIsAnEmptyIncrement_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("request for ours") << QStringLiteral(R"({"request":"full"})");
        QTest::newRow("unreadable") << QStringLiteral("{not json");
        QTest::newRow("empty") << QString();
    }

    void aTextWithoutAConfigurationIsAnEmptyIncrement() {
        QFETCH(QString, text);
        bind();
        pilotInSimulator(QStringLiteral("CES123"));
        slow(QStringLiteral("CSN456"));
        const AircraftConfig before = record(QStringLiteral("CES123"))->config;
        config(QStringLiteral("CES123"), text);
        config(QStringLiteral("CSN456"), text);
        QCOMPARE(record(QStringLiteral("CES123"))->config, before);
        // Only the pilot holding a full configuration is passed on again.
        const auto updates = h.sim->callsTo(QStringLiteral("updateRemoteAircraftConfig"));
        QCOMPARE(h.sim->calls.size(), 1);
        QCOMPARE(updates.size(), 1);
        QCOMPARE(updates.constFirst().args.at(0).value<RemoteAircraft>().callsign, QStringLiteral("CES123"));
        QVERIFY(!record(QStringLiteral("CSN456"))->hasConfig);
    }

    void anUnconfirmedAddIsRetriedAfterTenSeconds() {
        bind();
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);

        clockMs += 10'000;
        table->syncToSimulator();
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::AddRequested);
        clockMs += 1;
        table->syncToSimulator();
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::NotInSimulator);
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::AddRequested);

        // Confirmed just in time, it stays.
        clockMs += 9'999;
        emit h.sim->aircraftAddedToSim(QStringLiteral("CES123"));
        clockMs += 5'000;
        table->syncToSimulator();
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::InSimulator);
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
    }

    void aBackEndThatConfirmsAtOnceLeavesTheRecordInTheSimulator() {
        bind();
        connect(h.sim.get(), &FakeSimulator::called, this, [this](const QString& name) {
            if (name == QLatin1String("addRemoteAircraft")) {
                emit h.sim->aircraftAddedToSim(
                    h.sim->calls.last().args.at(0).value<RemoteAircraft>().callsign);
            }
        });
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::InSimulator);
        clockMs += 20'000;
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
    }

    void staleAircraftInTheSimulatorIsAskedForRemovalOnEveryTickUntilConfirmed() {
        bind();
        pilotInSimulator(QStringLiteral("CES123"));
        clockMs += 15'000;
        table->removeStaleAircraft();
        QVERIFY(h.sim->calls.isEmpty());
        clockMs += 1;
        table->removeStaleAircraft();
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).size(), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).constFirst().args,
                 (QVariantList{QStringLiteral("CES123"), QStringLiteral("Stale")}));
        QCOMPARE(table->aircraft().size(), 1);
        clockMs += 10'000;
        table->removeStaleAircraft();
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).size(), 2);

        emit h.sim->aircraftRemovedFromSim(QStringLiteral("CES123"));
        QVERIFY(table->aircraft().isEmpty());
    }

    void staleRecordsThatNeverReachedTheSimulatorAreDroppedAtOnce() {
        bind();
        slow(QStringLiteral("NOTYPE1"));
        slow(QStringLiteral("PENDING1"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("PENDING1"), QStringLiteral("B738"), QString());
        config(QStringLiteral("PENDING1"), fullConfigText());
        QCOMPARE(record(QStringLiteral("PENDING1"))->simState, SimState::AddRequested);
        h.sim->clearCalls();

        clockMs += 15'001;
        table->removeStaleAircraft();
        QVERIFY(table->aircraft().isEmpty());
        // Only the pending add is withdrawn; the other never reached the back end.
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).size(), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).constFirst().args,
                 (QVariantList{QStringLiteral("PENDING1"), QStringLiteral("Stale")}));
        clockMs += 10'000;
        table->removeStaleAircraft();
        QCOMPARE(h.sim->count(QStringLiteral("removeRemoteAircraft")), 1);
    }

    void aDepartedPilotIsAskedOutOfTheSimulatorAndTheOthersAreSynced() {
        bind();
        pilotInSimulator(QStringLiteral("CES123"));
        slow(QStringLiteral("CSN456"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CSN456"), QStringLiteral("B738"), QString());
        h.sim->clearCalls();

        // CSN456 lacks a configuration: the sync pass leaves it alone.
        emit h.nm->pilotDeleted(QStringLiteral("CES123"));
        QCOMPARE(h.sim->calls.size(), 1);
        QCOMPARE(h.sim->calls.constFirst().name, QStringLiteral("removeRemoteAircraft"));
        QCOMPARE(h.sim->calls.constFirst().args,
                 (QVariantList{QStringLiteral("CES123"), QStringLiteral("Deleted")}));
        QVERIFY(record(QStringLiteral("CES123")) != nullptr);
        emit h.sim->aircraftRemovedFromSim(QStringLiteral("CES123"));
        QVERIFY(record(QStringLiteral("CES123")) == nullptr);
        QVERIFY(record(QStringLiteral("CSN456")) != nullptr);
    }

    void aDepartedPilotThatNeverReachedTheSimulatorIsDroppedAndNotPutIn() {
        bind();
        slow(QStringLiteral("CES123"));
        slow(QStringLiteral("CES123"), 40.0);
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        fast(QStringLiteral("CES123")); // now ready, though no pass has run since
        h.sim->clearCalls();

        emit h.nm->pilotDeleted(QStringLiteral("CES123"));
        QVERIFY(table->aircraft().isEmpty());
        QCOMPARE(h.sim->calls.size(), 1);
        QCOMPARE(h.sim->calls.constFirst().args,
                 (QVariantList{QStringLiteral("CES123"), QStringLiteral("Deleted")}));
    }

    void aDepartedPilotWithAPendingAddIsWithdrawnAndDropped() {
        bind();
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        h.sim->clearCalls();

        emit h.nm->pilotDeleted(QStringLiteral("CES123"));
        QVERIFY(table->aircraft().isEmpty());
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).constFirst().args,
                 (QVariantList{QStringLiteral("CES123"), QStringLiteral("Deleted")}));
        clockMs += 20'000;
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 0);
    }

    void connectingRunsTheTimersAndDisconnectingClearsEverything() {
        QVERIFY(observing());
        QVERIFY(table->isStaleCheckRunning());
        QVERIFY(table->isSyncRunning());
        pilotInSimulator(QStringLiteral("CES123"));
        slow(QStringLiteral("CSN456"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CSN456"), QStringLiteral("B738"), QString());
        config(QStringLiteral("CSN456"), fullConfigText()); // add still unconfirmed
        h.sim->clearCalls();

        // A forced end, as the simulator asks for it: the simulator is emptied once.
        emit h.sim->forceDisconnect(QStringLiteral("Replay mode"));
        QCOMPARE(h.sim->count(QStringLiteral("removeAllRemoteAircraft")), 1);
        QCOMPARE(h.sim->count(QStringLiteral("notifyNetworkDisconnected")), 1);
        QCOMPARE(h.sim->count(QStringLiteral("clearControllerList")), 1);
        QVERIFY(table->aircraft().isEmpty());
        QVERIFY(!table->isStaleCheckRunning());
        QVERIFY(!table->isSyncRunning());
        // The add's late confirmation belongs to the session that ended.
        emit h.sim->aircraftAddedToSim(QStringLiteral("CSN456"));
        QVERIFY(table->aircraft().isEmpty());
    }

    void withoutABackEndNothingIsPutInUntilOneIsBound() {
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::NotInSimulator);
        bind();
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
    }

    void aNewBackEndTakesOverTheConfirmations() {
        bind();
        slow(QStringLiteral("CES123"));
        emit h.nm->aircraftInfoReceived(QStringLiteral("CES123"), QStringLiteral("A320"), QString());
        config(QStringLiteral("CES123"), fullConfigText());
        auto second = std::make_shared<FakeSimulator>();
        h.nm->setSimulator(second);

        emit h.sim->aircraftAddedToSim(QStringLiteral("CES123"));
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::AddRequested);
        emit second->aircraftAddedToSim(QStringLiteral("CES123"));
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::InSimulator);
        emit h.sim->aircraftRemovedFromSim(QStringLiteral("CES123"));
        QCOMPARE(table->aircraft().size(), 1);
    }

    void aNewPilotIsAskedForCapabilitiesToldOursAndAskedForItsPlane() {
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        slow(QStringLiteral("CES123"));
        QCOMPARE(h.sentLines(),
                 (QStringList{"$CQOBS1:CES123:CAPS",
                              "$CROBS1:CES123:CAPS:VERSION=1:ATCINFO=1:MODELDESC=1:ACCONFIG=1:VISUPDATE=1",
                              "#SBOBS1:CES123:PIR", "$CQOBS1:SERVER:FP:CES123"}));

        // A known pilot's later positions ask nothing more.
        slow(QStringLiteral("CES123"));
        QCOMPARE(h.sentLines(), QStringList());
    }

    void onlyACaseExactAcconfigCapabilityAsksForTheConfiguration() {
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        QVERIFY(h.deliver(QStringLiteral("$CRCES123:OBS1:CAPS:VERSION=1:acconfig=1")));
        QVERIFY(h.deliver(QStringLiteral("$CRCSN456:OBS1:CAPS:VERSION=1:ACCONFIG=1:VISUPDATE=1")));
        QCOMPARE(h.sentLines(), (QStringList{R"($CQOBS1:CSN456:ACC:{"request":"full"})"}));
    }

    void aCapabilitiesQueryFromAListedPilotAsksForItsPlane() {
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        slow(QStringLiteral("CES123"));
        h.sentLines();
        QVERIFY(h.deliver(QStringLiteral("$CQCES123:OBS1:CAPS")));
        QVERIFY(h.deliver(QStringLiteral("$CQCSN456:OBS1:CAPS")));
        QCOMPARE(h.sentLinesStartingWith(QStringLiteral("#SB")), (QStringList{"#SBOBS1:CES123:PIR"}));
    }

    void aRemotePilotsLifeOverTheWire() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        const QString cs = QStringLiteral("CES123");
        // Standing at the gate: "@", then its plane, then its full configuration.
        QVERIFY(h.deliver(QStringLiteral("@N:CES123:2000:1:31.150000:121.800000:12:0:1026:0")));
        QVERIFY(record(cs) != nullptr);
        QVERIFY(h.deliver(QStringLiteral("#SBCES123:OBS1:PI:GEN:EQUIPMENT=A320:AIRLINE=CES")));
        QCOMPARE(record(cs)->equipment, QStringLiteral("A320"));
        QCOMPARE(record(cs)->airline, QStringLiteral("CES"));
        QVERIFY(h.deliver(QStringLiteral("$CQCES123:@94386:ACC:") + fullConfigText()));
        QCOMPARE(record(cs)->simState, SimState::AddRequested);
        QVERIFY(record(cs)->config.isFull());
        emit h.sim->aircraftAddedToSim(cs);

        // An increment over the wire changes only what it names.
        QVERIFY(
            h.deliver(QStringLiteral(R"($CQCES123:@94386:ACC:{"config":{"lights":{"landing_on":true}}})")));
        QCOMPARE(record(cs)->config.lights->landingOn, std::optional<bool>(true));
        QCOMPARE(record(cs)->config.lights->beaconOn, std::optional<bool>(true));

        // Each fast position moves it once, whatever the case of the sender.
        h.sim->clearCalls();
        QVERIFY(h.deliver(
            QStringLiteral("^ces123:31.150100:121.800000:12.00:0.00:1026:3.0000:0.0000:4.0000:0.0000:"
                           "0.0000:0.0000:0.00")));
        QVERIFY(record(cs)->hasFastUpdates);
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftFastPosition")), 1);

        // The departure is asked of the back end once, though both tables held the pilot.
        h.sim->clearCalls();
        QVERIFY(h.deliver(QStringLiteral("#DPCES123:1234567")));
        const auto removed = h.sim->callsTo(QStringLiteral("removeRemoteAircraft"));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.constFirst().args, (QVariantList{cs, QStringLiteral("Deleted")}));
        emit h.sim->aircraftRemovedFromSim(cs);
        QVERIFY(table->aircraft().isEmpty());
    }

    // Also one the session's pilot table put in before this table saw it go in.
    void aSilentPilotIsAskedOutOfTheSimulatorOnce() {
        QVERIFY(observing());
        for (const QString& cs : {QStringLiteral("CES123"), QStringLiteral("CSN456")}) {
            QVERIFY(h.deliver(QStringLiteral("@N:%1:2000:1:31.150000:121.800000:12:0:1026:0").arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=A320").arg(cs)));
        }
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
        emit h.sim->aircraftAddedToSim(QStringLiteral("CES123")); // CSN456 not yet confirmed
        h.sim->clearCalls();

        clockMs += RemoteAircraft::StaleAfterMs;
        h.nm->expireStalePilots();
        table->removeStaleAircraft();
        QStringList removed;
        for (const auto& call : h.sim->callsTo(QStringLiteral("removeRemoteAircraft"))) {
            removed << call.args.at(0).toString();
        }
        removed.sort();
        QCOMPARE(removed, (QStringList{"CES123", "CSN456"}));
    }

    // Whichever table notices the silence first, both forget the pilot: it is
    // asked out once, and when heard again it is put back once and moved. A
    // removal confirmed only after the new add, or confirmed again then,
    // leaves the new aircraft.
    void aPilotHeardAgainAfterASilenceLeavesOnceAndComesBackOnce_data() {
        QTest::addColumn<bool>("sessionFirst");
        QTest::addColumn<bool>("confirmedEarly");
        QTest::addColumn<bool>("confirmedLate");
        QTest::newRow("session table first") << true << true << false;
        QTest::newRow("remote table first") << false << true << false;
        QTest::newRow("session table first, confirmed late") << true << false << true;
        QTest::newRow("remote table first, confirmed late") << false << false << true;
        QTest::newRow("session table first, confirmed twice") << true << true << true;
        QTest::newRow("remote table first, confirmed twice") << false << true << true;
    }
    void aPilotHeardAgainAfterASilenceLeavesOnceAndComesBackOnce() {
        QFETCH(bool, sessionFirst);
        QFETCH(bool, confirmedEarly);
        QFETCH(bool, confirmedLate);
        QVERIFY(observing());
        const QString cs = QStringLiteral("CES123");
        const QString position = QStringLiteral("@N:CES123:2000:1:31.150000:121.800000:12:0:1026:0");
        const QString plane = QStringLiteral("#SBCES123:OBS1:PI:GEN:EQUIPMENT=A320");
        QVERIFY(h.deliver(position));
        QVERIFY(h.deliver(plane));
        emit h.sim->aircraftAddedToSim(cs);
        h.sim->clearCalls();

        clockMs += RemoteAircraft::StaleAfterMs;
        sessionFirst ? h.nm->expireStalePilots() : table->removeStaleAircraft();
        QVERIFY(h.deliver(position)); // before the other table's check
        sessionFirst ? table->removeStaleAircraft() : h.nm->expireStalePilots();
        QCOMPARE(h.sim->count(QStringLiteral("removeRemoteAircraft")), 1);
        if (confirmedEarly) {
            emit h.sim->aircraftRemovedFromSim(cs);
        }

        QVERIFY(h.deliver(plane));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        emit h.sim->aircraftAddedToSim(cs);
        if (confirmedLate) {
            emit h.sim->aircraftRemovedFromSim(cs);
        }
        QVERIFY(record(cs) != nullptr);
        QCOMPARE(record(cs)->simState, SimState::InSimulator);
        QVERIFY(h.deliver(position));
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftPosition")), 1);
        QCOMPARE(h.sim->count(QStringLiteral("removeRemoteAircraft")), 1);
    }

    // The simulator restarts during the session: nothing is asked of it while
    // it is gone; connected again, it is cleared first, every pilot still
    // heard goes in once, and moves follow.
    void trafficComesBackOnceWhenTheSimulatorIsConnectedAgain() {
        QVERIFY(observing());
        const QStringList pilots{"CES123", "CSN456", "CCA789"};
        for (const QString& cs : pilots) {
            QVERIFY(h.deliver(position(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=A320").arg(cs)));
        }
        QVERIFY(h.deliver(QStringLiteral("$CQCES123:OBS1:ACC:") + fullConfigText()));
        emit h.sim->aircraftAddedToSim(QStringLiteral("CES123")); // the others still pending
        h.sim->clearCalls();

        emit h.sim->simConnectionStateChanged(false);
        for (const QString& cs : pilots) {
            QCOMPARE(h.nm->pilot(cs)->simState, SimState::NotInSimulator);
            QCOMPARE(record(cs)->simState, SimState::NotInSimulator);
            QVERIFY(h.deliver(position(cs)));
        }
        QVERIFY(h.deliver(QStringLiteral("#DPCCA789:1234567")));
        table->syncToSimulator();
        for (const char* asked : {"addRemoteAircraft", "removeRemoteAircraft", "removeAllRemoteAircraft",
                                  "updateRemoteAircraftPosition"}) {
            QCOMPARE(h.sim->count(QLatin1String(asked)), 0);
        }

        h.sim->clearCalls();
        emit h.sim->simConnectionStateChanged(true);
        emit h.sim->simConnectionStateChanged(true);
        QCoreApplication::processEvents();
        QCOMPARE(h.sim->calls.constFirst().name, QStringLiteral("removeAllRemoteAircraft"));
        QCOMPARE(h.sim->count(QStringLiteral("removeAllRemoteAircraft")), 1);
        QCOMPARE(addedCallsigns(), (QStringList{"CES123", "CSN456"}));
        for (const QString& cs : {QStringLiteral("CES123"), QStringLiteral("CSN456")}) {
            emit h.sim->aircraftAddedToSim(cs);
            QVERIFY(h.deliver(position(cs)));
        }
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftPosition")), 2);
        // The clearing confirmed late leaves the aircraft put in after it.
        emit h.sim->aircraftRemovedFromSim(QStringLiteral("CES123"));
        QVERIFY(record(QStringLiteral("CES123")) != nullptr);
        QCOMPARE(record(QStringLiteral("CES123"))->simState, SimState::InSimulator);
    }

    // Asked out (departed or silent) with the removal unconfirmed when the
    // simulator is lost, or silent past the limit before any stale pass: not
    // put back on its return, while a pilot still heard is put back once.
    void aPilotAskedOutBeforeTheSimulatorWasLostStaysOutWhenItReturns_data() {
        QTest::addColumn<bool>("departs");
        QTest::newRow("departs") << true;
        QTest::newRow("goes silent") << false;
    }
    void aPilotAskedOutBeforeTheSimulatorWasLostStaysOutWhenItReturns() {
        QFETCH(bool, departs);
        QVERIFY(observing());
        const QString leaving = QStringLiteral("CES123"), staying = QStringLiteral("CSN456");
        for (const QString& cs : {leaving, staying, QStringLiteral("CCA789")}) {
            QVERIFY(h.deliver(position(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=A320").arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("$CQ%1:OBS1:ACC:").arg(cs) + fullConfigText()));
            emit h.sim->aircraftAddedToSim(cs);
        }
        clockMs += RemoteAircraft::StaleAfterMs;
        QVERIFY(h.deliver(position(staying)));
        if (departs) {
            QVERIFY(h.deliver(position(leaving)));
            QVERIFY(h.deliver(QStringLiteral("#DPCES123:1234567")));
        } else {
            table->removeStaleAircraft();
        }
        QCOMPARE(h.sim->count(QStringLiteral("removeRemoteAircraft")), departs ? 1 : 2);
        emit h.sim->simConnectionStateChanged(false);
        h.sim->clearCalls();
        emit h.sim->simConnectionStateChanged(true);
        QCoreApplication::processEvents();
        QCOMPARE(addedCallsigns(), QStringList{staying});
        emit h.sim->aircraftRemovedFromSim(leaving); // late
        emit h.sim->aircraftAddedToSim(staying);
        QVERIFY(h.deliver(position(staying)));
        QVERIFY(record(leaving) == nullptr);
        QCOMPARE(record(staying)->simState, SimState::InSimulator);
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        QCOMPARE(h.sim->count(QStringLiteral("updateRemoteAircraftPosition")), 1);
    }

    // Put in by the session's table from fast positions alone and not yet
    // confirmed: it is asked out once, and its late confirmation leaves nothing.
    void aPendingAddOfAPilotThatLeavesIsWithdrawnOnce_data() {
        QTest::addColumn<bool>("departs");
        QTest::newRow("departs") << true;
        QTest::newRow("goes silent") << false;
    }
    void aPendingAddOfAPilotThatLeavesIsWithdrawnOnce() {
        QFETCH(bool, departs);
        QVERIFY(observing());
        const QString cs = QStringLiteral("CES123");
        QVERIFY(h.deliver(QStringLiteral("^CES123:31.150100:121.800000:12.00:0.00:1026:3.0000:0.0000:4.0000:"
                                         "0.0000:0.0000:0.0000:0.00")));
        QVERIFY(h.deliver(QStringLiteral("#SBCES123:OBS1:PI:GEN:EQUIPMENT=A320")));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        clockMs += RemoteAircraft::StaleAfterMs;
        if (departs) {
            QVERIFY(h.deliver(QStringLiteral("#DPCES123:1234567")));
        } else {
            table->removeStaleAircraft();
        }
        emit h.sim->aircraftAddedToSim(cs); // late
        QVERIFY(record(cs) == nullptr);
        clockMs += RemoteAircraft::StaleAfterMs;
        table->removeStaleAircraft();
        const auto removed = h.sim->callsTo(QStringLiteral("removeRemoteAircraft"));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.constFirst().args.at(1).toString(),
                 departs ? QStringLiteral("Deleted") : QStringLiteral("Stale"));
    }

    // Both tables find a new pilot ready while the back end has not confirmed.
    void aNewPilotIsAskedInOnceUntilItsAddTimesOut() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        QVERIFY(h.deliver(QStringLiteral("@N:CES123:2000:1:31.150000:121.800000:12:0:1026:0")));
        QVERIFY(h.deliver(QStringLiteral("$CRCES123:OBS1:CAPS:VERSION=1:ACCONFIG=1")));
        QVERIFY(h.deliver(QStringLiteral("#SBCES123:OBS1:PI:GEN:EQUIPMENT=A320")));
        QVERIFY(h.deliver(QStringLiteral("$CQCES123:OBS1:ACC:") + fullConfigText()));
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        clockMs += 10'000;
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 1);
        clockMs += 1;
        table->syncToSimulator();
        table->syncToSimulator();
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
    }

    // Heard first by fast positions, put in by the session's table before its
    // first "@": still taken out once, on departure or on silence.
    void aPilotPutInBeforeItsFirstSlowPositionStillLeavesTheSimulator() {
        bind();
        QVERIFY(h.loginObserver(QStringLiteral("OBS1")));
        for (const QString& cs : {QStringLiteral("CES123"), QStringLiteral("CSN456")}) {
            QVERIFY(h.deliver(QStringLiteral("^%1:31.150100:121.800000:12.00:0.00:1026:3.0000:0.0000:"
                                             "4.0000:0.0000:0.0000:0.0000:0.00")
                                  .arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=A320").arg(cs)));
            QCOMPARE(record(cs)->simState, SimState::AddRequested);
            emit h.sim->aircraftAddedToSim(cs);
        }
        QCOMPARE(h.sim->count(QStringLiteral("addRemoteAircraft")), 2);
        h.sim->clearCalls();
        QVERIFY(h.deliver(QStringLiteral("#DPCES123:1234567")));
        emit h.sim->aircraftRemovedFromSim(QStringLiteral("CES123"));
        clockMs += RemoteAircraft::StaleAfterMs;
        table->removeStaleAircraft();
        QStringList removed;
        for (const auto& call : h.sim->callsTo(QStringLiteral("removeRemoteAircraft"))) {
            removed << call.args.at(0).toString() + QLatin1Char('/') + call.args.at(1).toString();
        }
        QCOMPARE(removed, (QStringList{"CES123/Deleted", "CSN456/Stale"}));
    }

    // Heard by fast positions alone while the login is still under way, put
    // in by the session's table, or again by the resync of a plug-in that
    // attached meanwhile, and confirmed at once: once the login completes and
    // this table's own record is ready, the pilot is not asked in again. An
    // add never confirmed is still retried, and a pilot that left is asked out.
    void aPilotPutInWhileTheLoginIsUnderWayIsAskedInOnce_data() {
        QTest::addColumn<bool>("resync");
        QTest::newRow("session's add") << false;
        QTest::newRow("resync's add") << true;
    }
    void aPilotPutInWhileTheLoginIsUnderWayIsAskedInOnce() {
        QFETCH(bool, resync);
        bind();
        h.nm->setClock([this] { return clockMs; });
        QVERIFY(h.startLogin(QStringLiteral("OBS1"), true));
        const QString confirmed = QStringLiteral("TCCA002"), unconfirmed = QStringLiteral("TCCA005"),
                      leaving = QStringLiteral("TCCA007");
        for (const QString& cs : {confirmed, unconfirmed, leaving}) {
            QVERIFY(h.deliver(QStringLiteral("^%1:31.150100:121.800000:12.00:0.00:1026:3.0000:0.0000:"
                                             "4.0000:0.0000:0.0000:0.0000:0.00")
                                  .arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=B738").arg(cs)));
        }
        if (resync) {
            h.sim->clearCalls();
            emit h.sim->remoteAircraftCleared();
        }
        QCOMPARE(addedCallsigns(), (QStringList{confirmed, unconfirmed, leaving}));
        emit h.sim->aircraftAddedToSim(confirmed);
        emit h.sim->aircraftAddedToSim(leaving);
        QVERIFY(h.completeLogin(QStringLiteral("OBS1")));

        // This table's own record: the first "@", the plane it asks for, the full configuration.
        for (const QString& cs : {confirmed, unconfirmed}) {
            QVERIFY(h.deliver(position(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=B738").arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("$CQ%1:OBS1:ACC:").arg(cs) + fullConfigText()));
        }
        table->syncToSimulator();
        QCOMPARE(addedCallsigns(), (QStringList{confirmed, unconfirmed, leaving}));
        clockMs += 10'001;
        table->syncToSimulator();
        table->syncToSimulator();
        QCOMPARE(addedCallsigns(), (QStringList{confirmed, unconfirmed, unconfirmed, leaving}));
        QCOMPARE(record(confirmed)->simState, SimState::InSimulator);

        QVERIFY(h.deliver(QStringLiteral("#DP%1:1234567").arg(leaving)));
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).size(), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).constFirst().args,
                 (QVariantList{leaving, QStringLiteral("Deleted")}));
    }

    // A slow plug-in confirms the log-off's remove-all, and an add of the
    // session that ended, only after the next session asked the pilot in
    // again: the pilot stays recorded as shown and is not asked in a second
    // time, whether its first "@" comes before the add's confirmation or the
    // confirmation before the login completes; the old add makes no record.
    void confirmationsOfTheSessionThatEndedLeaveTheNextOneAlone_data() {
        QTest::addColumn<bool>("heardBeforeConfirmed");
        QTest::newRow("heard again before the confirmation") << true;
        QTest::newRow("confirmed before the login completes") << false;
    }
    void confirmationsOfTheSessionThatEndedLeaveTheNextOneAlone() {
        QFETCH(bool, heardBeforeConfirmed);
        QVERIFY(observing());
        const QString cs = QStringLiteral("TCCA002"), gone = QStringLiteral("TCCA005");
        for (const QString& pilot : {cs, gone}) {
            QVERIFY(h.deliver(position(pilot)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=B738").arg(pilot)));
        }
        emit h.sim->aircraftAddedToSim(cs);
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());
        QTRY_COMPARE(h.nm->sessionState(), NetworkManager::Idle);
        h.sim->clearCalls();

        QVERIFY(h.startLogin(QStringLiteral("OBS1"), true));
        if (heardBeforeConfirmed) {
            QVERIFY(h.completeLogin(QStringLiteral("OBS1")));
        }
        QVERIFY(h.deliver(QStringLiteral("^%1:31.150100:121.800000:12.00:0.00:1026:3.0000:0.0000:"
                                         "4.0000:0.0000:0.0000:0.0000:0.00")
                              .arg(cs)));
        QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=B738").arg(cs)));
        QCOMPARE(addedCallsigns(), QStringList{cs});
        emit h.sim->aircraftRemovedFromSim(cs);
        emit h.sim->aircraftAddedToSim(gone);
        const auto heard = [&] {
            QVERIFY(h.deliver(position(cs)));
            QVERIFY(h.deliver(QStringLiteral("#SB%1:OBS1:PI:GEN:EQUIPMENT=B738").arg(cs)));
            QVERIFY(h.deliver(QStringLiteral("$CQ%1:OBS1:ACC:").arg(cs) + fullConfigText()));
        };
        if (heardBeforeConfirmed) {
            heard();
            emit h.sim->aircraftAddedToSim(cs);
        } else {
            emit h.sim->aircraftAddedToSim(cs);
            QVERIFY(h.completeLogin(QStringLiteral("OBS1")));
            heard();
        }
        clockMs += 10'001;
        table->syncToSimulator();
        table->syncToSimulator();
        QCOMPARE(addedCallsigns(), QStringList{cs});
        QCOMPARE(record(cs)->simState, SimState::InSimulator);
        QVERIFY(record(gone) == nullptr);
    }

    void aFloodOfCallsignsIsCappedLikeTheSessionTable() {
        bind();
        pilotInSimulator(QStringLiteral("CES0"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Remote aircraft table full at"));
        for (int i = 1; i <= NetworkManager::MaxPilots; ++i) {
            ++clockMs;
            slow(QStringLiteral("FAKE%1").arg(i));
        }
        QVERIFY(table->aircraft().size() <= NetworkManager::MaxPilots);
        QVERIFY(table->aircraft().size() >= NetworkManager::MaxPilots * 9 / 10);
        QVERIFY(record(QStringLiteral("FAKE%1").arg(NetworkManager::MaxPilots)) != nullptr);
        // The least recently heard leaves the simulator with the table.
        QVERIFY(record(QStringLiteral("CES0")) == nullptr);
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).size(), 1);
        QCOMPARE(h.sim->callsTo(QStringLiteral("removeRemoteAircraft")).constFirst().args,
                 (QVariantList{QStringLiteral("CES0"), QStringLiteral("Stale")}));
    }
};

QTEST_GUILESS_MAIN(TestAircraftManager)
#include "tst_aircraftmanager.moc"
