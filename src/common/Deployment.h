#pragma once

#include <QString>
#include <QUrl>

namespace velk::deployment {

struct FsdServer {
    QString host;
    quint16 port = 6809;
};

struct VoiceServer {
    QString host;
    quint16 tcpPort = 6808;
    quint16 udpPort = 6807;
};

// The network's servers: set at build time, overridable by the environment
// variables VELK_API_BASE_URL, VELK_FSD_SERVER and VELK_VOICE_SERVER. Each is
// read once, on first use.
const QUrl& apiBaseUrl();
const FsdServer& fsdServer();
const VoiceServer& voiceServer();

// Parsers behind the above, kept separate so that malformed overrides can be
// tested: a malformed port falls back to the default port.
FsdServer parseFsdServer(const QString& text);
VoiceServer parseVoiceServer(const QString& text);

} // namespace velk::deployment
