#pragma once

#include <QString>

namespace velk::common {

// "1.0.0-beta.0": the version number followed by the beta suffix.
const QString& appVersionString();

} // namespace velk::common
