// Logging in and out of an FSD server on loopback with the password: the
// connect checks, the login lines, completion, and every way a session ends.
#include "support/MessageLog.h"
#include "support/PrivateNetwork.h"
#include "tst_networkmanager_fixture.h"

#include <QTimer>

using velk::common::MessageType;
using velk::manager::NetworkManager;
using velk::test::SessionHarness;

namespace {

QStringList texts(const QSignalSpy& notices) {
    QStringList out;
    for (const auto& args : notices) {
        out << args.at(0).toString();
    }
    return out;
}

// How the dead-path test cuts the path.
enum Cut { BlackHole, NoRouteToHost, OneWay };

} // namespace

class TestNetworkManagerLogin : public QObject {
    Q_OBJECT

private:
    SessionHarness h;

    // A logged-in pilot whose session ends by `end`: the notices after the
    // end and networkDisconnected(forced) exactly once; the run log tells the
    // connect, the log-on and the end (`logged`) without the password; a new
    // login works.
    void expectEnd(const std::function<void()>& end, const QString& notice, bool forced,
                   const QString& logged) {
        const velk::test::MessageLog log;
        QVERIFY(h.loginPilot());
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(h.nm.get(), &NetworkManager::networkDisconnected);
        end();
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.first().at(0).toBool(), forced);
        QCOMPARE(texts(notices).last(), notice);
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QVERIFY(!h.nm->isPositionTimerActive());
        QCOMPARE(h.sim->count("notifyNetworkDisconnected"), 1);
        QCOMPARE(h.sim->count("removeAllRemoteAircraft"), 1);
        QCOMPARE(h.sim->count("clearControllerList"), 1);
        QVERIFY(h.server.waitForClientGone());
        QCoreApplication::processEvents();
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(log.contains(
            QStringLiteral(R"(FSD connecting to "127.0.0.1" %1 as "ABC123" pilot)").arg(h.server.port())));
        QVERIFY(log.contains(QStringLiteral(R"(FSD logged on as "ABC123" pilot)")));
        QCOMPARE(log.count(QStringLiteral("FSD session ended")), 1);
        QVERIFY(log.contains(logged));
        QVERIFY(!log.contains(QStringLiteral("s3cret")));

        h.server.clearReceived();
        QVERIFY(h.login(QStringLiteral("ABC123"), false));
        QCOMPARE(disconnected.count(), 1);
    }

private slots:
    void initTestCase() {
        QVERIFY(h.startServer());
        SessionHarness::configure(false);
    }
    void init() { h.create(); }
    void cleanup() {
        h.destroy();
        SessionHarness::configure(false); // some tests change the stored profile
    }

    // The dashboard reaches these by name; the invokables follow the signals.
    void signalsAndInvokablesStandInTheirOrder() {
        const QStringList expected = {"networkConnected",
                                      "networkDisconnected",
                                      "notificationPosted",
                                      "controllerDeleted",
                                      "pilotDeleted",
                                      "disableVoiceTransmit",
                                      "serverMessageReceived",
                                      "privateMessageReceived",
                                      "privateMessageSent",
                                      "broadcastMessageReceived",
                                      "radioMessageSent",
                                      "wallopSent",
                                      "radioMessageReceived",
                                      "selcalAlertReceived",
                                      "aircraftConfigurationInfoReceived",
                                      "capabilitiesRequestReceived",
                                      "capabilitiesResponseReceived",
                                      "controllerUpdateReceived",
                                      "isValidAtcReceived",
                                      "realNameReceived",
                                      "controllerAtisReceived",
                                      "slowPositionUpdateReceived",
                                      "fastPositionUpdateReceived",
                                      "aircraftInfoReceived",
                                      "muteReceived",
                                      "simulatorChanged",
                                      "simulatorConnectionStateChanged",
                                      "simulatorConnectionFailed",
                                      "simulatorXPlaneVersionUpdated",
                                      "simulatorPluginStatusUpdated",
                                      "simulatorCslStatusUpdated",
                                      "simulatorTrafficMappingStatusUpdated",
                                      "radioStatesUpdate",
                                      "simulatorDataUpdated",
                                      "simulatorTrafficSnapshotUpdated",
                                      "connectToNetwork",
                                      "disconnectFromNetwork",
                                      "sendRadioMessage",
                                      "sendPrivateMessage",
                                      "requestRealName",
                                      "requestControllerAtis",
                                      "sendWallop",
                                      "reconnectSimulator"};
        const QMetaObject& meta = NetworkManager::staticMetaObject;
        QStringList names;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            names << QString::fromLatin1(meta.method(i).name());
        }
        QCOMPARE(names, expected);
        QCOMPARE(meta.method(meta.methodOffset() + 33).parameterCount(), 49);
    }

    void pilotLoginSendsTheLoginLinesAndCompletesOnceOnTheIpAnswer() {
        h.bindValidSimulator();
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy connected(h.nm.get(), &NetworkManager::networkConnected);
        QVERIFY(h.nm->connectToNetwork(QStringLiteral(" abc123 "), QStringLiteral("a320"),
                                       QStringLiteral("AB-CD"), false));
        QCOMPARE(h.nm->connectInfo().callsign, QStringLiteral("ABC123"));
        QCOMPARE(h.nm->connectInfo().typeCode, QStringLiteral("A320"));
        QCOMPARE(h.nm->sessionState(), NetworkManager::Connecting);
        QVERIFY(h.server.waitForLines(4));
        const QStringList lines = h.server.receivedLines();
        QCOMPARE(lines.at(0), QStringLiteral("#APABC123:SERVER:1234567:s3cret:1:9:5:Test Pilot ZSSS"));
        QCOMPARE(lines.at(1), QStringLiteral("$CQABC123:SERVER:IP"));
        QVERIFY(lines.at(2).startsWith(QStringLiteral("@S:ABC123:0000:1:31.143420:121.805230:")));
        QVERIFY(lines.at(3).startsWith(QStringLiteral("#STABC123:31.143420:121.805230:")));
        QVERIFY(h.nm->isPositionTimerActive());
        QCOMPARE(h.nm->positionTimerInterval(), 5000);
        QCOMPARE(connected.count(), 0);

        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:IP:10.0.0.1")));
        QCOMPARE(connected.count(), 1);
        QCOMPARE(connected.first().at(0).toString(), QStringLiteral("ABC123"));
        QCOMPARE(h.nm->sessionState(), NetworkManager::Connected);
        QCOMPARE(h.nm->clientIp(), QStringLiteral("10.0.0.1"));
        const auto notified = h.sim->callsTo("notifyNetworkConnected");
        QCOMPARE(notified.size(), 1);
        QCOMPARE(notified.first().args, (QVariantList{"ABC123", "AB-CD", false}));

        // Neither an echo nor a second IP answer completes again.
        QVERIFY(h.deliver(QStringLiteral("#APABC123:SERVER:1234567::1:9:5:Test Pilot ZSSS")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:IP:10.0.0.1")));
        QCOMPARE(connected.count(), 1);
        QCOMPARE(texts(notices), (QStringList{"Connecting to network...", "Connected to network."}));

        QVERIFY(!h.nm->connectToNetwork(QStringLiteral("XYZ1"), QStringLiteral("B738"), {}, false));
        QCOMPARE(notices.last().at(0).toString(),
                 QStringLiteral(
                     "Already connected or connecting to network. Disconnect before changing callsign."));
        QCOMPARE(notices.last().at(1).value<MessageType>(), MessageType::Error);
    }

    void observerLogsInWithoutASimulatorAndCompletesOnTheEcho() {
        QSignalSpy connected(h.nm.get(), &NetworkManager::networkConnected);
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("abc_obs"), {}, {}, true));
        QVERIFY(h.server.waitForLines(3));
        QCOMPARE(h.server.receivedLines(),
                 (QStringList{"#AAABC_OBS:SERVER:Test Pilot:1234567:s3cret:1:9", "$CQABC_OBS:SERVER:IP",
                              "%ABC_OBS:99998:0:40:1:0.00000:0.00000:0"}));
        QCOMPARE(h.nm->positionTimerInterval(), 15000);
        QVERIFY(h.deliver(QStringLiteral("#AAabc_obs:SERVER:Test Pilot:1234567::1:9")));
        QCOMPARE(connected.count(), 1);
        QCOMPARE(texts(notices), (QStringList{"Connecting to network...", "Connected to network.",
                                              "Connected to network in observer mode."}));
    }

    void refusedConnectsPostTheirNoticeAndChangeNothing_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("observer");
        QTest::addColumn<bool>("simulator");
        QTest::addColumn<QString>("notice");
        const QString invalid = QStringLiteral("Invalid callsign. Use only A-Z, 0-9, or underscore; spaces "
                                               "and Chinese characters are not allowed.");
        const QString required = QStringLiteral("Callsign and Type Code are required.");
        QTest::newRow("one letter") << "A"
                                    << "A320" << false << true << invalid;
        QTest::newRow("thirteen") << "ABCDEFGHIJKLM"
                                  << "A320" << false << true << invalid;
        QTest::newRow("hyphen") << "AB-12"
                                << "A320" << false << true << invalid;
        QTest::newRow("inner space") << "AB 12"
                                     << "A320" << false << true << invalid;
        QTest::newRow("chinese") << "国航1"
                                 << "A320" << false << true << invalid;
        QTest::newRow("pilot without callsign") << "  "
                                                << "A320" << false << true << required;
        QTest::newRow("observer without callsign")
            << ""
            << "" << true << false << QStringLiteral("Callsign is required for observer mode.");
        QTest::newRow("pilot without type") << "ABC123"
                                            << " " << false << true << required;
        QTest::newRow("pilot without simulator")
            << "ABC123"
            << "A320" << false << false
            << QStringLiteral("飞行员模式连接 FSD 前，请先连接模拟器并等待有效的飞机数据。");
    }

    void refusedConnectsPostTheirNoticeAndChangeNothing() {
        QFETCH(QString, callsign);
        QFETCH(QString, type);
        QFETCH(bool, observer);
        QFETCH(bool, simulator);
        QFETCH(QString, notice);
        if (simulator) {
            h.bindValidSimulator();
        }
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(!h.nm->connectToNetwork(callsign, type, {}, observer));
        QCOMPARE(texts(notices), QStringList{notice});
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QCOMPARE(h.nm->connectInfo().callsign, QString());
        QVERIFY(!h.server.hasClient());
    }

    // Nothing is sent rather than a login with an empty CID or a changed password.
    void loginsThatCannotGoOutAsStoredAreRefused_data() {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("notice");
        const QString unsendable =
            QStringLiteral("密码中含有冒号“:”或控制字符，无法在 FSD 登录中发送，请修改密码后再连接。");
        QTest::newRow("colon") << "1234567"
                               << "pa:ss" << unsendable;
        QTest::newRow("tab") << "1234567"
                             << "pa\tss" << unsendable;
        // Not remembered, and no sign-in in this program.
        QTest::newRow("no cid") << " "
                                << "s3cret"
                                << QStringLiteral(
                                       "无法确定登录 FSD 所用的 CID（账户名），请重新登录账户后再连接。");
    }

    void loginsThatCannotGoOutAsStoredAreRefused() {
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QString, notice);
        auto* config = velk::AppConfig::instance();
        config->setValue(velk::ConfigKeys::AuthUsername, username);
        config->setValue(velk::ConfigKeys::AuthPassword, password);
        h.bindValidSimulator();
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(!h.nm->connectToNetwork(QStringLiteral("ABC123"), QStringLiteral("A320"), {}, false));
        QCOMPARE(texts(notices), QStringList{notice});
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QVERIFY(!h.server.hasClient());
    }

    void profileTextCannotSplitTheLoginLine() {
        auto* config = velk::AppConfig::instance();
        config->setValue(velk::ConfigKeys::ProfileRealname, QStringLiteral("Zhang:San"));
        config->setValue(velk::ConfigKeys::ProfileHomeAirport, QStringLiteral("zs:ss"));
        h.bindValidSimulator();
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("AB12"), QStringLiteral("A320"), {}, false));
        QVERIFY(h.server.waitForLineStartingWith(QStringLiteral("#AP")));
        QCOMPARE(h.server.receivedLines().constFirst(),
                 QStringLiteral("#APAB12:SERVER:1234567:s3cret:1:9:5:ZhangSan ZSSS"));
    }

    void anUnderscoreCallsignIsAccepted() {
        h.bindValidSimulator();
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("AB_1"), QStringLiteral("A320"), {}, false));
        QVERIFY(h.server.waitForClient());
    }

    void logoffSendsTheDeletePacketAndEndsTheSession() {
        expectEnd([this] { h.nm->disconnectFromNetwork(); }, QStringLiteral("Disconnected from network."),
                  false, QStringLiteral("FSD session ended: the pilot disconnected"));
    }

    void logoffLineReachesTheServer() {
        QVERIFY(h.loginPilot());
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());
        QCOMPARE(h.server.receivedLines(), QStringList{"#DPABC123:1234567"});
        h.nm->disconnectFromNetwork(); // idle: nothing
    }

    void logoffBeforeTheConnectionIsUpEndsTheAttempt() {
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(h.nm.get(), &NetworkManager::networkDisconnected);
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("ABC_OBS"), {}, {}, true));
        h.nm->disconnectFromNetwork();
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.first().at(0).toBool(), false);
        QCOMPARE(texts(notices), (QStringList{"Connecting to network...", "Disconnected from network."}));
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QCoreApplication::processEvents();
        QCOMPARE(disconnected.count(), 1);
    }

    void killRequestWithAReasonIsAForcedEnd() {
        expectEnd(
            [this] {
                h.deliver(QStringLiteral("$!!SERVER:ABC123:Too many pings"));
                h.server.closeClient();
            },
            QStringLiteral("Forcibly disconnected from network: Too many pings"), true,
            QStringLiteral(R"(FSD session ended by force: "Too many pings")"));
    }

    void killRequestWithoutAReasonIsAForcedEnd() {
        expectEnd(
            [this] {
                h.deliver(QStringLiteral("$!!SERVER:ABC123:"));
                h.server.closeClient();
            },
            QStringLiteral("Forcibly disconnected from network."), true,
            QStringLiteral(R"(FSD session ended by force: "")"));
    }

    void remoteCloseIsAnOrdinaryEnd() {
        expectEnd([this] { h.server.closeClient(); }, QStringLiteral("Disconnected from network."), false,
                  QStringLiteral("FSD session ended: the connection was closed"));
    }

    void connectionResetIsAnOrdinaryEnd() {
        expectEnd([this] { h.server.resetClient(); }, QStringLiteral("Disconnected from network."), false,
                  QStringLiteral("FSD session ended: the connection was closed"));
    }

    // On loopback in a namespace of the test's own, cut under the session:
    // nothing the pilot sends is acknowledged, whatever still arrives. A cut
    // for a third of the time-out is survived, and a quiet server keeps the
    // session.
    void aDeadPathEndsTheSessionTheForcedWayAQuietOneStays_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("black hole") << int(BlackHole);
        QTest::newRow("no route to host") << int(NoRouteToHost);
        // The route to the server gone on the pilot's side only.
        QTest::newRow("one way") << int(OneWay);
    }

    void aDeadPathEndsTheSessionTheForcedWayAQuietOneStays() {
        QFETCH(int, kind);
        velk::test::PrivateNetwork path;
        if (!path.error().isEmpty()) {
            QSKIP(qPrintable("no network namespace: " + path.error()));
        }
        if (kind == NoRouteToHost && !path.deadLinkError().isEmpty()) {
            QSKIP(qPrintable("no dead link: " + path.deadLinkError()));
        }
        const auto cut = [&](bool on) {
            switch (kind) {
            case BlackHole:
                return path.setLoopbackUp(!on);
            case NoRouteToHost:
                return path.setNoRouteToHost(on);
            default:
                return path.setUnreachable(h.server.port(), on);
            }
        };
        const velk::test::MessageLog log;
        SessionHarness local;
        QVERIFY(local.server.listen(h.server.port()));
        local.create();
        // Long enough that the system's retry after a cut of a third of it
        // (its back-off does not scale with the test) comes well within it.
        constexpr int timeoutMs = 4500;
        local.nm->fsdClient()->setUnacknowledgedTimeout(timeoutMs);
        QVERIFY(local.loginPilot());
        QSignalSpy notices(local.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(local.nm.get(), &NetworkManager::networkDisconnected);
        // The server reads and says nothing while the pilot keeps reporting.
        QTimer reports;
        connect(&reports, &QTimer::timeout, local.nm.get(), &NetworkManager::sendPosition);
        reports.start(timeoutMs / 8);
        QVERIFY(!disconnected.wait(2 * timeoutMs));

        QVERIFY(cut(true));
        local.nm->requestRealName(QStringLiteral("OUTAGE"));
        QVERIFY(!disconnected.wait(timeoutMs / 3));
        QVERIFY(cut(false));
        QVERIFY(local.server.waitForLineStartingWith(QStringLiteral("$CQABC123:OUTAGE:RN")));
        QCOMPARE(local.nm->sessionState(), NetworkManager::Connected);

        // Cut for good while the server keeps pinging: the forced end comes in
        // about the time-out, not before.
        QSignalSpy received(local.nm->fsdClient(), &velk::fsd::FsdClient::raiseRawDataReceived);
        QTimer pings;
        connect(&pings, &QTimer::timeout, &local.server,
                [&] { local.server.sendLine(QStringLiteral("$PISERVER:ABC123:7")); });
        pings.start(timeoutMs / 20);
        QVERIFY(cut(true));
        QVERIFY(!disconnected.wait(3 * timeoutMs / 4));
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, timeoutMs);
        QCOMPARE(disconnected.first().at(0).toBool(), true);
        QCOMPARE(texts(notices).mid(texts(notices).size() - 2),
                 (QStringList{"Nothing sent was acknowledged for 4.5 s: the network path is gone.",
                              "Forcibly disconnected from network: 已发送的数据 4.5 秒内未得到服务器确认，"
                              "网络连接已中断。"}));
        QCOMPARE(local.nm->sessionState(), NetworkManager::Idle);
        QCOMPARE(log.count(QStringLiteral("FSD session ended by force: \"已发送的数据 4.5 秒内")), 1);
        QCOMPARE(local.sim->count("removeAllRemoteAircraft"), 1);
        QCOMPARE(received.isEmpty(), kind != OneWay);

        // Once the path is back, so is the session.
        reports.stop();
        pings.stop();
        QVERIFY(cut(false));
        QVERIFY(local.loginObserver());
        QCOMPARE(disconnected.count(), 1);
    }

    void simulatorForceDisconnectLeavesWithTheDeletePacket() {
        expectEnd(
            [this] {
                emit h.sim->forceDisconnect(QStringLiteral("Replay mode"));
                QVERIFY(h.server.waitForClientGone());
                QCOMPARE(h.server.receivedLines(), QStringList{"#DPABC123:1234567"});
            },
            QStringLiteral("Forcibly disconnected from network: Replay mode"), true,
            QStringLiteral(R"(FSD session ended by force: "Replay mode")"));
    }

    void serverClosingMidLoginEndsTheAttempt() {
        h.bindValidSimulator();
        QSignalSpy connected(h.nm.get(), &NetworkManager::networkConnected);
        QSignalSpy disconnected(h.nm.get(), &NetworkManager::networkDisconnected);
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("ABC123"), QStringLiteral("A320"), {}, false));
        QVERIFY(h.server.waitForLineStartingWith(QStringLiteral("#ST")));
        h.server.closeClient();
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.first().at(0).toBool(), false);
        QCOMPARE(connected.count(), 0);
        QVERIFY(!h.nm->isLoggedIn());
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
    }

    void protocolErrorsArePostedExceptNoFlightPlan() {
        QVERIFY(h.loginPilot());
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QVERIFY(h.deliver(QStringLiteral("$ERserver:ABC123:008:dlh1:No flightplan")));
        QCOMPARE(notices.count(), 0);
        QVERIFY(h.deliver(QStringLiteral("$ERserver:ABC123:004:ABC123:Invalid callsign: try again")));
        QCOMPARE(texts(notices), QStringList{"Network Error: Invalid callsign: try again"});
        QCOMPARE(h.nm->sessionState(), NetworkManager::Connected);
    }

    // A server sending nothing but bad lines cannot fill the disk: each one
    // still reaches the server log, but the run log takes only a few, cut
    // short, and still the session's end.
    void aFloodOfBadLinesIsLoggedSparingly() {
        QVERIFY(h.loginPilot());
        const velk::test::MessageLog log;
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy received(h.nm->fsdClient(), &velk::fsd::FsdClient::raiseRawDataReceived);
        constexpr int kLines = 1500;
        h.server.sendRaw(QByteArray("#TMx" + QByteArray(300, '\x01') + "\r\n").repeated(kLines));
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), kLines, 30000);
        QCOMPARE(notices.count(), kLines);
        QVERIFY(log.count(QStringLiteral("FSD error")) <= 20);
        QVERIFY(!log.contains(QStringLiteral("\\u0001").repeated(250)));
        h.server.closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(h.nm->sessionState(), NetworkManager::Idle, 30000);
        QCOMPARE(log.count(QStringLiteral("FSD session ended: the connection was closed")), 1);
    }

    // Whichever line of the server's holds the password, the run log does not.
    void theRunLogNeverHoldsThePassword() {
        QVERIFY(h.loginPilot());
        const velk::test::MessageLog log;
        QVERIFY(h.deliver(QStringLiteral("#APABC123:SERVER:s3cret")));
        QVERIFY(h.deliver(QStringLiteral("$ERserver:ABC123:s3cret")));
        QVERIFY(h.deliver(QStringLiteral("$!!SERVER:ABC123:wrong password s3cret")));
        h.server.closeClient();
        QTRY_COMPARE_WITH_TIMEOUT(h.nm->sessionState(), NetworkManager::Idle, 30000);
        QCOMPARE(log.count(QStringLiteral("******")), 3);
        QVERIFY(!log.contains(QStringLiteral("s3cret")));
    }

    void destroyingALiveSessionSendsNoLogoff() {
        QVERIFY(h.loginPilot());
        h.nm.reset();
        QVERIFY(h.server.waitForClientGone());
        QVERIFY(h.server.receivedLines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerLogin)
#include "tst_networkmanager_login.moc"
