#pragma once

#include <QString>

namespace velk::common {

// Renames a file that can no longer be used to a free name beside it,
// "<name>.<tag>-<UTC yyyyMMdd-HHmmss>[-n]", so that it is kept for a look by
// hand. Returns the new path, or an empty string when it could not be moved.
QString moveAside(const QString& path, const QString& tag);

} // namespace velk::common
