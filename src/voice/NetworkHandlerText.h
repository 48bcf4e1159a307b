#pragma once

// Texts the voice transport's parts share.

#include "voice/SocketLayer.h"

#include <QString>

#include <string>

namespace velk::voice::detail {

inline QString utf8(const std::string& text) {
    return QString::fromStdString(text);
}

inline QString connectionLost(int error) {
    return QStringLiteral("Voice server connection lost: %1 (errno=%2)")
        .arg(utf8(sockets::errorText(error)))
        .arg(error);
}

} // namespace velk::voice::detail
