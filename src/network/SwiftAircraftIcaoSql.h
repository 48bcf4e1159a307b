#pragma once

// SQLite names shared by the aircraft-type store and its imports.
#include <QString>

namespace velk::network::icaosql {

inline const QString kDriver = QStringLiteral("QSQLITE");
inline const QString kReadOnlyOption = QStringLiteral("QSQLITE_OPEN_READONLY");

} // namespace velk::network::icaosql
