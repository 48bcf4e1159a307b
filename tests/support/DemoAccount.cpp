#include "support/DemoAccount.h"

#include <QDateTime>
#include <QJsonArray>

namespace velk::test {

QJsonObject DemoAccount::user() {
    return QJsonObject{{QStringLiteral("username"), QStringLiteral("pilot01")},
                       {QStringLiteral("cid"), Cid},
                       {QStringLiteral("avatar_url"), QString()},
                       {QStringLiteral("rating"), 2}};
}

void DemoAccount::install(WebApiTestServer& server) {
    const QString token = WebApiTestServer::makeJwt(QDateTime::currentSecsSinceEpoch() + 24 * 3600);
    const QByteArray session = WebApiTestServer::sessionEnvelope(QStringLiteral("LOGIN_SUCCESS"), token,
                                                                 QStringLiteral("demo-refresh"), user());
    server.setReply("POST", QStringLiteral("/users/sessions"), WebApiTestServer::json(200, session));
    server.setReply("GET", QStringLiteral("/users/sessions"), WebApiTestServer::json(200, session));
    server.setReply(
        "GET", QStringLiteral("/users/fsd-token"),
        WebApiTestServer::json(
            200, WebApiTestServer::envelope(QStringLiteral("GET_FSD_TOKEN"), {},
                                            {{QStringLiteral("token"), QStringLiteral("fsd-demo")}})));
    server.setReply(
        "GET", QStringLiteral("/users/profiles/self"),
        WebApiTestServer::json(
            200, WebApiTestServer::envelope(QStringLiteral("GET_USER_PROFILE"), {},
                                            {{QStringLiteral("total_pilot_time"), qint64(PilotSeconds)},
                                             {QStringLiteral("total_atc_time"), qint64(AtcSeconds)}})));
    QJsonArray pilots;
    const QDateTime start(QDate(2024, 5, 1), QTime(9, 0), Qt::UTC);
    for (int i = 0; i < PilotSessions; ++i) {
        pilots.append(
            QJsonObject{{QStringLiteral("callsign"), QStringLiteral(" ces%1 ").arg(100 + i)},
                        {QStringLiteral("start_time"), start.addDays(i).toString(Qt::ISODate)},
                        {QStringLiteral("end_time"), start.addDays(i).addSecs(5400).toString(Qt::ISODate)},
                        {QStringLiteral("online_time"), 5400}});
    }
    server.setReply("GET", QStringLiteral("/users/histories/self"),
                    WebApiTestServer::json(
                        200, WebApiTestServer::envelope(QStringLiteral("GET_USER_HISTORY"), {},
                                                        {{QStringLiteral("pilots"), pilots},
                                                         {QStringLiteral("controllers"), QJsonArray()}})));
    const QJsonArray pilotBoard{
        QJsonObject{{QStringLiteral("cid"), 1234}, {QStringLiteral("time"), 7199}},
        QJsonObject{{QStringLiteral("cid"), 1000001}, {QStringLiteral("time"), 3600}}};
    const QJsonArray atcBoard{QJsonObject{{QStringLiteral("cid"), 42}}};
    server.setReply(
        "GET", QStringLiteral("/server/rating"),
        WebApiTestServer::json(200, WebApiTestServer::envelope(QStringLiteral("GET_TIME_RATING"), {},
                                                               {{QStringLiteral("pilots"), pilotBoard},
                                                                {QStringLiteral("controllers"), atcBoard}})));
}

} // namespace velk::test
