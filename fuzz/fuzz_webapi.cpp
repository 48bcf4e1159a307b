// Web-API replies: any body, to any of the client's requests, is read into
// its record or refused with an error, and the completion runs exactly once.
#include "FuzzSupport.h"
#include "network/ApiService.h"
#include "support/WebApiTestServer.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

using velk::network::ApiService;
using velk::test::WebApiTestServer;

namespace {

WebApiTestServer* server() {
    static WebApiTestServer* s = [] {
        velk::fuzz::initQt();
        auto* created = new WebApiTestServer;
        ApiService::instance()->setBaseUrl(created->url());
        return created;
    }();
    return s;
}

// Runs the event loop until the completion has run; more than one run fails.
template <typename Start> void await(Start start) {
    int calls = 0;
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    start([&] {
        if (++calls > 1) {
            velk::fuzz::fail("completion ran twice");
        }
        loop.quit();
    });
    if (calls == 0) {
        loop.exec();
    }
    if (calls != 1) {
        velk::fuzz::fail("completion never ran");
    }
}

void signIn(const QByteArray& body) {
    server()->setReply("POST", ApiService::SessionsPath, WebApiTestServer::json(200, body));
    await([](auto done) {
        ApiService::instance()->login(QStringLiteral("pilot01"), QStringLiteral("pw"),
                                      [done](bool, const QString&) { done(); });
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    WebApiTestServer* s = server();
    ApiService* api = ApiService::instance();
    const int route = data[0] % 5;
    const QByteArray body = velk::fuzz::bytesOf(data + 1, size - 1);
    if (route == 0) {
        signIn(body);
        return 0;
    }
    // The account requests need a session: a good sign-in first.
    signIn(WebApiTestServer::sessionEnvelope(
        QStringLiteral("LOGIN_SUCCESS"), WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 3600),
        QStringLiteral("refresh-1")));
    const auto reply = WebApiTestServer::json(200, body);
    switch (route) {
    case 1:
        s->setReply("GET", ApiService::FsdTokenPath, reply);
        await(
            [api](auto done) { api->getFSDToken([done](bool, const QString&, const QString&) { done(); }); });
        break;
    case 2:
        s->setReply("GET", ApiService::ProfilePath, reply);
        await([api](auto done) { api->getUserProfile(1, [done](auto&&...) { done(); }); });
        break;
    case 3:
        s->setReply("GET", ApiService::HistoryPath, reply);
        await([api](auto done) { api->getUserHistory([done](auto&&...) { done(); }); });
        break;
    default:
        s->setReply("GET", ApiService::LeaderboardPath, reply);
        await([api](auto done) { api->getLeaderboard([done](auto&&...) { done(); }); });
        break;
    }
    s->clearRequests();
    return 0;
}
