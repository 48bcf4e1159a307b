#pragma once

// SQLite names shared by the aircraft-type store and its imports.
#include <QString>

namespace velk::network::icaosql {

inline const QString kDriver = QStringLiteral("QSQLITE");
inline const QString kReadOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");
// Every use runs on the window's thread: a file another process holds locked
// must fail at once rather than after SQLite's default five-second wait.
inline const QString kBusyTimeoutOption = QStringLiteral("QSQLITE_BUSY_TIMEOUT=50");

inline QString connectOptions(bool readOnly) {
    return readOnly ? kReadOnlyOption + QLatin1Char(';') + kBusyTimeoutOption : kBusyTimeoutOption;
}

} // namespace velk::network::icaosql
