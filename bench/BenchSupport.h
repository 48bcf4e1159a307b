#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace velk::bench {

// Keeps the tables readable: warnings and worse still reach stderr, the
// program's info and debug lines do not.
inline void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtInfoMsg && type != QtDebugMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
}

} // namespace velk::bench
