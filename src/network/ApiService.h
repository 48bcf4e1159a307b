#pragma once

#include "model/User.h"
#include "model/UserHistory.h"
#include "model/UserProfile.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace velk {
class AppConfig;
}

namespace velk::network {

// Client of the network's web API: sign-in, token refresh, FSD token, profile,
// history and leaderboard. Every completion runs exactly once, on the thread
// this object lives on (the event loop's), also when the request fails.
class ApiService : public QObject {
    Q_OBJECT

public:
    using LoginCallback = std::function<void(bool ok, const QString& message)>;
    // A refresh's completion; on failure `rejected` tells a token the server
    // refused from a server that was not reached or gave no verdict on it.
    using RefreshCallback = std::function<void(bool ok, const QString& message, bool rejected)>;
    using FsdTokenCallback = std::function<void(bool ok, const QString& token, const QString& error)>;
    using ProfileCallback =
        std::function<void(bool ok, const model::UserProfile& profile, const QString& error)>;
    using HistoryCallback =
        std::function<void(bool ok, const model::UserHistory& history, const QString& error)>;
    using LeaderboardCallback = std::function<void(bool ok, const QJsonObject& data, const QString& error)>;

    static constexpr const char* SessionsPath = "/users/sessions";
    // GET with the bearer access token; answered with code "GET_FSD_TOKEN" and data.token.
    static constexpr const char* FsdTokenPath = "/users/fsd-token";
    static constexpr const char* ProfilePath = "/users/profiles/self";
    static constexpr const char* HistoryPath = "/users/histories/self";
    static constexpr const char* LeaderboardPath = "/server/rating";

    // The session is refreshed this long before the access token expires.
    static constexpr qint64 RefreshLeadSeconds = 300;
    // An FSD token request first refreshes a token that expires within this.
    static constexpr qint64 FsdTokenMinValiditySeconds = 60;
    // Floor of the automatic refresh delay, so that short-lived tokens cannot
    // make the client hammer the server.
    static constexpr qint64 MinRefreshDelaySeconds = 10;
    static constexpr std::chrono::milliseconds DefaultRequestTimeout{15000};

    // A client over `config` (the process-wide store when null) and the
    // deployment's base address. Tokens are taken from the store.
    explicit ApiService(AppConfig* config = nullptr, QObject* parent = nullptr);
    ~ApiService() override;

    static ApiService* instance();

    void login(const QString& username, const QString& password, LoginCallback completion);
    void refreshToken(const QString& refreshToken, LoginCallback completion, bool first = false);
    void refreshToken(const QString& refreshToken, RefreshCallback completion, bool first = false);
    void clearSession();

    QString accessToken() const { return m_accessToken; }
    QString currentRefreshToken() const { return m_refreshToken; }
    const model::User& currentUser() const { return m_user; }
    // The name given to this session's sign-in, or the account's user name
    // for a session taken up with a refresh token; empty when signed out.
    QString signedInName() const;
    // Unix seconds of the access token's "exp" claim; 0 when unknown.
    qint64 tokenExpiry() const { return m_tokenExpiry; }

    void getFSDToken(FsdTokenCallback completion);
    void getUserProfile(int cid, ProfileCallback completion);
    void getUserHistory(HistoryCallback completion);
    void getLeaderboard(LeaderboardCallback completion);

    QUrl baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QUrl& url);
    std::chrono::milliseconds requestTimeout() const { return m_requestTimeout; }
    void setRequestTimeout(std::chrono::milliseconds timeout) { m_requestTimeout = timeout; }
    // Unix seconds now; replaceable so that expiry rules can be tested.
    void setClock(std::function<qint64()> nowSeconds);

    // Seconds from arming to the automatic refresh; -1 when none is armed.
    qint64 armedRefreshDelay() const;
    // The automatic refresh's tick: refreshes the session with the held refresh token.
    void onRefreshTimer();

    // The "exp" claim of a JSON Web Token; 0 when absent or unreadable.
    static qint64 jwtExpiry(const QString& token);

private:
    using ReplyHandler = std::function<void(QNetworkReply* reply, bool timedOut)>;

    QNetworkRequest makeRequest(const QString& path, const QString& bearer = {},
                                const QString& query = {}) const;
    void send(QNetworkReply* reply, ReplyHandler handler);
    // Runs `task` on this object's thread: at once when already there, queued otherwise.
    void onOwnThread(std::function<void()> task);
    void adoptSession(const QJsonObject& data, bool isLogin);
    void armRefreshTimer();
    // A refresh with the held refresh token; concurrent callers share one request.
    void refreshSession(LoginCallback completion);
    void requestFsdToken(FsdTokenCallback completion);
    // GET of an account record at `path` with the access token; the reply's data object is the record.
    template <typename Record>
    void getAccountRecord(const char* path, const QString& noTokenError,
                          std::function<void(bool, const Record&, const QString&)> completion);
    qint64 now() const;

    AppConfig* m_config = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    QUrl m_baseUrl;
    std::chrono::milliseconds m_requestTimeout = DefaultRequestTimeout;
    std::function<qint64()> m_clock;

    QString m_accessToken;
    QString m_refreshToken;
    model::User m_user;
    QString m_signedInName;
    qint64 m_tokenExpiry = 0;
    // Bumped by clearSession: a refresh sent before it must not revive the session.
    quint64 m_sessionGeneration = 0;
    QTimer m_refreshTimer;
    qint64 m_armedRefreshDelay = -1;
    std::vector<LoginCallback> m_refreshWaiters;
    std::vector<QPointer<QNetworkReply>> m_pending;
};

} // namespace velk::network
