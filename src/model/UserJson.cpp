#include "model/UserJson.h"

#include <cmath>
#include <limits>

namespace velk::model::json {

namespace {

// The value as a finite double, or NaN when it is neither a number nor numeric text.
double toNumber(const QJsonValue& value) {
    if (value.isDouble()) {
        return value.toDouble();
    }
    if (value.isString()) {
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        if (ok) {
            return d;
        }
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace

int toInt(const QJsonValue& value) {
    const double d = toNumber(value);
    if (!std::isfinite(d) || d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(d);
}

quint64 toSeconds(const QJsonValue& value) {
    const double d = toNumber(value);
    // 2^63 keeps the conversion defined; no real duration comes near it.
    if (!std::isfinite(d) || d <= 0 || d >= 9.2e18) {
        return 0;
    }
    return static_cast<quint64>(d);
}

QDateTime toDateTime(const QJsonValue& value) {
    if (value.isString()) {
        const QString text = value.toString().trimmed();
        QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!dt.isValid()) {
            dt = QDateTime::fromString(text, Qt::ISODate);
        }
        return dt;
    }
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::isfinite(d) && d > 0 && d < 253402300800.0) { // before year 10000
            return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(d), Qt::UTC);
        }
    }
    return {};
}

} // namespace velk::model::json
