#include "network/ApiService.h"

#include "AppConfig.h"
#include "common/Deployment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace velk::network {

namespace {

constexpr const char* TimedOutProperty = "velkTimedOut";
constexpr const char* TooLargeProperty = "velkTooLarge";
// Far above any reply of the web API: a server that sends more is cut off
// before it fills memory, or the log with its message.
constexpr qint64 kMaxReplyBytes = 1 << 20;

std::optional<QJsonObject> parseObject(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    return doc.object();
}

int httpStatus(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QNetworkReply::NetworkError effectiveError(QNetworkReply* reply, bool timedOut) {
    if (reply->property(TooLargeProperty).toBool()) {
        return QNetworkReply::UnknownContentError;
    }
    return timedOut ? QNetworkReply::TimeoutError : reply->error();
}

QString loginNetworkError(QNetworkReply* reply, bool timedOut) {
    switch (effectiveError(reply, timedOut)) {
    case QNetworkReply::NoError:
        return QStringLiteral("登录失败：服务器返回了无效的响应");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("无法连接到服务器，请检查网络连接");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("无法找到服务器，请检查服务器地址");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("连接超时，请稍后重试");
    case QNetworkReply::UnknownContentError:
        return QStringLiteral("登录失败：服务器的回复过大");
    case QNetworkReply::ContentNotFoundError:
        return QStringLiteral("服务器接口不存在 (404)\n请求地址: %1").arg(reply->request().url().toString());
    default:
        return QStringLiteral("网络错误 (%1): %2").arg(httpStatus(reply)).arg(reply->errorString());
    }
}

// Statuses with which the web API refuses a token; others (a server error, a
// missing route) say nothing about the token itself.
bool refusesToken(int status) {
    return status == 400 || status == 401 || status == 403;
}

// Envelope codes of a failure on the server's side: no verdict on the request.
bool isServerErrorCode(const QString& code) {
    return code == QLatin1String("DATABASE_ERROR") || code == QLatin1String("INTERNAL_ERROR") ||
           code == QLatin1String("SERVER_ERROR");
}

// The text of an envelope that is not a success: the server's own message when it sent one.
QString envelopeErrorText(const QString& code, const QString& message) {
    if (!message.isEmpty()) {
        return message;
    }
    if (code == QLatin1String("WRONG_USERNAME_OR_PASSWORD")) {
        return QStringLiteral("用户名或密码错误");
    }
    if (code == QLatin1String("DATABASE_ERROR")) {
        return QStringLiteral("服务器数据库错误，请稍后重试");
    }
    return QStringLiteral("登录失败 (错误代码: %1)").arg(code);
}

QString refreshNetworkError(QNetworkReply* reply, bool timedOut) {
    switch (effectiveError(reply, timedOut)) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("无法连接到服务器");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("无法找到服务器");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("连接超时");
    case QNetworkReply::AuthenticationRequiredError:
        return QStringLiteral("令牌已过期，请重新登录");
    default:
        return QStringLiteral("网络错误: %1").arg(reply->errorString());
    }
}

// Error text of the data requests (FSD token, profile, history, leaderboard):
// the server's own message when it sent one, else the transport's.
QString dataRequestError(QNetworkReply* reply, bool timedOut, const std::optional<QJsonObject>& body) {
    if (body) {
        const QString message = body->value(QStringLiteral("message")).toString();
        if (!message.isEmpty()) {
            return message;
        }
    }
    if (timedOut) {
        return QStringLiteral("Network error: request timed out");
    }
    if (reply->error() != QNetworkReply::NoError) {
        return QStringLiteral("Network error: ") + reply->errorString();
    }
    return QStringLiteral("Unknown error");
}

// A token goes into a header line: control characters would split it.
QByteArray headerSafe(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.removeIf([](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    return bytes;
}

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    return QHostAddress(host).isLoopback();
}

} // namespace

ApiService::ApiService(AppConfig* config, QObject* parent)
    : QObject(parent), m_config(config ? config : AppConfig::instance()),
      m_network(new QNetworkAccessManager(this)), m_refreshTimer(this) {
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ApiService::onRefreshTimer);
    setBaseUrl(deployment::apiBaseUrl());
    m_accessToken = m_config->value(ConfigKeys::AuthToken);
    m_refreshToken = m_config->value(ConfigKeys::AuthRefreshToken);
    m_tokenExpiry = jwtExpiry(m_accessToken);
}

ApiService::~ApiService() {
    // Replies still in flight are dropped without their completions: their
    // callers are being torn down with us.
    for (const QPointer<QNetworkReply>& reply : m_pending) {
        if (reply) {
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
            delete reply.data();
        }
    }
}

ApiService* ApiService::instance() {
    static ApiService* service = [] {
        auto* created = new ApiService();
        if (auto* app = QCoreApplication::instance()) {
            if (created->thread() != app->thread()) {
                created->moveToThread(app->thread());
            }
            created->setParent(app);
        }
        return created;
    }();
    return service;
}

void ApiService::setBaseUrl(const QUrl& url) {
    QString text = url.toString();
    while (text.endsWith(QLatin1Char('/'))) {
        text.chop(1);
    }
    m_baseUrl = QUrl(text);
    if (m_baseUrl.scheme() == QLatin1String("http") && !isLoopback(m_baseUrl)) {
        qWarning() << "Web API base address is not https, traffic is not encrypted:" << m_baseUrl.toString();
    } else if (!m_baseUrl.isValid() || m_baseUrl.host().isEmpty()) {
        qWarning() << "Web API base address is not usable:" << text;
    }
}

void ApiService::setClock(std::function<qint64()> nowSeconds) {
    m_clock = std::move(nowSeconds);
}

qint64 ApiService::now() const {
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

qint64 ApiService::jwtExpiry(const QString& token) {
    const QStringList parts = token.split(QLatin1Char('.'));
    if (parts.size() != 3) {
        return 0;
    }
    QByteArray payload = parts.at(1).toLatin1();
    while (payload.size() % 4 != 0) {
        payload.append('=');
    }
    const auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::Base64UrlEncoding |
                                                                     QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return 0;
    }
    const auto claims = parseObject(*decoded);
    if (!claims) {
        return 0;
    }
    const QJsonValue exp = claims->value(QStringLiteral("exp"));
    const double seconds = exp.isString() ? exp.toString().toDouble() : exp.toDouble();
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > 1e12) {
        return 0;
    }
    return static_cast<qint64>(seconds);
}

QNetworkRequest ApiService::makeRequest(const QString& path, const QString& bearer,
                                        const QString& query) const {
    QUrl url(m_baseUrl.toString() + path);
    if (!query.isEmpty()) {
        url.setQuery(query);
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (!bearer.isEmpty()) {
        request.setRawHeader("Authorization", "Bearer " + headerSafe(bearer));
    }
    return request;
}

void ApiService::send(QNetworkReply* reply, ReplyHandler handler) {
    m_pending.emplace_back(reply);
    if (m_requestTimeout.count() > 0) {
        auto* timer = new QTimer(reply);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, reply, [reply] {
            reply->setProperty(TimedOutProperty, true);
            reply->abort();
        });
        timer->start(m_requestTimeout);
    }
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > kMaxReplyBytes || total > kMaxReplyBytes) {
            reply->setProperty(TooLargeProperty, true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler = std::move(handler)] {
        std::erase_if(m_pending, [reply](const QPointer<QNetworkReply>& p) { return !p || p == reply; });
        // A reply that came whole before its progress was seen is caught here.
        if (reply->bytesAvailable() > kMaxReplyBytes) {
            reply->setProperty(TooLargeProperty, true);
        }
        const bool tooLarge = reply->property(TooLargeProperty).toBool();
        // Its body is never read: the handlers take it as one that did not come.
        const bool timedOut = reply->property(TimedOutProperty).toBool() || tooLarge;
        if (timedOut || reply->error() != QNetworkReply::NoError) {
            const QString why = tooLarge
                                    ? QStringLiteral("the reply is larger than %1 bytes").arg(kMaxReplyBytes)
                                : timedOut ? QStringLiteral("timed out")
                                           : reply->errorString();
            qWarning().noquote() << "Web API request" << reply->request().url().toString(QUrl::RemoveQuery)
                                 << "failed:" << why;
        }
        reply->deleteLater();
        handler(reply, timedOut);
    });
}

void ApiService::onOwnThread(std::function<void()> task) {
    if (QThread::currentThread() == thread()) {
        task();
    } else {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    }
}

void ApiService::login(const QString& username, const QString& password, LoginCallback completion) {
    onOwnThread([this, username, password, completion = std::move(completion)]() mutable {
        const QJsonObject payload{{QStringLiteral("username"), username},
                                  {QStringLiteral("password"), password}};
        const QNetworkRequest request = makeRequest(QString::fromLatin1(SessionsPath));
        QNetworkReply* reply =
            m_network->post(request, QJsonDocument(payload).toJson(QJsonDocument::Compact));
        send(reply, [this, username, completion = std::move(completion)](QNetworkReply* r, bool timedOut) {
            const auto body = timedOut ? std::nullopt : parseObject(r->readAll());
            if (!body) {
                completion(false, loginNetworkError(r, timedOut));
                return;
            }
            const QString code = body->value(QStringLiteral("code")).toString();
            const QString message = body->value(QStringLiteral("message")).toString();
            const QJsonObject data = body->value(QStringLiteral("data")).toObject();
            if (code == QLatin1String("LOGIN_SUCCESS")) {
                // A success without a token would leave a session that cannot be used.
                if (data.value(QStringLiteral("token")).toString().isEmpty()) {
                    qWarning() << "Sign-in reply carries no access token";
                    completion(false, QStringLiteral("登录失败：服务器返回了无效的响应"));
                    return;
                }
                adoptSession(data, true);
                m_signedInName = username.trimmed();
                completion(true, message);
                return;
            }
            completion(false, envelopeErrorText(code, message));
        });
    });
}

void ApiService::refreshToken(const QString& refreshToken, LoginCallback completion, bool first) {
    this->refreshToken(
        refreshToken,
        RefreshCallback([completion = std::move(completion)](bool ok, const QString& message, bool) {
            completion(ok, message);
        }),
        first);
}

void ApiService::refreshToken(const QString& refreshToken, RefreshCallback completion, bool first) {
    onOwnThread([this, refreshToken, first, completion = std::move(completion)]() mutable {
        const QNetworkRequest request = makeRequest(QString::fromLatin1(SessionsPath), refreshToken,
                                                    first ? QStringLiteral("first=true") : QString());
        const quint64 generation = m_sessionGeneration;
        send(m_network->get(request), [this, refreshToken, generation,
                                       completion = std::move(completion)](QNetworkReply* r, bool timedOut) {
            const auto body = timedOut ? std::nullopt : parseObject(r->readAll());
            const QString code = body ? body->value(QStringLiteral("code")).toString() : QString();
            const QString message = body ? body->value(QStringLiteral("message")).toString() : QString();
            if (timedOut || r->error() != QNetworkReply::NoError) {
                const int status = httpStatus(r);
                // A server error's own envelope says more than the transport's text.
                const QString text = status >= 500 && !code.isEmpty() ? envelopeErrorText(code, message)
                                                                      : refreshNetworkError(r, timedOut);
                completion(false, text, !timedOut && refusesToken(status));
                return;
            }
            QJsonObject data = body ? body->value(QStringLiteral("data")).toObject() : QJsonObject();
            if (data.value(QStringLiteral("token")).toString().isEmpty()) {
                if (isServerErrorCode(code)) {
                    // The server failed on its side: the token may still be good.
                    completion(false, envelopeErrorText(code, message), false);
                    return;
                }
                // Any other answer of the web API without a token refuses it; anything
                // else (a proxy's page, say) says nothing about the token.
                completion(false, message.isEmpty() ? QStringLiteral("刷新令牌失败，请重新登录") : message,
                           body.has_value());
                return;
            }
            if (generation != m_sessionGeneration) {
                // The session was ended while this refresh was in flight.
                qInfo() << "Discarding a token refresh that completed after the session ended";
                completion(false, QStringLiteral("刷新令牌失败，请重新登录"), false);
                return;
            }
            if (data.value(QStringLiteral("flush_token")).toString().isEmpty()) {
                data.insert(QStringLiteral("flush_token"), refreshToken);
            }
            adoptSession(data, false);
            completion(true, message, false);
        });
    });
}

void ApiService::adoptSession(const QJsonObject& data, bool isLogin) {
    m_accessToken = data.value(QStringLiteral("token")).toString();
    m_refreshToken = data.value(QStringLiteral("flush_token")).toString();
    const QJsonValue user = data.value(QStringLiteral("user"));
    if (isLogin || user.isObject()) {
        m_user = model::User::fromJson(user.toObject());
    }
    m_tokenExpiry = jwtExpiry(m_accessToken);
    // Saved with the sign-in's own settings when they follow at once.
    m_config->writeSoon({configWrite(ConfigKeys::AuthToken, m_accessToken),
                         configWrite(ConfigKeys::AuthRefreshToken, m_refreshToken)});
    armRefreshTimer();
}

QString ApiService::signedInName() const {
    return m_signedInName.isEmpty() ? m_user.username.trimmed() : m_signedInName;
}

void ApiService::armRefreshTimer() {
    m_refreshTimer.stop();
    if (m_tokenExpiry <= 0 || m_refreshToken.isEmpty()) {
        return;
    }
    // QTimer takes an int of milliseconds: cap far-off expiries at 24 days.
    constexpr qint64 maxDelaySeconds = 24LL * 24 * 3600;
    const qint64 delay =
        std::clamp(m_tokenExpiry - RefreshLeadSeconds - now(), MinRefreshDelaySeconds, maxDelaySeconds);
    m_armedRefreshDelay = delay;
    m_refreshTimer.start(std::chrono::seconds(delay));
}

qint64 ApiService::armedRefreshDelay() const {
    return m_refreshTimer.isActive() ? m_armedRefreshDelay : -1;
}

void ApiService::onRefreshTimer() {
    if (m_refreshToken.isEmpty()) {
        return;
    }
    refreshSession([](bool ok, const QString& message) {
        if (ok) {
            qInfo() << "Access token refreshed";
        } else {
            qWarning().noquote() << "Automatic token refresh failed:" << message;
        }
    });
}

void ApiService::refreshSession(LoginCallback completion) {
    m_refreshWaiters.push_back(std::move(completion));
    if (m_refreshWaiters.size() > 1) {
        return; // joins the refresh already in flight
    }
    refreshToken(m_refreshToken, [this](bool ok, const QString& message) {
        const std::vector<LoginCallback> waiters = std::exchange(m_refreshWaiters, {});
        for (const LoginCallback& waiter : waiters) {
            waiter(ok, message);
        }
    });
}

void ApiService::clearSession() {
    onOwnThread([this] {
        m_accessToken.clear();
        m_refreshToken.clear();
        m_user = model::User();
        m_signedInName.clear();
        m_tokenExpiry = 0;
        m_refreshTimer.stop();
        ++m_sessionGeneration;
    });
}

void ApiService::getFSDToken(FsdTokenCallback completion) {
    onOwnThread([this, completion = std::move(completion)]() mutable {
        if (m_accessToken.isEmpty()) {
            completion(false, {}, QStringLiteral("No JWT token found, get FSD token fail"));
            return;
        }
        if (m_tokenExpiry > 0 && m_tokenExpiry - now() < FsdTokenMinValiditySeconds) {
            if (m_refreshToken.isEmpty()) {
                completion(false, {}, QStringLiteral("JWT token expired and refresh token is unavailable"));
                return;
            }
            refreshSession([this, completion = std::move(completion)](bool ok, const QString& message) {
                if (!ok) {
                    completion(false, {}, message);
                    return;
                }
                requestFsdToken(completion);
            });
            return;
        }
        requestFsdToken(std::move(completion));
    });
}

void ApiService::requestFsdToken(FsdTokenCallback completion) {
    const QNetworkRequest request = makeRequest(QString::fromLatin1(FsdTokenPath), m_accessToken);
    send(m_network->get(request), [completion = std::move(completion)](QNetworkReply* r, bool timedOut) {
        const auto body = timedOut ? std::nullopt : parseObject(r->readAll());
        if (body && body->value(QStringLiteral("code")).toString() == QLatin1String("GET_FSD_TOKEN")) {
            const QString token =
                body->value(QStringLiteral("data")).toObject().value(QStringLiteral("token")).toString();
            if (!token.isEmpty()) {
                completion(true, token, {});
                return;
            }
            completion(false, {}, QStringLiteral("FSD token missing in the reply"));
            return;
        }
        completion(false, {}, dataRequestError(r, timedOut, body));
    });
}

template <typename Record>
void ApiService::getAccountRecord(const char* path, const QString& noTokenError,
                                  std::function<void(bool, const Record&, const QString&)> completion) {
    onOwnThread([this, path, noTokenError, completion = std::move(completion)]() mutable {
        if (m_accessToken.isEmpty()) {
            completion(false, {}, noTokenError);
            return;
        }
        const QNetworkRequest request = makeRequest(QString::fromLatin1(path), m_accessToken);
        send(m_network->get(request), [completion = std::move(completion)](QNetworkReply* r, bool timedOut) {
            const auto body = timedOut ? std::nullopt : parseObject(r->readAll());
            const QJsonValue data = body ? body->value(QStringLiteral("data")) : QJsonValue();
            if (r->error() == QNetworkReply::NoError && data.isObject()) {
                completion(true, Record::fromJson(data.toObject()), {});
                return;
            }
            completion(false, {}, dataRequestError(r, timedOut, body));
        });
    });
}

void ApiService::getUserProfile(int /*cid*/, ProfileCallback completion) {
    getAccountRecord<model::UserProfile>(
        ProfilePath, QStringLiteral("No JWT token found, get user profile fail"), std::move(completion));
}

void ApiService::getUserHistory(HistoryCallback completion) {
    getAccountRecord<model::UserHistory>(
        HistoryPath, QStringLiteral("No JWT token found, get user history fail"), std::move(completion));
}

void ApiService::getLeaderboard(LeaderboardCallback completion) {
    onOwnThread([this, completion = std::move(completion)]() mutable {
        if (m_accessToken.isEmpty()) {
            completion(false, {}, QStringLiteral("No JWT token found, get leaderboard fail"));
            return;
        }
        const QNetworkRequest request = makeRequest(QString::fromLatin1(LeaderboardPath), m_accessToken);
        send(m_network->get(request), [completion = std::move(completion)](QNetworkReply* r, bool timedOut) {
            const auto body = timedOut ? std::nullopt : parseObject(r->readAll());
            if (body && body->value(QStringLiteral("code")).toString() == QLatin1String("GET_TIME_RATING")) {
                completion(true, body->value(QStringLiteral("data")).toObject(), {});
                return;
            }
            completion(false, {}, dataRequestError(r, timedOut, body));
        });
    });
}

} // namespace velk::network
