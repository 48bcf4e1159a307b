#pragma once

#include "support/WebApiTestServer.h"

#include <QJsonObject>
#include <QString>

namespace velk::test {

// A signed-in account on the web-API test server: sign-in (any name and
// password), token refresh, FSD token, profile, 7 pilot sessions and both
// leaderboards. Shared by the dashboard tests and the stand-alone server.
struct DemoAccount {
    static constexpr int Cid = 1000001;
    static constexpr quint64 PilotSeconds = 3660; // 1小时 01分
    static constexpr quint64 AtcSeconds = 59;     // 0小时 00分
    static constexpr int PilotSessions = 7;

    static QJsonObject user();
    static void install(WebApiTestServer& server);
};

} // namespace velk::test
