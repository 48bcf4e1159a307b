#include "AppConfig.h"
#include "network/ApiService.h"
#include "support/TestSupport.h"
#include "support/WebApiTestServer.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

using namespace velk;
using network::ApiService;
using test::WebApiTestServer;

namespace {

struct Result {
    int calls = 0;
    bool ok = false;
    bool rejected = false;
    QString text;
    QString token;
    QThread* thread = nullptr;
};

ApiService::LoginCallback recordInto(Result& r) {
    return [&r](bool ok, const QString& message) {
        ++r.calls;
        r.ok = ok;
        r.text = message;
        r.thread = QThread::currentThread();
    };
}

ApiService::RefreshCallback recordRefreshInto(Result& r) {
    return [&r](bool ok, const QString& message, bool rejected) {
        ++r.calls;
        r.ok = ok;
        r.rejected = rejected;
        r.text = message;
    };
}

ApiService::FsdTokenCallback recordTokenInto(Result& r) {
    return [&r](bool ok, const QString& token, const QString& error) {
        ++r.calls;
        r.ok = ok;
        r.token = token;
        r.text = error;
        r.thread = QThread::currentThread();
    };
}

const QJsonObject kUser{{QStringLiteral("username"), QStringLiteral("pilot01")},
                        {QStringLiteral("cid"), 1234567},
                        {QStringLiteral("avatar_url"), QStringLiteral("https://example.invalid/a.png")},
                        {QStringLiteral("rating"), 3}};

} // namespace

class TestApiService : public QObject {
    Q_OBJECT

    std::unique_ptr<AppConfig> config;
    std::unique_ptr<WebApiTestServer> server;
    std::unique_ptr<ApiService> api;
    qint64 clockNow = 0;
    int dirCounter = 0;

    void signIn(qint64 expiresIn, const QString& flush = QStringLiteral("refresh-1")) {
        server->queueReply("POST", "/users/sessions",
                           WebApiTestServer::json(200, WebApiTestServer::sessionEnvelope(
                                                           QStringLiteral("LOGIN_SUCCESS"),
                                                           WebApiTestServer::makeJwt(clockNow + expiresIn),
                                                           flush, kUser, QStringLiteral("登录成功"))));
        Result r;
        api->login(QStringLiteral("pilot01"), QStringLiteral("pw"), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        server->clearRequests();
    }

private slots:
    void init() {
        config = std::make_unique<AppConfig>(test::freshDir(QStringLiteral("api%1").arg(++dirCounter)));
        server = std::make_unique<WebApiTestServer>();
        api = std::make_unique<ApiService>(config.get());
        api->setBaseUrl(server->url());
        clockNow = QDateTime::currentSecsSinceEpoch();
        api->setClock([this] { return clockNow; });
    }

    void cleanup() {
        api.reset();
        server.reset();
        config.reset();
    }

    void successfulSignInKeepsTheSessionAndStoresBothTokens() {
        const QString token = WebApiTestServer::makeJwt(clockNow + 3600);
        server->setReply("POST", "/users/sessions",
                         WebApiTestServer::json(
                             200, WebApiTestServer::sessionEnvelope(QStringLiteral("LOGIN_SUCCESS"), token,
                                                                    QStringLiteral("refresh-abc"), kUser,
                                                                    QStringLiteral("登录成功"))));
        Result r;
        api->login(QStringLiteral("pilot01"), QStringLiteral("  secret  "), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        QCOMPARE(r.text, QStringLiteral("登录成功"));
        QCOMPARE(r.thread, QThread::currentThread());

        QCOMPARE(server->requests().size(), 1);
        const auto& req = server->requests().first();
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.path, QStringLiteral("/users/sessions"));
        QCOMPARE(req.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(req.json().value(QStringLiteral("username")).toString(), QStringLiteral("pilot01"));
        QCOMPARE(req.json().value(QStringLiteral("password")).toString(), QStringLiteral("  secret  "));
        QVERIFY(req.header("Authorization").isEmpty());

        QCOMPARE(api->accessToken(), token);
        QCOMPARE(api->currentRefreshToken(), QStringLiteral("refresh-abc"));
        QCOMPARE(api->tokenExpiry(), clockNow + 3600);
        QCOMPARE(api->currentUser().username, QStringLiteral("pilot01"));
        QCOMPARE(api->currentUser().cid, 1234567);
        QCOMPARE(api->currentUser().avatar_url, QStringLiteral("https://example.invalid/a.png"));
        QCOMPARE(api->currentUser().rating, 3);
        QCOMPARE(config->value(ConfigKeys::AuthToken), token);
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("refresh-abc"));
    }

    void signInRejectionsGiveTheirTexts_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const auto env = [](const char* code, const QString& message = {}) {
            return WebApiTestServer::envelope(QString::fromLatin1(code), message);
        };
        QTest::newRow("wrong password")
            << 200 << env("WRONG_USERNAME_OR_PASSWORD") << QStringLiteral("用户名或密码错误");
        QTest::newRow("wrong password as 401")
            << 401 << env("WRONG_USERNAME_OR_PASSWORD") << QStringLiteral("用户名或密码错误");
        QTest::newRow("database") << 500 << env("DATABASE_ERROR")
                                  << QStringLiteral("服务器数据库错误，请稍后重试");
        QTest::newRow("other code") << 403 << env("USER_BANNED")
                                    << QStringLiteral("登录失败 (错误代码: USER_BANNED)");
        QTest::newRow("server message wins")
            << 200 << env("WRONG_USERNAME_OR_PASSWORD", QStringLiteral("账号不存在"))
            << QStringLiteral("账号不存在");
        QTest::newRow("not json") << 200 << QByteArray("<html>ok</html>")
                                  << QStringLiteral("登录失败：服务器返回了无效的响应");
        QTest::newRow("json array") << 200 << QByteArray("[1,2]")
                                    << QStringLiteral("登录失败：服务器返回了无效的响应");
        QTest::newRow("success without token") << 200 << env("LOGIN_SUCCESS", QStringLiteral("登录成功"))
                                               << QStringLiteral("登录失败：服务器返回了无效的响应");
        QTest::newRow("larger than any reply") << 200 << env("X", QString(1 << 20, QLatin1Char('x')))
                                               << QStringLiteral("登录失败：服务器的回复过大");
    }

    void signInRejectionsGiveTheirTexts() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        server->setReply("POST", "/users/sessions", WebApiTestServer::json(status, body));
        Result r;
        api->login(QStringLiteral("pilot01"), QStringLiteral("bad"), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QCOMPARE(r.text, expected);
        QVERIFY(api->accessToken().isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthToken).isEmpty());
        QCOMPARE(api->armedRefreshDelay(), -1);
    }

    void serverErrorWithoutJsonNamesStatusAndError() {
        server->setReply("POST", "/users/sessions",
                         WebApiTestServer::Reply{503, "busy", "text/plain", false});
        Result r;
        api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QVERIFY2(r.text.startsWith(QStringLiteral("网络错误 (503): ")), qPrintable(r.text));
    }

    void missingEndpointNamesTheRequestUrl() {
        Result r;
        api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QCOMPARE(r.text, QStringLiteral("服务器接口不存在 (404)\n请求地址: %1/users/sessions")
                             .arg(server->url().toString()));
    }

    void refusedConnectionGivesTheConnectTexts() {
        api->setBaseUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(WebApiTestServer::closedPort())));
        Result login;
        api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(login));
        QTRY_COMPARE(login.calls, 1);
        QVERIFY(!login.ok);
        QCOMPARE(login.text, QStringLiteral("无法连接到服务器，请检查网络连接"));

        Result refresh;
        api->refreshToken(QStringLiteral("r"), recordInto(refresh), true);
        QTRY_COMPARE(refresh.calls, 1);
        QVERIFY(!refresh.ok);
        QCOMPARE(refresh.text, QStringLiteral("无法连接到服务器"));
    }

    void unansweredRequestTimesOutOnce() {
        api->setRequestTimeout(std::chrono::milliseconds(200));
        server->setReply("POST", "/users/sessions",
                         WebApiTestServer::Reply{200, "{}", "application/json", true});
        server->setReply("GET", "/users/sessions",
                         WebApiTestServer::Reply{200, "{}", "application/json", true});
        Result login;
        Result refresh;
        api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(login));
        api->refreshToken(QStringLiteral("r"), recordInto(refresh));
        QTRY_COMPARE(login.calls, 1);
        QTRY_COMPARE(refresh.calls, 1);
        QCOMPARE(login.text, QStringLiteral("连接超时，请稍后重试"));
        QCOMPARE(refresh.text, QStringLiteral("连接超时"));
        QVERIFY(!login.ok && !refresh.ok);
        server->releaseHeld(); // the client has given up: nothing may reach it any more
        QCoreApplication::processEvents();
        QCOMPARE(login.calls, 1);
        QCOMPARE(refresh.calls, 1);
    }

    void refreshSendsTheRefreshTokenAndAdoptsTheNewSession() {
        signIn(3600, QStringLiteral("refresh-1"));
        const QString newToken = WebApiTestServer::makeJwt(clockNow + 7200);
        server->setReply("GET", "/users/sessions",
                         WebApiTestServer::json(
                             200, WebApiTestServer::sessionEnvelope(QStringLiteral("REFRESH_SUCCESS"),
                                                                    newToken, QStringLiteral("refresh-2"), {},
                                                                    QStringLiteral("ok"))));
        Result r;
        api->refreshToken(QStringLiteral("refresh-1"), recordInto(r), true);
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        QCOMPARE(r.text, QStringLiteral("ok"));
        const auto req = server->requests().first();
        QCOMPARE(req.method, QByteArray("GET"));
        QCOMPARE(req.path, QStringLiteral("/users/sessions"));
        QCOMPARE(req.query.queryItemValue(QStringLiteral("first")), QStringLiteral("true"));
        QCOMPARE(req.header("Authorization"), QByteArray("Bearer refresh-1"));
        QCOMPARE(req.header("Content-Type"), QByteArray("application/json"));

        QCOMPARE(api->accessToken(), newToken);
        QCOMPARE(api->currentRefreshToken(), QStringLiteral("refresh-2"));
        QCOMPARE(api->currentUser().username, QStringLiteral("pilot01")); // no user in the reply: kept
        QCOMPARE(config->value(ConfigKeys::AuthToken), newToken);
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("refresh-2"));
    }

    void refreshWithoutNewRefreshTokenKeepsTheOneUsed() {
        QJsonObject data{
            {QStringLiteral("token"), WebApiTestServer::makeJwt(clockNow + 900)},
            {QStringLiteral("user"), QJsonObject{{QStringLiteral("username"), QStringLiteral("other")},
                                                 {QStringLiteral("cid"), 42}}}};
        server->setReply(
            "GET", "/users/sessions",
            WebApiTestServer::json(200, WebApiTestServer::envelope(QStringLiteral("OK"), {}, data)));
        Result r;
        api->refreshToken(QStringLiteral("stored-refresh"), recordInto(r), false);
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        QVERIFY(!server->requests().first().query.hasQueryItem(QStringLiteral("first")));
        QCOMPARE(api->currentRefreshToken(), QStringLiteral("stored-refresh"));
        QCOMPARE(api->currentUser().username, QStringLiteral("other"));
        QCOMPARE(api->currentUser().cid, 42);
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("stored-refresh"));
    }

    void refreshFailuresGiveTheirTextsAndVerdicts_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("rejected");
        QTest::newRow("expired") << 401
                                 << WebApiTestServer::envelope(QStringLiteral("TOKEN_EXPIRED"),
                                                               QStringLiteral("x"))
                                 << QStringLiteral("令牌已过期，请重新登录") << true;
        QTest::newRow("no token, message")
            << 200 << WebApiTestServer::envelope(QStringLiteral("E"), QStringLiteral("失效"))
            << QStringLiteral("失效") << true;
        QTest::newRow("no token, no message") << 200 << WebApiTestServer::envelope(QStringLiteral("E"))
                                              << QStringLiteral("刷新令牌失败，请重新登录") << true;
        QTest::newRow("not json") << 200 << QByteArray("nonsense")
                                  << QStringLiteral("刷新令牌失败，请重新登录") << false;
        QTest::newRow("database error envelope")
            << 200 << WebApiTestServer::envelope(QStringLiteral("DATABASE_ERROR"))
            << QStringLiteral("服务器数据库错误，请稍后重试") << false;
        QTest::newRow("server error with its text")
            << 500 << WebApiTestServer::envelope(QStringLiteral("DATABASE_ERROR"), QStringLiteral("维护中"))
            << QStringLiteral("维护中") << false;
    }

    void refreshFailuresGiveTheirTextsAndVerdicts() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(bool, rejected);
        server->setReply("GET", "/users/sessions", WebApiTestServer::json(status, body));
        Result r;
        api->refreshToken(QStringLiteral("r"), recordRefreshInto(r), true);
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QCOMPARE(r.text, expected);
        QCOMPARE(r.rejected, rejected);
        QVERIFY(api->accessToken().isEmpty());
    }

    void refreshOfMissingEndpointIsANetworkError() {
        Result r;
        api->refreshToken(QStringLiteral("r"), recordInto(r), true);
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.text.startsWith(QStringLiteral("网络错误: ")));
    }

    void automaticRefreshIsArmed300SecondsBeforeExpiry() {
        signIn(1000);
        QCOMPARE(api->armedRefreshDelay(), 700);

        // A token that is already inside the lead time is refreshed soon, not in a tight loop.
        signIn(120);
        QCOMPARE(api->armedRefreshDelay(), ApiService::MinRefreshDelaySeconds);

        // A far-off expiry is capped to what a timer can hold.
        signIn(100LL * 24 * 3600);
        QCOMPARE(api->armedRefreshDelay(), 24LL * 24 * 3600);
        signIn(120);

        // The tick refreshes with the held refresh token and re-arms from the new expiry.
        server->setReply(
            "GET", "/users/sessions",
            WebApiTestServer::json(200, WebApiTestServer::sessionEnvelope(
                                            QStringLiteral("OK"), WebApiTestServer::makeJwt(clockNow + 2000),
                                            QStringLiteral("refresh-9"))));
        api->onRefreshTimer();
        QTRY_COMPARE(api->currentRefreshToken(), QStringLiteral("refresh-9"));
        QCOMPARE(server->requests().size(), 1);
        QCOMPARE(server->requests().first().header("Authorization"), QByteArray("Bearer refresh-1"));
        QVERIFY(!server->requests().first().query.hasQueryItem(QStringLiteral("first")));
        QCOMPARE(api->armedRefreshDelay(), 1700);
    }

    void tokenWithoutExpiryArmsNoRefresh() {
        server->setReply("POST", "/users/sessions",
                         WebApiTestServer::json(200, WebApiTestServer::sessionEnvelope(
                                                         QStringLiteral("LOGIN_SUCCESS"),
                                                         QStringLiteral("opaque"), QStringLiteral("r"))));
        Result r;
        api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        QCOMPARE(api->tokenExpiry(), 0);
        QCOMPARE(api->armedRefreshDelay(), -1);
    }

    void clearSessionForgetsTheSessionButNotTheStore() {
        signIn(3600);
        api->clearSession();
        QVERIFY(api->accessToken().isEmpty());
        QVERIFY(api->currentRefreshToken().isEmpty());
        QVERIFY(api->currentUser().username.isEmpty());
        QCOMPARE(api->currentUser().cid, 0);
        QCOMPARE(api->tokenExpiry(), 0);
        QCOMPARE(api->armedRefreshDelay(), -1);
        QVERIFY(!config->value(ConfigKeys::AuthToken).isEmpty());
        QCOMPARE(config->value(ConfigKeys::AuthRefreshToken), QStringLiteral("refresh-1"));
    }

    void refreshThatEndsAfterClearSessionDoesNotReviveIt() {
        server->setReply("GET", "/users/sessions",
                         WebApiTestServer::Reply{
                             200,
                             WebApiTestServer::sessionEnvelope(QStringLiteral("OK"),
                                                               WebApiTestServer::makeJwt(clockNow + 900),
                                                               QStringLiteral("late")),
                             "application/json", true});
        Result r;
        api->refreshToken(QStringLiteral("r"), recordInto(r), true);
        QTRY_COMPARE(server->heldCount(), 1);
        api->clearSession();
        config->resetValue(ConfigKeys::AuthRefreshToken);
        server->releaseHeld();
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QVERIFY(api->accessToken().isEmpty());
        QVERIFY(config->value(ConfigKeys::AuthRefreshToken).isEmpty());
    }

    void tokensAreTakenFromTheStoreAtConstruction() {
        const QString token = WebApiTestServer::makeJwt(clockNow + 500);
        config->setValue(ConfigKeys::AuthToken, token);
        config->setValue(ConfigKeys::AuthRefreshToken, QStringLiteral("stored"));
        ApiService other(config.get());
        QCOMPARE(other.accessToken(), token);
        QCOMPARE(other.currentRefreshToken(), QStringLiteral("stored"));
        QCOMPARE(other.tokenExpiry(), clockNow + 500);
    }

    void fsdTokenIsFetchedWithTheAccessToken() {
        signIn(3600);
        server->setReply(
            "GET", "/users/fsd-token",
            WebApiTestServer::json(
                200, WebApiTestServer::envelope(QStringLiteral("GET_FSD_TOKEN"), {},
                                                {{QStringLiteral("token"), QStringLiteral("fsd-xyz")}})));
        Result r;
        api->getFSDToken(recordTokenInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(r.ok);
        QCOMPARE(r.token, QStringLiteral("fsd-xyz"));
        QCOMPARE(r.thread, QThread::currentThread());
        QCOMPARE(server->requests().size(), 1);
        QCOMPARE(server->requests().first().method, QByteArray("GET"));
        QCOMPARE(server->requests().first().path, QString::fromLatin1(ApiService::FsdTokenPath));
        QCOMPARE(server->requests().first().header("Authorization"), "Bearer " + api->accessToken().toUtf8());
    }

    void fsdTokenAboutToExpireIsRefreshedFirstAndOnce() {
        signIn(59);
        const QString oldToken = api->accessToken();
        const QString newToken = WebApiTestServer::makeJwt(clockNow + 3600, QStringLiteral("new"));
        server->setReply(
            "GET", "/users/sessions",
            WebApiTestServer::json(200, WebApiTestServer::sessionEnvelope(QStringLiteral("OK"), newToken,
                                                                          QStringLiteral("refresh-2"))));
        server->setReply(
            "GET", "/users/fsd-token",
            WebApiTestServer::json(
                200, WebApiTestServer::envelope(QStringLiteral("GET_FSD_TOKEN"), {},
                                                {{QStringLiteral("token"), QStringLiteral("fsd-1")}})));
        Result a;
        Result b;
        api->getFSDToken(recordTokenInto(a));
        api->getFSDToken(recordTokenInto(b));
        QTRY_COMPARE(a.calls, 1);
        QTRY_COMPARE(b.calls, 1);
        QVERIFY(a.ok && b.ok);
        QCOMPARE(server->requestsTo(QStringLiteral("/users/sessions")).size(), 1);
        QCOMPARE(server->requestsTo(QStringLiteral("/users/sessions")).first().header("Authorization"),
                 QByteArray("Bearer refresh-1"));
        const auto fsd = server->requestsTo(QStringLiteral("/users/fsd-token"));
        QCOMPARE(fsd.size(), 2);
        for (const auto& req : fsd) {
            QCOMPARE(req.header("Authorization"), "Bearer " + newToken.toUtf8());
        }
        QVERIFY(oldToken != newToken);
        QCOMPARE(server->requests().first().path, QStringLiteral("/users/sessions"));
    }

    void fsdTokenAboutToExpireWithoutRefreshTokenFails() {
        signIn(30, QString());
        Result r;
        api->getFSDToken(recordTokenInto(r));
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QCOMPARE(r.text, QStringLiteral("JWT token expired and refresh token is unavailable"));
        QVERIFY(server->requests().isEmpty());
    }

    void fsdTokenFailures() {
        signIn(3600);
        server->setReply(
            "GET", "/users/fsd-token",
            WebApiTestServer::json(403, WebApiTestServer::envelope(QStringLiteral("NO_PERMISSION"),
                                                                   QStringLiteral("账户已被停用"))));
        Result denied;
        api->getFSDToken(recordTokenInto(denied));
        QTRY_COMPARE(denied.calls, 1);
        QVERIFY(!denied.ok);
        QCOMPARE(denied.text, QStringLiteral("账户已被停用"));
        QVERIFY(denied.token.isEmpty());

        // A failed refresh ends the request with the refresh's text.
        signIn(10);
        server->setReply("GET", "/users/sessions",
                         WebApiTestServer::json(401, WebApiTestServer::envelope(QStringLiteral("EXPIRED"))));
        Result expired;
        api->getFSDToken(recordTokenInto(expired));
        QTRY_COMPARE(expired.calls, 1);
        QCOMPARE(expired.text, QStringLiteral("令牌已过期，请重新登录"));
        QVERIFY(server->requestsTo(QStringLiteral("/users/fsd-token")).isEmpty());
    }

    void requestsWithoutASessionFailUnsent_data() {
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fsd token") << 0 << QStringLiteral("No JWT token found, get FSD token fail");
        QTest::newRow("profile") << 1 << QStringLiteral("No JWT token found, get user profile fail");
        QTest::newRow("history") << 2 << QStringLiteral("No JWT token found, get user history fail");
        QTest::newRow("leaderboard") << 3 << QStringLiteral("No JWT token found, get leaderboard fail");
    }

    void requestsWithoutASessionFailUnsent() {
        QFETCH(int, request);
        QFETCH(QString, expected);
        Result r;
        const auto record = [&r](bool ok, auto&&, const QString& error) {
            ++r.calls;
            r.ok = ok;
            r.text = error;
        };
        switch (request) {
        case 0:
            api->getFSDToken(record);
            break;
        case 1:
            api->getUserProfile(1, record);
            break;
        case 2:
            api->getUserHistory(record);
            break;
        default:
            api->getLeaderboard(record);
            break;
        }
        QTRY_COMPARE(r.calls, 1);
        QVERIFY(!r.ok);
        QCOMPARE(r.text, expected);
        QVERIFY(server->requests().isEmpty());
    }

    void profileRecord() {
        signIn(3600);
        server->setReply(
            "GET", "/users/profiles/self",
            WebApiTestServer::json(200, WebApiTestServer::envelope(
                                            QStringLiteral("GET_USER_PROFILE"), {},
                                            {{QStringLiteral("total_pilot_time"), 11100},
                                             {QStringLiteral("total_atc_time"), QStringLiteral("3600")}})));
        int calls = 0;
        model::UserProfile profile;
        api->getUserProfile(999, [&](bool ok, const model::UserProfile& p, const QString&) {
            ++calls;
            QVERIFY(ok);
            profile = p;
        });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(profile.total_pilot_time, quint64(11100));
        QCOMPARE(profile.total_atc_time, quint64(3600));
        const auto req = server->requestsTo(QStringLiteral("/users/profiles/self")).first();
        QCOMPARE(req.header("Authorization"), "Bearer " + api->accessToken().toUtf8());
        QVERIFY(!req.query.hasQueryItem(QStringLiteral("cid")));

        server->setReply("GET", "/users/profiles/self",
                         WebApiTestServer::json(
                             200, WebApiTestServer::envelope(QStringLiteral("X"), {},
                                                             {{QStringLiteral("total_pilot_time"), -5}})));
        calls = 0;
        api->getUserProfile(1, [&](bool ok, const model::UserProfile& p, const QString&) {
            ++calls;
            QVERIFY(ok);
            profile = p;
        });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(profile.total_pilot_time, quint64(0));
        QCOMPARE(profile.total_atc_time, quint64(0));
    }

    void historyRecord() {
        signIn(3600);
        const QJsonArray pilots{
            QJsonObject{{QStringLiteral("callsign"), QStringLiteral("CES2201")},
                        {QStringLiteral("start_time"), QStringLiteral("2024-05-01T08:30:00Z")},
                        {QStringLiteral("end_time"), QStringLiteral("2024-05-01T10:45:30.500Z")},
                        {QStringLiteral("online_time"), 8130}},
            QJsonObject{{QStringLiteral("callsign"), QStringLiteral("CCA1")},
                        {QStringLiteral("online_time"), 60}},
            QStringLiteral("not an object")};
        const QJsonArray controllers{QJsonObject{{QStringLiteral("callsign"), QStringLiteral("ZBAA_TWR")},
                                                 {QStringLiteral("start_time"), QStringLiteral("garbage")}}};
        server->setReply("GET", "/users/histories/self",
                         WebApiTestServer::json(200, WebApiTestServer::envelope(
                                                         QStringLiteral("GET_USER_HISTORY"), {},
                                                         {{QStringLiteral("pilots"), pilots},
                                                          {QStringLiteral("controllers"), controllers}})));
        int calls = 0;
        model::UserHistory history;
        api->getUserHistory([&](bool ok, const model::UserHistory& h, const QString&) {
            ++calls;
            QVERIFY(ok);
            history = h;
        });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(history.pilots.size(), 2);
        QCOMPARE(history.pilots.at(0).callsign, QStringLiteral("CES2201"));
        QCOMPARE(history.pilots.at(0).start_time, QDateTime(QDate(2024, 5, 1), QTime(8, 30), Qt::UTC));
        QCOMPARE(history.pilots.at(0).end_time,
                 QDateTime(QDate(2024, 5, 1), QTime(10, 45, 30, 500), Qt::UTC));
        QCOMPARE(history.pilots.at(0).online_time, quint64(8130));
        QVERIFY(!history.pilots.at(1).start_time.isValid());
        QVERIFY(!history.pilots.at(1).end_time.isValid());
        QCOMPARE(history.controllers.size(), 1);
        QVERIFY(!history.controllers.at(0).start_time.isValid());
        QCOMPARE(server->requestsTo(QStringLiteral("/users/histories/self")).first().header("Authorization"),
                 "Bearer " + api->accessToken().toUtf8());
    }

    void leaderboardRecord() {
        signIn(3600);
        const QJsonObject data{
            {QStringLiteral("pilots"),
             QJsonArray{QJsonObject{{QStringLiteral("cid"), 1}, {QStringLiteral("time"), 7200}}}},
            {QStringLiteral("controllers"), QJsonArray{}}};
        server->setReply("GET", "/server/rating",
                         WebApiTestServer::json(
                             200, WebApiTestServer::envelope(QStringLiteral("GET_TIME_RATING"), {}, data)));
        int calls = 0;
        QString error;
        QJsonObject got;
        api->getLeaderboard([&](bool ok, const QJsonObject& d, const QString&) {
            ++calls;
            QVERIFY(ok);
            got = d;
        });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(got, data);

        server->setReply("GET", "/server/rating",
                         WebApiTestServer::json(200, WebApiTestServer::envelope(QStringLiteral("OTHER"))));
        calls = 0;
        api->getLeaderboard([&](bool ok, const QJsonObject&, const QString& e) {
            ++calls;
            QVERIFY(!ok);
            error = e;
        });
        QTRY_COMPARE(calls, 1);
        QCOMPARE(error, QStringLiteral("Unknown error"));

        server->setReply("GET", "/server/rating",
                         WebApiTestServer::Reply{502, "bad gateway", "text/plain", false});
        calls = 0;
        api->getLeaderboard([&](bool ok, const QJsonObject&, const QString& e) {
            ++calls;
            QVERIFY(!ok);
            error = e;
        });
        QTRY_COMPARE(calls, 1);
        QVERIFY2(error.startsWith(QStringLiteral("Network error: ")), qPrintable(error));
    }

    void completionFromAnotherThreadRunsOnTheServiceThread() {
        server->setReply("POST", "/users/sessions",
                         WebApiTestServer::json(
                             200, WebApiTestServer::envelope(QStringLiteral("WRONG_USERNAME_OR_PASSWORD"))));
        Result r;
        std::unique_ptr<QThread> worker(
            QThread::create([&] { api->login(QStringLiteral("a"), QStringLiteral("b"), recordInto(r)); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_COMPARE(r.calls, 1);
        QCOMPARE(r.thread, QThread::currentThread());
        QCOMPARE(r.text, QStringLiteral("用户名或密码错误"));
    }

    void jwtExpiryIsReadFromThePayload() {
        QCOMPARE(ApiService::jwtExpiry(WebApiTestServer::makeJwt(1700000000)), qint64(1700000000));
        // Payload lengths that need one and two padding characters.
        QCOMPARE(ApiService::jwtExpiry(WebApiTestServer::makeJwt(1700000000, QStringLiteral("ab"))),
                 qint64(1700000000));
        QCOMPARE(ApiService::jwtExpiry(WebApiTestServer::makeJwt(1700000000, QStringLiteral("abc"))),
                 qint64(1700000000));
        QCOMPARE(ApiService::jwtExpiry(QString()), 0);
        QCOMPARE(ApiService::jwtExpiry(QStringLiteral("a.b")), 0);
        QCOMPARE(ApiService::jwtExpiry(QStringLiteral("a.!!!!.c")), 0);
        QCOMPARE(ApiService::jwtExpiry(QStringLiteral("a.") +
                                       QString::fromLatin1(QByteArray("[1]").toBase64()) +
                                       QStringLiteral(".c")),
                 0);
        QCOMPARE(ApiService::jwtExpiry(WebApiTestServer::makeJwt(-5)), 0);
    }
};

QTEST_GUILESS_MAIN(TestApiService)
#include "tst_apiservice.moc"
