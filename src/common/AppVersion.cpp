#include "common/AppVersion.h"

namespace velk::common {

namespace {
constexpr const char* kVersionNumber = "1.0.0";
constexpr int kBetaNumber = 0;
} // namespace

const QString& appVersionString() {
    static const QString version =
        QString::fromLatin1(kVersionNumber) + QStringLiteral("-beta.%1").arg(kBetaNumber);
    return version;
}

} // namespace velk::common
