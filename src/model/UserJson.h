#pragma once

#include <QDateTime>
#include <QJsonValue>

// Lenient readers for the account records: the web API sends numbers either as
// JSON numbers or as decimal text, and a value that does not fit gives 0.
namespace velk::model::json {

int toInt(const QJsonValue& value);
// Negative values give 0.
quint64 toSeconds(const QJsonValue& value);
// ISO 8601 text (with or without milliseconds and zone) or Unix seconds;
// invalid when absent or unreadable.
QDateTime toDateTime(const QJsonValue& value);

} // namespace velk::model::json
