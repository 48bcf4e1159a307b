// The account's profile, flight history and leaderboards from the web API.

#include "ui/MainWindow.h"

#include "fsd/FsdEnums.h"
#include "network/ApiService.h"
#include "ui/viewmodel/DashboardViewModel.h"
#include "ui/viewmodel/SettingsViewModel.h"

#include <QDebug>
#include <QJsonObject>
#include <QPointer>
#include <QVariantMap>

#include <algorithm>

namespace velk::ui {

namespace {

const QString Loading = QStringLiteral("加载中...");
// Shown once a load has ended without an answer.
const QString Unknown = QStringLiteral("--");

} // namespace

void MainWindow::loadUserInfo() const {
    const model::User user = network::ApiService::instance()->currentUser();
    const QString rating = fsd::networkRatingToString(user.rating);
    const QString name = user.username.isEmpty() ? QStringLiteral("未知用户") : user.username;
    const QString cid = QString::number(user.cid);
    // Runs on the first show only, so edits not yet saved survive a restore.
    if (m_settingsViewModel) {
        m_settingsViewModel->reload();
    }
    if (user.cid <= 0) {
        m_dashboardViewModel->setUserInfo(name, name, rating, cid, Unknown, Unknown, user.avatar_url);
        return;
    }
    m_dashboardViewModel->setUserInfo(name, name, rating, cid, Loading, Loading, user.avatar_url);
    QPointer<const MainWindow> self(this);
    network::ApiService::instance()->getUserProfile(
        user.cid,
        [self, user, name, rating](bool ok, const model::UserProfile& profile, const QString& error) {
            if (!self) {
                return;
            }
            const QString cid = QString::number(user.cid);
            if (!ok) {
                qWarning().noquote() << "MainWindow: profile load failed:" << error;
                self->m_dashboardViewModel->setUserInfo(name, name, rating, cid, Unknown, Unknown,
                                                        user.avatar_url);
                return;
            }
            self->m_dashboardViewModel->setUserInfo(user.username, user.username, rating, cid,
                                                    formatDuration(profile.total_pilot_time),
                                                    formatDuration(profile.total_atc_time), user.avatar_url);
        });
}

void MainWindow::loadUserHistory() const {
    QPointer<const MainWindow> self(this);
    network::ApiService::instance()->getUserHistory(
        [self](bool ok, const model::UserHistory& history, const QString& error) {
            if (!self) {
                return;
            }
            DashboardViewModel* overview = self->m_dashboardViewModel;
            if (!ok) {
                qWarning().noquote() << "MainWindow: flight history load failed:" << error;
                // Rows already shown stay; an empty list would read as "no flights".
                if (overview->recentFlights().isEmpty()) {
                    overview->setRecentFlights(
                        {QVariantMap{{QStringLiteral("callsign"), Unknown},
                                     {QStringLiteral("detail"), QStringLiteral("飞行记录加载失败")},
                                     {QStringLiteral("duration"), Unknown}}});
                }
                return;
            }
            QVariantList rows;
            const auto count = std::min<qsizetype>(RecentFlightCount, history.pilots.size());
            for (qsizetype i = 0; i < count; ++i) {
                const model::UserHistoryEntry& entry = history.pilots.at(i);
                rows << QVariantMap{
                    {QStringLiteral("callsign"), entry.callsign.trimmed().toUpper()},
                    {QStringLiteral("detail"), formatFlightWindow(entry.start_time, entry.end_time)},
                    {QStringLiteral("duration"), formatDuration(entry.online_time)}};
            }
            overview->setRecentFlights(rows);
        });
}

void MainWindow::loadLeaderboard() const {
    QPointer<const MainWindow> self(this);
    network::ApiService::instance()->getLeaderboard(
        [self](bool ok, const QJsonObject& data, const QString& error) {
            if (!self) {
                return;
            }
            if (!ok) {
                qWarning().noquote() << "MainWindow: leaderboard load failed:" << error;
                return;
            }
            self->m_dashboardViewModel->setLeaderboards(
                buildLeaderboardList(data.value(QStringLiteral("pilots")).toArray()),
                buildLeaderboardList(data.value(QStringLiteral("controllers")).toArray()));
        });
}

QString MainWindow::formatDuration(quint64 seconds) {
    if (seconds == 0) {
        return QStringLiteral("0小时 0分");
    }
    return QStringLiteral("%1小时 %2分")
        .arg(seconds / 3600)
        .arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
}

QString MainWindow::formatFlightWindow(const QDateTime& start, const QDateTime& end) {
    if (!start.isValid()) {
        return QStringLiteral("时间未知");
    }
    const QString from = start.toLocalTime().toString(QStringLiteral("MM-dd hh:mm"));
    if (!end.isValid()) {
        return from;
    }
    return QStringLiteral("%1 - %2").arg(from, end.toLocalTime().toString(QStringLiteral("hh:mm")));
}

QVariantList MainWindow::buildLeaderboardList(const QJsonArray& rows) {
    QVariantList list;
    list.reserve(rows.size());
    for (const QJsonValue& row : rows) {
        const QJsonObject object = row.toObject();
        const QJsonValue cid = object.value(QStringLiteral("cid"));
        const QString cidText =
            cid.isDouble() ? QString::number(cid.toInteger()) : cid.toVariant().toString();
        const QJsonValue time = object.value(QStringLiteral("time"));
        // A server's double may be far outside any integer: clamp before converting.
        const qint64 seconds = time.isDouble() ? static_cast<qint64>(std::clamp(time.toDouble(), -1e15, 1e15))
                                               : time.toVariant().toLongLong();
        list << QVariantMap{{QStringLiteral("name"), QStringLiteral("CID: %1").arg(cidText)},
                            {QStringLiteral("hours"), seconds / 3600}};
    }
    return list;
}

} // namespace velk::ui
