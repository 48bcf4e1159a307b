#include "common/Deployment.h"

#include <QDebug>
#include <QStringList>

namespace velk::deployment {

namespace {

QString setting(const char* envName, const char* builtIn) {
    const QByteArray env = qgetenv(envName);
    if (!env.trimmed().isEmpty()) {
        return QString::fromUtf8(env).trimmed();
    }
    return QString::fromUtf8(builtIn);
}

quint16 parsePort(const QString& text, quint16 fallback) {
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        qWarning() << "Invalid port in server address, using default" << fallback;
        return fallback;
    }
    return static_cast<quint16>(port);
}

} // namespace

FsdServer parseFsdServer(const QString& text) {
    FsdServer server;
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    server.host = parts.value(0).trimmed();
    if (parts.size() > 1) {
        server.port = parsePort(parts.at(1), 6809);
    }
    return server;
}

VoiceServer parseVoiceServer(const QString& text) {
    VoiceServer server;
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    server.host = parts.value(0).trimmed();
    if (parts.size() > 1) {
        server.tcpPort = parsePort(parts.at(1), 6808);
    }
    if (parts.size() > 2) {
        server.udpPort = parsePort(parts.at(2), 6807);
    }
    return server;
}

const QUrl& apiBaseUrl() {
    static const QUrl url = [] {
        QString text = setting("VELK_API_BASE_URL", VELK_API_BASE_URL_DEFAULT);
        while (text.endsWith(QLatin1Char('/'))) {
            text.chop(1);
        }
        return QUrl(text);
    }();
    return url;
}

const FsdServer& fsdServer() {
    static const FsdServer server = parseFsdServer(setting("VELK_FSD_SERVER", VELK_FSD_SERVER_DEFAULT));
    return server;
}

const VoiceServer& voiceServer() {
    static const VoiceServer server =
        parseVoiceServer(setting("VELK_VOICE_SERVER", VELK_VOICE_SERVER_DEFAULT));
    return server;
}

} // namespace velk::deployment
