#pragma once

// SQLite names shared by the aircraft-type store and its imports.
#include "common/RegularFile.h"

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

// SQLite opens a database and its journals itself, and would wait for good
// on a FIFO among them. Empty when each is a regular file or absent; else
// the file at fault, with what stands there in `reason`.
inline QString unusableDatabaseFile(const QString& path, QString* reason) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const QString file = path + QLatin1String(suffix);
        if (!common::isRegularOrMissing(file, reason)) {
            return file;
        }
    }
    return {};
}

} // namespace velk::network::icaosql
