// Token login: nothing is sent before the server identifies itself, then the
// client identification and the login with the FSD token from the web API.
#include "network/ApiService.h"
#include "support/WebApiTestServer.h"
#include "tst_networkmanager_fixture.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>

using velk::manager::NetworkManager;
using velk::network::ApiService;
using velk::test::SessionHarness;
using velk::test::WebApiTestServer;

namespace {

const QString kServerId = QStringLiteral("$DISERVER:CLIENT:VATSIM FSD V3.43:d8b8e4f2");

QStringList g_logged;
QtMessageHandler g_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    g_logged << message;
    if (g_previousHandler) {
        g_previousHandler(type, context, message);
    }
}

WebApiTestServer::Reply tokenReply(const QString& token, bool hold = false) {
    auto reply = WebApiTestServer::json(200, WebApiTestServer::envelope(QStringLiteral("GET_FSD_TOKEN"), {},
                                                                        {{QStringLiteral("token"), token}}));
    reply.hold = hold;
    return reply;
}

} // namespace

class TestNetworkManagerToken : public QObject {
    Q_OBJECT

private:
    SessionHarness h;
    WebApiTestServer api;

    void connectPilot() {
        h.bindValidSimulator();
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("ABC123"), QStringLiteral("B738"), {}, false));
        QVERIFY(h.server.waitForClient());
    }

private slots:
    void initTestCase() {
        QVERIFY(h.startServer());
        SessionHarness::configure(true);
        ApiService::instance()->setBaseUrl(api.url());
        api.setReply("POST", ApiService::SessionsPath,
                     WebApiTestServer::json(
                         200, WebApiTestServer::sessionEnvelope(
                                  QStringLiteral("LOGIN_SUCCESS"),
                                  WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 3600),
                                  QStringLiteral("refresh-1"))));
        bool signedIn = false;
        ApiService::instance()->login(QStringLiteral("pilot"), QStringLiteral("pw"),
                                      [&](bool ok, const QString&) { signedIn = ok; });
        QTRY_VERIFY(signedIn);
    }
    void init() {
        h.create();
        api.clearRequests();
    }
    void cleanup() {
        h.destroy();
        SessionHarness::configure(true); // some tests change the stored account
    }

    void loginWaitsForTheServerIdentificationThenUsesTheToken() {
        api.setReply("GET", ApiService::FsdTokenPath, tokenReply(QStringLiteral("fsd-tok-9f2")));
        QSignalSpy connected(h.nm.get(), &NetworkManager::networkConnected);
        connectPilot();
        h.server.sendLine(kServerId);
        QVERIFY(h.server.waitForLineStartingWith(QStringLiteral("#AP")));
        const QStringList lines = h.server.receivedLines();
        // The identification is the first line: nothing went out before "$DI".
        QCOMPARE(lines.at(0), QStringLiteral("$IDABC123:SERVER:bdc0:VelkClient:3:0:1234567:%1")
                                  .arg(QString::fromUtf8(QSysInfo::machineUniqueId())));
        QCOMPARE(lines.at(1), QStringLiteral("#APABC123:SERVER:1234567:fsd-tok-9f2:1:100:5:Test Pilot ZSSS"));
        // Identified: the login waits for its confirmation, however long.
        QVERIFY(!h.nm->isAwaitingServerIdentification());
        h.nm->onServerIdentificationTimeout();
        QVERIFY(h.server.waitForLineStartingWith(QStringLiteral("$CQABC123:SERVER:IP")));
        QVERIFY(h.deliver(QStringLiteral("$CRSERVER:ABC123:IP:10.0.0.1")));
        QCOMPARE(connected.count(), 1);

        // Neither the token nor the password is in the raw log.
        h.nm->flushLogTimer();
        QFile log(h.nm->rawLogFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.contains("#APABC123:SERVER:1234567:******:1:100:5:Test Pilot ZSSS"));
        QVERIFY(!text.contains("fsd-tok-9f2"));
        QVERIFY(!text.contains("s3cret"));
    }

    void aServerThatNeverIdentifiesItselfIsLeftWithTheCause() {
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(h.nm.get(), &NetworkManager::networkDisconnected);
        connectPilot();
        QTRY_VERIFY(h.nm->isAwaitingServerIdentification());
        h.nm->onServerIdentificationTimeout(); // the 30 s timer's tick
        QCOMPARE(disconnected.count(), 1);
        QCOMPARE(notices.last().at(0).toString(),
                 QStringLiteral("Forcibly disconnected from network: 服务器 30 秒内未发送身份标识（$DI），"
                                "请检查服务器地址与端口，或在设置中关闭“VATSIM 协议”后重试。"));
        QCOMPARE(h.nm->sessionState(), NetworkManager::Idle);
        QVERIFY(h.server.waitForClientGone());
        QVERIFY(h.server.receivedLines().isEmpty());
    }

    void withoutAStoredNameTheSignedInNameIsTheCid() {
        velk::AppConfig::instance()->setValue(velk::ConfigKeys::AuthUsername, QString());
        api.setReply("GET", ApiService::FsdTokenPath, tokenReply(QStringLiteral("tok")));
        connectPilot();
        h.server.sendLine(kServerId);
        QVERIFY(h.server.waitForLineStartingWith(QStringLiteral("#AP")));
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());
        const QStringList lines = h.server.receivedLines();
        QVERIFY(lines.at(0).startsWith(QStringLiteral("$IDABC123:SERVER:bdc0:VelkClient:3:0:pilot:")));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("#APABC123:SERVER:pilot:tok:")));
        QCOMPARE(lines.last(), QStringLiteral("#DPABC123:pilot"));
    }

    void tokenFailureEndsTheConnectionAsForced() {
        api.setReply("GET", ApiService::FsdTokenPath,
                     WebApiTestServer::json(403, WebApiTestServer::envelope(QStringLiteral("NO_PERMISSION"),
                                                                            QStringLiteral("账户已被停用"))));
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        QSignalSpy disconnected(h.nm.get(), &NetworkManager::networkDisconnected);
        connectPilot();
        h.server.sendLine(kServerId);
        QTRY_COMPARE(disconnected.count(), 1);
        QCOMPARE(disconnected.first().at(0).toBool(), true);
        QCOMPARE(notices.at(notices.count() - 2).at(0).toString(),
                 QStringLiteral("Network authentication error: 账户已被停用"));
        QCOMPARE(notices.last().at(0).toString(),
                 QStringLiteral("Forcibly disconnected from network: 账户已被停用"));
        QVERIFY(h.server.waitForClientGone());
        QVERIFY(!h.server.receivedLines().join('\n').contains(QStringLiteral("#AP")));
    }

    void aTokenArrivingAfterTheAttemptEndedIsIgnored() {
        api.setReply("GET", ApiService::FsdTokenPath, tokenReply(QStringLiteral("late-token"), true));
        QSignalSpy notices(h.nm.get(), &NetworkManager::notificationPosted);
        connectPilot();
        h.server.sendLine(kServerId);
        QTRY_COMPARE(api.heldCount(), 1);
        h.nm->disconnectFromNetwork();
        QVERIFY(h.server.waitForClientGone());

        // A new attempt is under way when the old answer arrives.
        h.server.clearReceived();
        QVERIFY(h.nm->connectToNetwork(QStringLiteral("ABC123"), QStringLiteral("B738"), {}, false));
        QVERIFY(h.server.waitForClient());
        const qsizetype noticesBefore = notices.count();
        g_logged.clear();
        g_previousHandler = qInstallMessageHandler(recordMessage);
        api.releaseHeld();
        QTRY_VERIFY(g_logged.contains(
            QStringLiteral("FSD token answer for a login attempt that has ended is ignored")));
        qInstallMessageHandler(g_previousHandler);
        QVERIFY(h.server.receivedLines().isEmpty());
        QCOMPARE(notices.count(), noticesBefore);
        QCOMPARE(h.nm->sessionState(), NetworkManager::Connecting);
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerToken)
#include "tst_networkmanager_token.moc"
